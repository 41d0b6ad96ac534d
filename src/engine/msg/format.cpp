#include "engine/msg/format.h"

#include <string>

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

namespace {

// Eight upper-case hex digits, as stream names spell them.
void appendHex8(std::string& out, std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(v >> shift) & 0xF]);
}

}  // namespace

std::string substgName(std::uint32_t tag) {
  std::string name;
  name.reserve(20);
  name = kSubstgPrefix;
  appendHex8(name, tag);
  return name;
}

std::string substgItemName(std::uint32_t tag, std::uint32_t index) {
  std::string name = substgName(tag);
  name.push_back('-');
  appendHex8(name, index);
  return name;
}

}  // namespace parvane::msg::format
