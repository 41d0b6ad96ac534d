// A property value on its way into the store: the tag it is stored under and
// its bytes as a property context or a table keeps them (fixed types
// little-endian at their size, a boolean as one byte, strings UTF-16LE without
// a terminator, multi-valued variable types as count, offsets and data).
// Values too big to hold in memory come as a byte source read in chunks.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/source.h"
#include "engine/core/property_types.h"

namespace parvane::messaging {

namespace ptype {
// One vocabulary of property types from file to store.
using namespace core::ptype;  // NOLINT(google-build-using-namespace)
// Bytes of one value of a fixed-size type as a store keeps it; 0 for variable types.
std::size_t storedSize(std::uint16_t type);
}  // namespace ptype

constexpr std::uint32_t makeTag(std::uint16_t id, std::uint16_t type) {
  return (std::uint32_t{id} << 16) | type;
}
constexpr std::uint16_t tagId(std::uint32_t tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t tagType(std::uint32_t tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// The bytes of one value. A message carries tens of small fixed-size values
// (4-byte integers, 8-byte times, 16-byte keys), so values of up to
// kInline bytes live in the object itself; longer ones live in a vector, taken
// over without a copy when one is given.
class ValueBytes {
 public:
  static constexpr std::size_t kInline = sizeof(core::Bytes);
  using value_type = std::uint8_t;
  using iterator = std::uint8_t*;
  using const_iterator = const std::uint8_t*;

  ValueBytes() noexcept : small_{} {}
  ValueBytes(core::Bytes bytes);  // NOLINT(google-explicit-constructor): a value is given as bytes
  explicit ValueBytes(core::ByteView bytes) : small_{} { assign(bytes); }
  // `size` zero bytes.
  explicit ValueBytes(std::size_t size) : small_{} { resize(size); }
  ValueBytes(const ValueBytes& o) : small_{} { assign(o); }
  ValueBytes(ValueBytes&& o) noexcept;
  ValueBytes& operator=(const ValueBytes& o);
  ValueBytes& operator=(ValueBytes&& o) noexcept;
  ~ValueBytes() { reset(); }

  std::size_t size() const { return large_ ? big_.size() : size_; }
  bool empty() const { return size() == 0; }
  std::uint8_t* data() { return large_ ? big_.data() : small_; }
  const std::uint8_t* data() const { return large_ ? big_.data() : small_; }
  std::uint8_t* begin() { return data(); }
  std::uint8_t* end() { return data() + size(); }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size(); }
  std::uint8_t& operator[](std::size_t i) { return data()[i]; }
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }

  // New bytes are zero.
  void resize(std::size_t size);
  // Room for `size` bytes, so that growing to them takes no allocation.
  void reserve(std::size_t size);
  // `bytes` are not this value's own.
  void assign(core::ByteView bytes);
  void append(core::ByteView bytes);
  operator core::Bytes() const { return core::Bytes(begin(), end()); }  // NOLINT(google-explicit-constructor)

  friend bool operator==(const ValueBytes& a, const ValueBytes& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
  }
  friend bool operator==(const ValueBytes& a, const core::Bytes& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
  }

 private:
  void reset() noexcept;
  union {
    std::uint8_t small_[kInline];
    core::Bytes big_;
  };
  std::uint8_t size_ = 0;  // of small_
  bool large_ = false;     // big_ holds the bytes
};

// Values move often (a list is sorted, a value replaced): inline.
inline ValueBytes::ValueBytes(ValueBytes&& o) noexcept : small_{} {
  if (o.large_) {
    new (&big_) core::Bytes(std::move(o.big_));
    large_ = true;
    o.reset();
  } else {
    // the whole inline buffer, a fixed size: a few moves, no call
    std::memcpy(small_, o.small_, kInline);
    size_ = o.size_;
  }
}

inline ValueBytes& ValueBytes::operator=(const ValueBytes& o) {
  if (this != &o) assign(o);
  return *this;
}

inline ValueBytes& ValueBytes::operator=(ValueBytes&& o) noexcept {
  if (this == &o) return *this;
  if (o.large_) {
    if (large_) {
      big_ = std::move(o.big_);
    } else {
      new (&big_) core::Bytes(std::move(o.big_));
      large_ = true;
    }
    o.reset();
  } else if (!large_) {
    std::memcpy(small_, o.small_, kInline);
    size_ = o.size_;
  } else {
    // a buffer of our own stays for the next value
    assign(core::ByteView(o.small_, o.size_));
  }
  return *this;
}

inline void ValueBytes::reset() noexcept {
  if (large_) {
    big_.~vector();
    large_ = false;
  }
  size_ = 0;
}

struct PropertyValue {
  std::uint32_t tag = 0;
  ValueBytes bytes;
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
  // Adds the value unless its property id has one; false if it had.
  bool add(PropertyValue&& value);
  bool remove(std::uint16_t id);
  const PropertyValue* find(std::uint16_t id) const;
  // For changing a value's bytes in place; its tag stays as it is.
  PropertyValue* find(std::uint16_t id);
  std::optional<std::uint32_t> int32(std::uint16_t id) const;
  std::u16string text(std::uint16_t id) const;  // a Unicode value, or empty
  const std::vector<PropertyValue>& all() const { return values_; }
  std::size_t size() const { return values_.size(); }
  void reserve(std::size_t n) { values_.reserve(n); }
  // Sorted by property id, as a property context stores them.
  void sort();
  // Gives each named property (id 0x8000 and up) the id ids[id - 0x8000];
  // `ids` must give distinct ids.
  void renumberNamed(std::span<const std::uint16_t> ids);
  // True when all() is in property id order.
  bool sorted() const { return sorted_; }

 private:
  std::vector<PropertyValue> values_;
  // values_ in id order: looked up by a search, and a value of a higher id
  // than the last one appended without a look-up
  bool sorted_ = true;
};

// The sum of the value sizes: fixed types by their size, variable ones by
// their bytes, objects by the size their value records (the NID, then the size).
std::uint64_t propertySizeSum(const PropertyList& list);

// The current time as a FILETIME (100 ns since 1601).
std::uint64_t fileTimeNow();

}  // namespace parvane::messaging
