// File size, allocation maps and the write buffer of a store.
#include <algorithm>
#include <cstring>

#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

void NodeStore::Impl::flush() {
  if (!batch.bytes.empty()) writer->submit(batch);
}

core::File& NodeStore::Impl::io() {
  flush();
  writer->wait();
  return *file;
}

std::size_t NodeStore::Impl::readBack(std::uint64_t ib, std::span<std::uint8_t> out) {
  if (!batch.bytes.empty() && batch.ib < ib + out.size() && ib < batch.ib + batch.bytes.size()) flush();
  writer->waitFor(ib, out.size());
  return file->readAt(ib, out);
}

std::uint8_t* NodeStore::Impl::stage(std::uint64_t ib, std::size_t n) { return stage(ib, n, {}); }

std::uint8_t* NodeStore::Impl::stage(std::uint64_t ib, std::size_t n, ByteView head) {
  Bytes& buf = batch.bytes;
  if (!buf.empty() && (ib != batch.ib + buf.size() || buf.size() + n > kWriteBufferLimit)) flush();
  if (buf.empty()) {
    batch.ib = ib;
    if (buf.capacity() < kWriteBufferLimit) buf.reserve(kWriteBufferLimit);
  }
  // the head copied in, not written twice
  buf.insert(buf.end(), head.begin(), head.end());
  buf.resize(buf.size() + n - head.size());
  return buf.data() + buf.size() - n;
}

void NodeStore::Impl::writeHeader(const HEADER& h) {
  auto bytes = encodeHeader(h);
  io().writeAt(0, bytes);
}

// The AMap page of span k followed by the PMap, FMap or FPMap pages that
// share its span, as one contiguous image.
Bytes NodeStore::Impl::mapPages(std::size_t k) {
  auto extra = mapPagesAfterAMap(k);
  Bytes out((1 + extra.size()) * kPageSize);
  std::uint64_t ib = amapOffset(k);
  auto amap = std::span<std::uint8_t, kPageSize>(out.data(), kPageSize);
  std::memcpy(amap.data(), space.bits(k).data(), kPageDataSize);
  sealPage(amap, PageType::AMap, ib, ib);
  for (std::size_t i = 0; i < extra.size(); ++i) {
    auto page = std::span<std::uint8_t, kPageSize>(out.data() + (i + 1) * kPageSize, kPageSize);
    if (extra[i] != PageType::FMap) std::memset(page.data(), 0xFF, kPageDataSize);
    std::uint64_t pib = ib + (i + 1) * kPageSize;
    sealPage(page, extra[i], pib, pib);
  }
  return out;
}

void NodeStore::Impl::writeMapPages(std::size_t k) {
  std::array<std::uint8_t, kPageSize> page{};
  std::memcpy(page.data(), space.bits(k).data(), kPageDataSize);
  std::uint64_t ib = amapOffset(k);
  sealPage(page, PageType::AMap, ib, ib);
  io().writeAt(ib, page);
  space.clean(k);
}

void NodeStore::Impl::readMapBits(std::size_t k, SpaceMap::Bits& out) {
  std::array<std::uint8_t, kPageSize> page{};
  const std::uint64_t ib = amapOffset(k);
  if (readBack(ib, page) != kPageSize) throw NdbError::field("AMap page " + std::to_string(k), "ib", "inside the file", hex(ib));
  checkPage(page, PageType::AMap, ib);
  std::memcpy(out.data(), page.data(), kPageDataSize);
}

