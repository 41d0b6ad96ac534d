// Free-space bookkeeping of a store file: one allocation map (AMap) per span of
// 253,952 bytes, one bit per 64 bytes, as it is written to the AMap pages.
// A span's bits stay in memory only while they differ from its AMap page or
// are in use: trim() drops the bits of clean spans, which are read back from
// their page (through the loader) when they are needed again, so a store of
// any size keeps about 16 bytes per span plus the few spans in use. Not part
// of the public interface.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/ndb/format.h"

namespace parvane::ndb {

// The units of a span's map that blocks and pages are sure to find, however
// they come: every run of free units but the last 127 units of each. A run of
// r units takes blocks of up to 128 units (8,192 bytes, the largest block)
// until fewer than 128 are left, and the allocator puts a block at the start
// of the first run that takes it, so each block lowers this count by at most
// its own size (a page, 512-byte aligned, by at most 15 units), and a request
// fails only once it is 0.
std::uint32_t blockRoomOf(const std::array<std::uint8_t, kPageDataSize>& bits);

class SpaceMap {
 public:
  using Bits = std::array<std::uint8_t, kPageDataSize>;
  // Reads the map bytes of AMap k back from its page.
  using Loader = std::function<void(std::size_t k, Bits& out)>;

  void setLoader(Loader loader) { loader_ = std::move(loader); }
  std::size_t spanCount() const { return spans_.size(); }
  // Adds the next span with its map pages (AMap, and PMap/FMap/FPMap where due) allocated.
  void addSpan();
  // Finds and marks `bytes` (a multiple of 64, at most one span) of free space;
  // pages ask for 512-byte alignment. nullopt when no span has room.
  std::optional<std::uint64_t> allocate(std::size_t bytes, bool pageAligned);
  void free(std::uint64_t ib, std::size_t bytes);
  bool isAllocated(std::uint64_t ib);
  std::uint64_t freeBytes() const { return freeUnits_ * kAllocUnit; }
  // Bytes of blocks and pages that are sure to find room in the spans as they
  // are now, whatever their sizes and order (see blockRoomOf()).
  std::uint64_t blockRoom();
  // The 496 map bytes of AMap `k`; `dirty` tells whether they changed since clean(k).
  const Bits& bits(std::size_t k) { return load(spans_[k], k); }
  bool dirty(std::size_t k) const { return spans_[k].dirty; }
  void clean(std::size_t k) { spans_[k].dirty = false; }
  bool anyDirty() const {
    for (const auto& s : spans_)
      if (s.dirty) return true;
    return false;
  }
  // Free bytes of the spans from `first` on.
  std::uint64_t freeBytesFrom(std::size_t first) const;
  // Drops the bits of spans that match their AMap page, but the one the next
  // allocation looks at first.
  void trim();
  std::size_t loadedCount() const { return loaded_; }

 private:
  struct Span {
    std::unique_ptr<Bits> bits;  // null: only on the AMap page
    std::uint32_t freeUnits = 0;
    std::uint32_t hint = 0;         // no free unit below this one
    std::uint32_t failedSize = ~0u;  // a run this long was not found since the last free
    std::uint32_t roomUnits = 0;     // blockRoomOf() its bits, when roomKnown
    bool roomKnown = false;
    bool dirty = true;
  };
  const Bits& load(Span& s, std::size_t k);
  static bool test(const Span& s, std::size_t u) { return ((*s.bits)[u >> 3] >> (7 - (u & 7))) & 1; }
  static void mark(Span& s, std::size_t u, std::size_t n, bool on);
  // True when units [u, u + n) are all free.
  static bool allFree(const Span& s, std::size_t u, std::size_t n);
  std::optional<std::size_t> find(const Span& s, std::size_t n, bool pageAligned) const;

  std::vector<Span> spans_;
  std::uint64_t freeUnits_ = 0;
  std::size_t cursor_ = 0;
  std::size_t loaded_ = 0;  // spans whose bits are in memory
  Loader loader_;
};

}  // namespace parvane::ndb
