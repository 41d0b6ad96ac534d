// File size, allocation maps and the write buffer of a store.
#include <algorithm>
#include <cstring>

#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

void NodeStore::Impl::flush() {
  if (buf.empty()) return;
  file->writeAt(bufBase, buf);
  buf.clear();
}

std::uint8_t* NodeStore::Impl::stage(std::uint64_t ib, std::size_t n) {
  if (!buf.empty() && (ib != bufBase + buf.size() || buf.size() + n > kWriteBufferLimit)) flush();
  if (buf.empty()) bufBase = ib;
  buf.resize(buf.size() + n);
  return buf.data() + buf.size() - n;
}

void NodeStore::Impl::writeHeader(const HEADER& h) {
  auto bytes = encodeHeader(h);
  file->writeAt(0, bytes);
}

void NodeStore::Impl::writeMapPages(std::size_t k) {
  std::array<std::uint8_t, kPageSize> page{};
  std::memcpy(page.data(), space.bits(k).data(), kPageDataSize);
  std::uint64_t ib = amapOffset(k);
  sealPage(page, PageType::AMap, ib, ib);
  file->writeAt(ib, page);
  space.clean(k);
}

void NodeStore::Impl::writeExtraMapPages(std::size_t k) {
  std::uint64_t ib = amapOffset(k) + kPageSize;
  for (PageType t : mapPagesAfterAMap(k)) {
    std::array<std::uint8_t, kPageSize> page{};
    if (t != PageType::FMap) std::memset(page.data(), 0xFF, kPageDataSize);
    sealPage(page, t, ib, ib);
    file->writeAt(ib, page);
    ib += kPageSize;
  }
}

// Adds AMap spans. The file's size, the new map pages and a header that
// describes the last commit plus the new, empty spans are written back to back.
void NodeStore::Impl::grow() {
  std::size_t first = space.spanCount();
  std::size_t add = std::clamp<std::size_t>(first / 4, 1, 128);
  for (std::size_t i = 0; i < add; ++i) space.addSpan();
  flush();
  file->resize(fileEof());
  for (std::size_t k = first; k < space.spanCount(); ++k) {
    writeExtraMapPages(k);
    writeMapPages(k);
  }
  committed.root.ibFileEof = fileEof();
  committed.root.ibAMapLast = amapOffset(space.spanCount() - 1);
  committed.root.cbAMapFree += space.freeBytesFrom(first);
  if (commits > 0) writeHeader(committed);
}

std::uint64_t NodeStore::Impl::allocate(std::size_t bytes, bool page) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (auto ib = space.allocate(bytes, page)) return *ib;
    grow();
  }
  throw NdbError::field("allocation", "size", "room in a new AMap span", std::to_string(bytes));
}

void NodeStore::Impl::releaseSpace(std::uint64_t ib, std::size_t bytes, bool uncommitted) {
  if (uncommitted) space.free(ib, bytes);
  else pendingFree.emplace_back(ib, static_cast<std::uint32_t>(bytes));
}

}  // namespace parvane::ndb