// Adds AMap spans. The header must cover every byte of the file, and it
// must never name a length before that length is on disk: a file system
// keeps a write in place (the header) and a change of size (its journal)
// apart, and after a power cut either may be there without the other. So
// the new spans' map pages are written past the old end, the size set to
// the new end, and both synced before the header that covers them is
// written. A stop before that header leaves bytes past ibFileEof that no
// page or block uses (cut there, the file is its last commit); after it,
// the last commit plus empty spans whose map pages are on disk, so the maps
// stay as valid as the last commit left them. The sync also makes durable
// the blocks written since the last commit, which its own first sync would
// have written anyway: a growth costs one sync more, and growths are few
// (a quarter of the file at a time). Under its temporary name the file is
// nobody's store until it is published after a synced commit, so there no
// sync is needed.
void NodeStore::Impl::grow() {
  std::size_t first = space.spanCount();
  std::size_t add = std::clamp<std::size_t>(first / 4, 1, 128);
  // Near the limit one span at a time, so that a file whose content fits
  // stays within it; content that needs more still gets its span.
  if (opts.growthLimit > 0) {
    const std::uint64_t room = opts.growthLimit > fileEof() ? opts.growthLimit - fileEof() : 0;
    add = std::clamp<std::size_t>(static_cast<std::size_t>(room / kAMapSpan), 1, add);
  }
  for (std::size_t i = 0; i < add; ++i) space.addSpan();
  std::vector<Bytes> pages;
  pages.reserve(add);
  for (std::size_t k = first; k < space.spanCount(); ++k) pages.push_back(mapPages(k));
  HEADER h = committed;
  h.root.ibFileEof = fileEof();
  h.root.ibAMapLast = amapOffset(space.spanCount() - 1);
  h.root.cbAMapFree += space.freeBytesFrom(first);
  auto growing = encodeHeader(h);
  core::File& out = io();

  // the extension: the first new span's pages start at the old end
  for (std::size_t i = 0; i < pages.size(); ++i) out.writeAt(amapOffset(first + i), pages[i]);
  out.resize(h.root.ibFileEof);
  // the header covering it, once the extension is on disk
  if (commits > 0) {
    if (underItsName()) out.sync();
    out.writeAt(0, growing);
  }
  for (std::size_t k = first; k < space.spanCount(); ++k) space.clean(k);
  committed = h;
}

std::uint64_t NodeStore::Impl::allocate(std::size_t bytes, bool page) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (auto ib = space.allocate(bytes, page)) return *ib;
    grow();
  }
  throw NdbError::field("allocation", "size", "room in a new AMap span", std::to_string(bytes));
}

std::uint64_t NodeStore::Impl::roomWithin(std::uint64_t limit) {
  const std::size_t spans = space.spanCount(), allowed = spansWithin(limit);
  if (spans > allowed) return 0;
  const std::uint64_t room = space.blockRoom() + freshSpanRoom(spans, allowed);
  const std::uint64_t pages = pendingPageBytes();
  return room > pages ? room - pages : 0;
}

namespace {

// The leaves of a tree that its next write puts on new pages (see
// NodeStore::Impl::writeTree): those changed in place before the first one
// moved, and every one from there on.
template <class List>
std::uint64_t changedLeaves(List& list) {
  const std::size_t moved = std::min(list.firstMoved(), list.leaves().size());
  std::uint64_t n = list.leaves().size() - moved;
  for (std::size_t i : list.changedInPlace()) n += i < moved ? 1 : 0;
  return n;
}

}  // namespace

std::uint64_t NodeStore::Impl::pendingPageBytes() {
  // each changed page changes at most one page of the level above; a tree
  // may gain a level, and an empty one has a root page of its own
  const auto pages = [](std::uint64_t leaves, std::size_t indexLevels) {
    return (leaves + 1) * (indexLevels + 2);
  };
  const std::uint64_t n = pages(changedLeaves(nbt), nbtIndex.size()) + pages(changedLeaves(bbt), bbtIndex.size());
  // a page may skip up to 448 bytes to its 512-byte boundary
  return n * 2 * kPageSize;
}

void NodeStore::Impl::releaseSpace(std::uint64_t ib, std::size_t bytes, bool uncommitted) {
  if (uncommitted) space.free(ib, bytes);
  else pendingFree.emplace_back(ib, static_cast<std::uint32_t>(bytes));
}

}  // namespace parvane::ndb
