// The store's name-to-id map: every named property (a property set GUID with
// a number or a name) gets one store-wide property id, 0x8000 + its index.
// A message's own ids are local to its file and are translated through here.
// Serialised as the map node's properties: the bucket count, the GUID, entry
// and string streams and the hash buckets.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/messaging/property_value.h"

namespace parvane::messaging {

using GuidBytes = std::array<std::uint8_t, 16>;

struct PropertyName {
  GuidBytes guid{};
  bool isString = false;
  std::uint32_t number = 0;  // when !isString
  std::u16string name;       // when isString
  auto operator<=>(const PropertyName&) const = default;
};

class NamedPropertyMap {
 public:
  static constexpr std::uint32_t kBucketCount = 251;

  // A map pre-filled with the entries a new Outlook store has.
  static NamedPropertyMap outlookDefault();

  // The store's property id for `name`, registering it when new. Throws
  // StoreError when the map is full (ids run out at 0xFFFE).
  std::uint16_t idFor(const PropertyName& name);
  std::size_t size() const { return entries_.size(); }
  const PropertyName& entry(std::size_t index) const { return entries_[index]; }

  // The properties of the map node.
  PropertyList toProperties() const;

 private:
  struct Entry {
    std::uint32_t idOrOffset;
    std::uint16_t wGuid;  // GUID index << 1 | string kind
    std::uint16_t index;
    std::uint32_t hash;
  };
  std::uint16_t guidIndex(const GuidBytes& guid);

  std::vector<PropertyName> entries_;
  std::map<PropertyName, std::uint16_t> byName_;
  std::vector<GuidBytes> guids_;  // GUID stream: index 3 and up
  std::vector<Entry> encoded_;
  core::Bytes strings_;
};

// CRC-32 as the store format uses it (no seed, no final inversion).
std::uint32_t storeCrc(core::ByteView data);

}  // namespace parvane::messaging
