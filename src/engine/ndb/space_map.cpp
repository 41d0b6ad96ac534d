#include "engine/ndb/space_map.h"

#include <algorithm>
#include <cstring>

#include "engine/ndb/errors.h"

namespace parvane::ndb {

namespace {

// Up to 64 units of the map at a time: the 8 bytes from `at` as one word,
// the first unit its highest bit (the map's own bit order); bytes past the
// map read as 0 and are not written back.
std::uint64_t loadUnits(const std::array<std::uint8_t, kPageDataSize>& bits, std::size_t at) {
  std::uint8_t b[8] = {};
  if (at + 8 <= bits.size()) std::memcpy(b, bits.data() + at, 8);
  else std::memcpy(b, bits.data() + at, bits.size() - at);
  std::uint64_t w;
  std::memcpy(&w, b, 8);
  return __builtin_bswap64(w);
}

void storeUnits(std::array<std::uint8_t, kPageDataSize>& bits, std::size_t at, std::uint64_t units) {
  std::uint8_t b[8];
  const std::uint64_t w = __builtin_bswap64(units);
  std::memcpy(b, &w, 8);
  if (at + 8 <= bits.size()) std::memcpy(bits.data() + at, b, 8);
  else std::memcpy(bits.data() + at, b, bits.size() - at);
}

// The bits of `m` units from unit `lo` of a word (lo + m <= 64).
std::uint64_t runMask(std::size_t lo, std::size_t m) {
  const std::uint64_t ones = m == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
  return ones << (64 - lo - m);
}

}  // namespace

void SpaceMap::mark(Span& s, std::size_t u, std::size_t n, bool on) {
  while (n) {
    const std::size_t at = u >> 3, lo = u & 7, m = std::min<std::size_t>(n, 64 - lo);
    const std::uint64_t mask = runMask(lo, m), w = loadUnits(*s.bits, at);
    storeUnits(*s.bits, at, on ? w | mask : w & ~mask);
    u += m;
    n -= m;
  }
  s.dirty = true;
  s.roomKnown = false;
}

bool SpaceMap::allFree(const Span& s, std::size_t u, std::size_t n) {
  while (n) {
    const std::size_t at = u >> 3, lo = u & 7, m = std::min<std::size_t>(n, 64 - lo);
    if (loadUnits(*s.bits, at) & runMask(lo, m)) return false;
    u += m;
    n -= m;
  }
  return true;
}

void SpaceMap::addSpan() {
  std::size_t k = spans_.size();
  Span s;
  s.bits = std::make_unique<Bits>();
  ++loaded_;
  std::size_t reserved = 1 + mapPagesAfterAMap(k).size();
  std::size_t units = reserved * (kPageSize / kAllocUnit);
  mark(s, 0, units, true);
  s.freeUnits = static_cast<std::uint32_t>(kUnitsPerAMap - units);
  s.hint = static_cast<std::uint32_t>(units);
  freeUnits_ += s.freeUnits;
  spans_.push_back(std::move(s));
}

const SpaceMap::Bits& SpaceMap::load(Span& s, std::size_t k) {
  if (!s.bits) {
    auto bits = std::make_unique<Bits>();
    loader_(k, *bits);
    s.bits = std::move(bits);
    ++loaded_;
  }
  return *s.bits;
}

void SpaceMap::trim() {
  for (std::size_t k = 0; k < spans_.size(); ++k) {
    Span& s = spans_[k];
    if (s.bits && !s.dirty && k != cursor_ && k + 1 != spans_.size()) {
      if (!s.roomKnown) s.roomUnits = blockRoomOf(*s.bits);
      s.roomKnown = true;
      s.bits.reset();
      --loaded_;
    }
  }
}

std::optional<std::size_t> SpaceMap::find(const Span& s, std::size_t n, bool pageAligned) const {
  std::size_t u = s.hint;
  // the common case: blocks are appended, so the units from the hint on are free
  if (!pageAligned && u + n <= kUnitsPerAMap && allFree(s, u, n)) return u;
  if (pageAligned) {
    for (u = (u + 7) & ~std::size_t{7}; u + n <= kUnitsPerAMap; u += 8)
      if ((*s.bits)[u >> 3] == 0) return u;
    return std::nullopt;
  }
  while (u + n <= kUnitsPerAMap) {
    if ((u & 7) == 0 && (*s.bits)[u >> 3] == 0xFF) {
      u += 8;
      continue;
    }
    if (test(s, u)) {
      ++u;
      continue;
    }
    std::size_t run = 1;
    while (run < n) {
      const std::size_t b = u + run;
      if ((b & 7) == 0 && run + 8 <= n && (*s.bits)[b >> 3] == 0) {
        run += 8;  // a whole free byte
        continue;
      }
      if (test(s, b)) break;
      ++run;
    }
    if (run == n) return u;
    u += run;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> SpaceMap::allocate(std::size_t bytes, bool pageAligned) {
  std::size_t n = bytes / kAllocUnit;
  if (n == 0 || bytes % kAllocUnit || n > kUnitsPerAMap)
    throw NdbError::field("allocation", "size", "a multiple of 64 within one AMap span", std::to_string(bytes));
  std::size_t count = spans_.size();
  for (std::size_t step = 0; step < count; ++step) {
    std::size_t k = (cursor_ + step) % count;
    Span& s = spans_[k];
    if (s.freeUnits < n || n >= s.failedSize) continue;
    load(s, k);
    auto u = find(s, n, pageAligned);
    if (!u) {
      s.failedSize = static_cast<std::uint32_t>(n);
      continue;
    }
    mark(s, *u, n, true);
    if (*u <= s.hint) s.hint = static_cast<std::uint32_t>(*u + n);
    s.freeUnits -= static_cast<std::uint32_t>(n);
    freeUnits_ -= n;
    cursor_ = k;
    return amapOffset(k) + *u * kAllocUnit;
  }
  return std::nullopt;
}

void SpaceMap::free(std::uint64_t ib, std::size_t bytes) {
  std::size_t k = static_cast<std::size_t>((ib - kFirstAMapOffset) / kAMapSpan);
  std::size_t u = static_cast<std::size_t>((ib - amapOffset(k)) / kAllocUnit);
  std::size_t n = bytes / kAllocUnit;
  if (ib < kFirstAMapOffset || k >= spans_.size() || u + n > kUnitsPerAMap)
    throw NdbError::field("free space", "ib", "inside the file's AMap spans", hex(ib));
  Span& s = spans_[k];
  load(s, k);
  for (std::size_t i = u; i < u + n; ++i)
    if (!test(s, i)) throw NdbError::field("AMap " + std::to_string(k), "bit", "allocated", "free at " + hex(ib));
  mark(s, u, n, false);
  s.freeUnits += static_cast<std::uint32_t>(n);
  freeUnits_ += n;
  if (u < s.hint) s.hint = static_cast<std::uint32_t>(u);
  s.failedSize = ~0u;
  if (k < cursor_) cursor_ = k;
}

bool SpaceMap::isAllocated(std::uint64_t ib) {
  std::size_t k = static_cast<std::size_t>((ib - kFirstAMapOffset) / kAMapSpan);
  if (ib < kFirstAMapOffset || k >= spans_.size()) return false;
  load(spans_[k], k);
  return test(spans_[k], static_cast<std::size_t>((ib - amapOffset(k)) / kAllocUnit));
}

std::uint32_t blockRoomOf(const std::array<std::uint8_t, kPageDataSize>& bits) {
  constexpr std::uint32_t kWaste = kMaxBlockSize / kAllocUnit - 1;
  std::uint32_t room = 0, run = 0;
  for (std::size_t u = 0; u < kUnitsPerAMap; ++u) {
    if (((bits[u >> 3] >> (7 - (u & 7))) & 1) == 0) {
      ++run;
      continue;
    }
    if (run > kWaste) room += run - kWaste;
    run = 0;
  }
  if (run > kWaste) room += run - kWaste;
  return room;
}

std::uint64_t SpaceMap::blockRoom() {
  std::uint64_t units = 0;
  for (std::size_t k = 0; k < spans_.size(); ++k) {
    Span& s = spans_[k];
    if (!s.roomKnown) {
      s.roomUnits = blockRoomOf(load(s, k));
      s.roomKnown = true;
    }
    units += s.roomUnits;
  }
  return units * kAllocUnit;
}

std::uint64_t SpaceMap::freeBytesFrom(std::size_t first) const {
  std::uint64_t units = 0;
  for (std::size_t k = first; k < spans_.size(); ++k) units += spans_[k].freeUnits;
  return units * kAllocUnit;
}

}  // namespace parvane::ndb
