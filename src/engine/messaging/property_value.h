// A property value on its way into the store: the tag it is stored under and
// its bytes as a property context or a table keeps them (fixed types
// little-endian at their size, a boolean as one byte, strings UTF-16LE without
// a terminator, multi-valued variable types as count, offsets and data).
// Values too big to hold in memory come as a byte source read in chunks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/source.h"
#include "engine/msg/message.h"

namespace parvane::messaging {

namespace ptype {
// The property types are the reader's: one vocabulary from file to store.
using namespace msg::ptype;  // NOLINT(google-build-using-namespace)
// Bytes of one value of a fixed-size type as a store keeps it; 0 for variable types.
std::size_t storedSize(std::uint16_t type);
}  // namespace ptype

constexpr std::uint32_t makeTag(std::uint16_t id, std::uint16_t type) {
  return (std::uint32_t{id} << 16) | type;
}
constexpr std::uint16_t tagId(std::uint32_t tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t tagType(std::uint32_t tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

struct PropertyValue {
  std::uint32_t tag = 0;
  core::Bytes bytes;
  std::shared_ptr<const core::ByteSource> source;  // set instead of bytes for big values

  std::uint16_t id() const { return tagId(tag); }
  std::uint16_t type() const { return tagType(tag); }
  std::uint64_t size() const { return source ? source->size() : bytes.size(); }

  static PropertyValue int32(std::uint16_t id, std::uint32_t v);
  static PropertyValue boolean(std::uint16_t id, bool v);
  static PropertyValue time(std::uint16_t id, std::uint64_t fileTime);
  static PropertyValue unicode(std::uint16_t id, std::u16string_view text);
  static PropertyValue binary(std::uint16_t id, core::Bytes bytes);
};

// The properties of one object, at most one per property id.
class PropertyList {
 public:
  // Adds or replaces the value of the tag's property id.
  void set(PropertyValue value);
  bool remove(std::uint16_t id);
  const PropertyValue* find(std::uint16_t id) const;
  std::optional<std::uint32_t> int32(std::uint16_t id) const;
  std::u16string text(std::uint16_t id) const;  // a Unicode value, or empty
  const std::vector<PropertyValue>& all() const { return values_; }
  std::size_t size() const { return values_.size(); }
  void reserve(std::size_t n) { values_.reserve(n); }
  // Sorted by property id, as a property context stores them.
  void sort();

 private:
  std::vector<PropertyValue> values_;
};

// The sum of the value sizes: fixed types by their size, variable ones by
// their bytes, objects by the size their value records (the NID, then the size).
std::uint64_t propertySizeSum(const PropertyList& list);

// The current time as a FILETIME (100 ns since 1601).
std::uint64_t fileTimeNow();

}  // namespace parvane::messaging
