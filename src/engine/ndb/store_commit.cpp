// B-tree pages and the commit of a store.
#include <algorithm>
#include <cstring>
#include <span>

#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

namespace {

void addEntry(BTPAGE& page, const NodeRec& e) {
  page.nodes.push_back(NBTENTRY{e.nid, e.bidData, e.bidSub, e.parent});
}
void addEntry(BTPAGE& page, const BlockRec& e) {
  page.blocks.push_back(BBTENTRY{BREF{e.bid, e.ib}, e.cb, static_cast<std::uint16_t>(e.refs + 1)});
}

// A hash of an index page's children, to tell whether it must be written
// again without keeping their list: 64 bits over the children's BIDs.
std::uint64_t childrenHash(std::span<const BTENTRY> children) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ children.size();
  for (const BTENTRY& child : children) {
    std::uint64_t x = child.bref.bid + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    h ^= x ^ (x >> 31);
  }
  return h;
}

void fromPage(const BTPAGE& page, std::vector<NodeRec>& out) {
  for (const auto& e : page.nodes) out.push_back(NodeRec{e.nid, e.nidParent, e.bidData, e.bidSub});
}
void fromPage(const BTPAGE& page, std::vector<BlockRec>& out) {
  for (const auto& e : page.blocks)
    out.push_back(BlockRec{e.bref.bid, e.bref.ib, e.cb, static_cast<std::uint16_t>(e.cRef - 1)});
}

}  // namespace

template <class Entry>
void NodeStore::Impl::readLeaf(PageType type, const BREF& page, std::vector<Entry>& out) {
  std::array<std::uint8_t, kPageSize> raw{};
  if (readBack(page.ib, raw) != kPageSize)
    throw NdbError::field("B-tree page " + hex(page.bid), "ib", "inside the file", hex(page.ib));
  BTPAGE content = decodeBtPage(raw, type, page.bid, page.ib);
  if (content.cLevel != 0) throw NdbError::field("B-tree page " + hex(page.bid), "cLevel", "0 (a leaf)", std::to_string(content.cLevel));
  fromPage(content, out);
}
template void NodeStore::Impl::readLeaf(PageType, const BREF&, std::vector<NodeRec>&);
template void NodeStore::Impl::readLeaf(PageType, const BREF&, std::vector<BlockRec>&);

BREF NodeStore::Impl::writePage(PageType type, const BTPAGE& content) {
  Bid bid = header.bidNextP;
  header.bidNextP += 2;
  std::uint64_t ib = allocate(kPageSize, true);
  std::uint8_t* out = stage(ib, kPageSize);
  encodeBtPage(std::span<std::uint8_t, kPageSize>(out, kPageSize), type, content, bid, ib);
  return BREF{bid, ib};
}

template <class List>
BREF NodeStore::Impl::writeTree(List& list, PageType type, std::vector<std::vector<IndexPage>>& cache, BREF& emptyRoot) {
  for (const BREF& r : list.retired()) pendingFree.emplace_back(r.ib, static_cast<std::uint32_t>(kPageSize));
  list.retired().clear();
  auto retirePage = [&](BREF& p) {
    if (p.bid != 0) pendingFree.emplace_back(p.ib, static_cast<std::uint32_t>(kPageSize));
    p = BREF{};
  };
  if (list.leaves().empty()) {
    for (auto& level : cache)
      for (auto& p : level) retirePage(p.page);
    cache.clear();
    if (emptyRoot.bid == 0) emptyRoot = writePage(type, BTPAGE{});
    return emptyRoot;
  }
  retirePage(emptyRoot);
  // Page j of a level over `children`: the one the last commit wrote there
  // when its children are the same, else a new one.
  const auto indexPage = [&](std::vector<IndexPage>& pages, std::size_t j, std::span<const BTENTRY> children,
                             std::size_t depth) {
    IndexPage page;
    const std::uint64_t hash = childrenHash(children);
    if (j < pages.size() && pages[j].page.bid != 0 && pages[j].children == hash) {
      page = std::move(pages[j]);
      pages[j].page = BREF{};
      return page;
    }
    BTPAGE content;
    content.cLevel = static_cast<std::uint8_t>(depth + 1);
    content.index.assign(children.begin(), children.end());
    page.children = hash;
    page.page = writePage(type, content);
    return page;
  };
  // Only what changed since the last commit is visited: the leaves changed
  // in place and those from the first one added, removed or shifted, and
  // above them the first level's pages that hold them. A commit then costs
  // what changed, not the size of the tree (only the levels above the first
  // are gone through whole, a page per kBtEntriesPerPage leaves).
  auto& leaves = list.leaves();
  const std::size_t moved = std::min(list.firstMoved(), leaves.size());
  const auto writeLeaf = [&](auto& leaf) {
    if (leaf.page.bid != 0) return;
    BTPAGE content;
    for (const auto& e : list.entries(leaf)) addEntry(content, e);
    leaf.page = writePage(type, content);
  };
  // in the order of their keys, as the pages' places and ids always came
  std::vector<std::size_t> changedLeaves;
  for (std::size_t i : list.changedInPlace())
    if (i < moved) changedLeaves.push_back(i);
  std::sort(changedLeaves.begin(), changedLeaves.end());
  for (std::size_t i : changedLeaves) writeLeaf(leaves[i]);
  for (std::size_t i = moved; i < leaves.size(); ++i) writeLeaf(leaves[i]);

  std::vector<BTENTRY> level;
  if (leaves.size() == 1) {
    level.push_back(BTENTRY{static_cast<std::uint64_t>(leaves[0].first), leaves[0].page});
  } else {
    // the first level: a page whose leaves did not change keeps its place
    if (cache.empty()) cache.emplace_back();
    auto& pages = cache[0];
    const std::size_t n = (leaves.size() + kBtEntriesPerPage - 1) / kBtEntriesPerPage;
    std::vector<bool> mayDiffer(n, false);
    for (std::size_t i : changedLeaves) mayDiffer[i / kBtEntriesPerPage] = true;
    for (std::size_t j = std::min(moved / kBtEntriesPerPage, pages.size()); j < n; ++j) mayDiffer[j] = true;
    std::vector<IndexPage> fresh(n);
    std::vector<BTENTRY> children;
    level.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
      const std::size_t from = j * kBtEntriesPerPage, to = std::min(leaves.size(), from + kBtEntriesPerPage);
      if (!mayDiffer[j] && pages[j].page.bid != 0) {
        fresh[j] = std::move(pages[j]);
        pages[j].page = BREF{};
      } else {
        children.clear();
        for (std::size_t i = from; i < to; ++i)
          children.push_back(BTENTRY{static_cast<std::uint64_t>(leaves[i].first), leaves[i].page});
        fresh[j] = indexPage(pages, j, children, 0);
      }
      level.push_back(BTENTRY{static_cast<std::uint64_t>(leaves[from].first), fresh[j].page});
    }
    for (auto& p : pages) retirePage(p.page);
    pages = std::move(fresh);
  }
  list.written();
  std::size_t depth = leaves.size() == 1 ? 0 : 1;
  while (level.size() > 1) {
    if (cache.size() <= depth) cache.emplace_back();
    auto& pages = cache[depth];
    std::size_t n = (level.size() + kBtEntriesPerPage - 1) / kBtEntriesPerPage;
    std::vector<IndexPage> fresh(n);
    std::vector<BTENTRY> up;
    up.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
      std::size_t from = j * kBtEntriesPerPage, to = std::min(level.size(), from + kBtEntriesPerPage);
      fresh[j] = indexPage(pages, j, std::span<const BTENTRY>(level).subspan(from, to - from), depth);
      up.push_back(BTENTRY{level[from].btkey, fresh[j].page});
    }
    for (auto& p : pages) retirePage(p.page);
    pages = std::move(fresh);
    level = std::move(up);
    ++depth;
  }
  for (std::size_t d = depth; d < cache.size(); ++d)
    for (auto& p : cache[d]) retirePage(p.page);
  cache.resize(depth);
  return level[0].bref;
}

