// Little-endian encoding and a bounded read cursor shared by every format layer.
// Formats are decoded field by field from a ByteReader, never by casting a struct
// onto a buffer: every read is checked against the end of the data first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvane::core {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Raised when a read would pass the end of its data. Format layers catch it at
// their boundary and rethrow it in their own vocabulary with the structure named.
class TruncatedError : public std::runtime_error {
 public:
  TruncatedError(std::string what, std::size_t offset, std::size_t wanted, std::size_t available)
      : std::runtime_error(what + ": needs " + std::to_string(wanted) + " bytes at offset " +
                           std::to_string(offset) + ", only " + std::to_string(available) +
                           " available"),
        offset_(offset), wanted_(wanted), available_(available) {}
  std::size_t offset() const { return offset_; }
  std::size_t wanted() const { return wanted_; }
  std::size_t available() const { return available_; }

 private:
  std::size_t offset_, wanted_, available_;
};

inline std::uint16_t loadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t loadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(loadU32(p)) | (static_cast<std::uint64_t>(loadU32(p + 4)) << 32);
}

inline void storeU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void storeU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Appends little-endian values to a growing buffer.
class ByteWriter {
 public:
  explicit ByteWriter(Bytes& out) : out_(out) {}
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) { grow(2, [&](std::uint8_t* p) { storeU16(p, v); }); }
  void u32(std::uint32_t v) { grow(4, [&](std::uint8_t* p) { storeU32(p, v); }); }
  void u64(std::uint64_t v) { grow(8, [&](std::uint8_t* p) { storeU64(p, v); }); }
  void bytes(ByteView b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  std::size_t size() const { return out_.size(); }

 private:
  template <class F>
  void grow(std::size_t n, F&& f) {
    out_.resize(out_.size() + n);
    f(out_.data() + out_.size() - n);
  }
  Bytes& out_;
};

// A bounded cursor over bytes it does not own. `what` names the structure being
// read so that a truncation error says where it happened.
class ByteReader {
 public:
  // A literal name is kept as a pointer and only copied into an error.
  ByteReader(ByteView data, const char* what = "data") : data_(data), literal_(what) {}
  ByteReader(ByteView data, std::string what) : data_(data), what_(std::move(what)) {}

  std::size_t offset() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool atEnd() const { return pos_ == data_.size(); }

  void seek(std::size_t offset) {
    if (offset > data_.size()) throw TruncatedError(what(), offset, 0, data_.size());
    pos_ = offset;
  }
  void skip(std::size_t n) { need(n); pos_ += n; }

  std::uint8_t u8() { need(1); return data_[pos_++]; }
  std::uint16_t u16() { need(2); auto v = loadU16(data_.data() + pos_); pos_ += 2; return v; }
  std::uint32_t u32() { need(4); auto v = loadU32(data_.data() + pos_); pos_ += 4; return v; }
  std::uint64_t u64() { need(8); auto v = loadU64(data_.data() + pos_); pos_ += 8; return v; }
  std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::int64_t i64() { return static_cast<std::int64_t>(u64()); }

  // A view of the next n bytes; it stays valid as long as the underlying data.
  ByteView view(std::size_t n) { need(n); auto v = data_.subspan(pos_, n); pos_ += n; return v; }
  Bytes copy(std::size_t n) { auto v = view(n); return Bytes(v.begin(), v.end()); }

 private:
  void need(std::size_t n) const {
    if (n > data_.size() - pos_) throw TruncatedError(what(), pos_, n, data_.size() - pos_);
  }
  std::string what() const { return literal_ ? std::string(literal_) : what_; }
  ByteView data_;
  std::size_t pos_ = 0;
  const char* literal_ = nullptr;
  std::string what_;
};

}  // namespace parvane::core
