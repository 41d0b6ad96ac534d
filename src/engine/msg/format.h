// On-disk structures of Outlook message files, with the format's field names.
// Values are decoded field by field from a core::ByteReader (format.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/core/coding.h"

namespace parvane::msg::format {

inline constexpr char kPropertiesStream[] = "__properties_version1.0";
inline constexpr char kNameIdStorage[] = "__nameid_version1.0";
inline constexpr char kRecipientPrefix[] = "__recip_version1.0_#";
inline constexpr char kAttachmentPrefix[] = "__attach_version1.0_#";
inline constexpr char kSubstgPrefix[] = "__substg1.0_";
inline constexpr char kGuidStream[] = "__substg1.0_00020102";
inline constexpr char kEntryStream[] = "__substg1.0_00030102";
inline constexpr char kStringStream[] = "__substg1.0_00040102";

// Header of the property stream of the top-level message.
struct TopLevelPropertyHeader {
  std::uint8_t reserved[8];
  std::uint32_t nextRecipientId;
  std::uint32_t nextAttachmentId;
  std::uint32_t recipientCount;
  std::uint32_t attachmentCount;
  std::uint8_t reserved2[8];
};
static_assert(sizeof(TopLevelPropertyHeader) == 32);

// Header of the property stream of an embedded message.
struct EmbeddedPropertyHeader {
  std::uint8_t reserved[8];
  std::uint32_t nextRecipientId;
  std::uint32_t nextAttachmentId;
  std::uint32_t recipientCount;
  std::uint32_t attachmentCount;
};
static_assert(sizeof(EmbeddedPropertyHeader) == 24);

// Header of the property stream of a recipient or attachment object.
struct ObjectPropertyHeader {
  std::uint8_t reserved[8];
};
static_assert(sizeof(ObjectPropertyHeader) == 8);

// One entry of a property stream. For fixed-size values `value` holds the
// value; for values kept in streams its low four bytes hold the size.
struct PropertyEntry {
  std::uint32_t propertyTag;
  std::uint32_t flags;
  std::uint64_t value;
};
static_assert(sizeof(PropertyEntry) == 16);

// One entry of the named-property entry stream.
struct NameIdEntry {
  std::uint32_t nameIdentifierOrStringOffset;
  std::uint16_t indexAndKind;   // bit 0: string name; bits 1..15: GUID index
  std::uint16_t propertyIndex;  // property id = 0x8000 + propertyIndex
};
static_assert(sizeof(NameIdEntry) == 8);

enum class HeaderKind { TopLevel, Embedded, Object };
std::size_t headerSize(HeaderKind kind);

PropertyEntry decodePropertyEntry(core::ByteReader& in);
NameIdEntry decodeNameIdEntry(core::ByteReader& in);
// Fills the counters of a top-level or embedded header.
EmbeddedPropertyHeader decodeMessageHeader(core::ByteReader& in);

// "__substg1.0_XXXXXXXX" for a tag, and the item stream of a multi-valued one.
std::string substgName(std::uint32_t tag);
// The same name spelled into a caller's buffer, for lookups that keep no copy.
using SubstgNameBuffer = std::array<char, 20>;
std::string_view substgName(std::uint32_t tag, SubstgNameBuffer& buffer);
std::string substgItemName(std::uint32_t tag, std::uint32_t index);

}  // namespace parvane::msg::format
