#include "engine/msg/format.h"

#include <cstdio>

namespace parvane::msg::format {

std::size_t headerSize(HeaderKind kind) {
  switch (kind) {
    case HeaderKind::TopLevel: return sizeof(TopLevelPropertyHeader);
    case HeaderKind::Embedded: return sizeof(EmbeddedPropertyHeader);
    case HeaderKind::Object: return sizeof(ObjectPropertyHeader);
  }
  return 0;
}

PropertyEntry decodePropertyEntry(core::ByteReader& in) {
  PropertyEntry e{};
  e.propertyTag = in.u32();
  e.flags = in.u32();
  e.value = in.u64();
  return e;
}

NameIdEntry decodeNameIdEntry(core::ByteReader& in) {
  NameIdEntry e{};
  e.nameIdentifierOrStringOffset = in.u32();
  e.indexAndKind = in.u16();
  e.propertyIndex = in.u16();
  return e;
}

EmbeddedPropertyHeader decodeMessageHeader(core::ByteReader& in) {
  EmbeddedPropertyHeader h{};
  for (auto& b : h.reserved) b = in.u8();
  h.nextRecipientId = in.u32();
  h.nextAttachmentId = in.u32();
  h.recipientCount = in.u32();
  h.attachmentCount = in.u32();
  return h;
}

std::string substgName(std::uint32_t tag) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "__substg1.0_%08X", tag);
  return buf;
}

std::string substgItemName(std::uint32_t tag, std::uint32_t index) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "__substg1.0_%08X-%08X", tag, index);
  return buf;
}

}  // namespace parvane::msg::format