void NodeStore::Impl::commit() {
  if (!changed) return;
  // The syncs between the steps order what a stop can leave under the
  // store's name. Under its temporary name the file is nobody's store until
  // the rename that follows this commit, so there one sync at the end does.
  const bool ordered = underItsName();
  // 1. pages of both trees into free space, then everything to disk
  BREF nbtRoot = writeTree(nbt, PageType::NBT, nbtIndex, nbtEmptyRoot);
  BREF bbtRoot = writeTree(bbt, PageType::BBT, bbtIndex, bbtEmptyRoot);
  if (ordered) io().sync();
  // the leaves are on their pages now: only the last of each tree stays in memory
  nbt.trim();
  bbt.trim();
  // the density list is written again with a page id of its own, as every
  // page has; the header that names the next id comes first
  const Bid dlistBid = header.bidNextP;
  header.bidNextP += 2;
  // 2. the header switches to the new trees while it declares the maps
  //    invalid: a stop before step 4 leaves a complete store whose maps a
  //    reader rebuilds
  HEADER h = header;
  h.root.ibFileEof = fileEof();
  h.root.ibAMapLast = amapOffset(space.spanCount() - 1);
  h.root.cbAMapFree = space.freeBytes();
  h.root.cbPMapFree = 0;
  h.root.BREFNBT = nbtRoot;
  h.root.BREFBBT = bbtRoot;
  h.root.fAMapValid = AMapValidity::Invalid;
  const bool first = commits == 0;
  if (!first) {
    writeHeader(h);
    if (ordered) io().sync();
    // the file now holds this commit's content on disk: counted even if what
    // follows fails, and not before, since a header that a failed sync may
    // not have written shows nothing
    ++commits;
  }
  // 3. the new trees no longer use the space freed since the last commit:
  //    the maps mark it free and it can be reused from now on
  for (auto [ib, n] : pendingFree) space.free(ib, n);
  pendingFree.clear();
  h.root.cbAMapFree = space.freeBytes();
  for (std::size_t k = 0; k < space.spanCount(); ++k)
    if (space.dirty(k)) writeMapPages(k);
  writeDensityList(dlistBid);
  if (ordered) io().sync();
  // 4. the header with valid maps
  h.root.fAMapValid = AMapValidity::Valid2;
  writeHeader(h);
  io().sync();
  committed = h;
  committedBidNextB = h.bidNextB;
  bytesSinceCommit = 0;
  lastCommit = std::chrono::steady_clock::now();
  changed = false;
  if (first) ++commits;
  // the maps are on their pages now: only the span in use stays in memory
  space.trim();
}

// The density list holds no entries: it only guides where Outlook puts new
// pages, and Outlook keeps it empty too.
void NodeStore::Impl::writeDensityList(Bid bid) {
  std::array<std::uint8_t, kPageSize> dlist{};
  sealPage(dlist, PageType::DList, bid, kDListOffset);
  io().writeAt(kDListOffset, dlist);
}

void NodeStore::Impl::create() {
  space.addSpan();
  io().resize(fileEof());
  io().writeAt(amapOffset(0), mapPages(0));
  committed.root.ibFileEof = fileEof();
  committed.root.ibAMapLast = amapOffset(0);
  commit();
}

}  // namespace parvane::ndb
