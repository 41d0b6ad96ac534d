#include "engine/msg/format.h"

#include <algorithm>
#include <span>
#include <string>

#include "engine/core/text.h"

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
  SubstgNameBuffer buffer;
  return std::string(substgName(tag, buffer));
}

std::string_view substgName(std::uint32_t tag, SubstgNameBuffer& buffer) {
  const std::string_view prefix = kSubstgPrefix;
  static_assert(std::tuple_size_v<SubstgNameBuffer> == 20);
  std::copy(prefix.begin(), prefix.end(), buffer.begin());
  core::writeHexDigits(std::span<char>(buffer.data() + 12, 8), tag);
  return std::string_view(buffer.data(), buffer.size());
}

std::string substgItemName(std::uint32_t tag, std::uint32_t index) {
  std::string name = substgName(tag);
  name.push_back('-');
  core::appendHexDigits(name, index, 8);
  return name;
}

}  // namespace parvane::msg::format
