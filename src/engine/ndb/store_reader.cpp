#include "engine/ndb/store_reader.h"

#include <set>

#include "engine/ndb/errors.h"

namespace parvane::ndb {

namespace {
constexpr int kMaxDepth = 12;
}

StoreReader::StoreReader(std::unique_ptr<core::File> file, HEADER header)
    : file_(std::move(file)), header_(header) {}
StoreReader::~StoreReader() = default;

std::unique_ptr<StoreReader> StoreReader::open(const std::string& path, core::FileSystem* fs) {
  core::FileSystem& f = fs ? *fs : core::FileSystem::native();
  auto file = f.openRead(path);
  Bytes head(kHeaderSize);
  if (file->readAt(0, head) != kHeaderSize)
    throw NdbError::field("HEADER", "size", std::to_string(kHeaderSize) + " bytes", "a shorter file");
  HEADER h = decodeHeader(head);
  return std::unique_ptr<StoreReader>(new StoreReader(std::move(file), h));
}

std::uint64_t StoreReader::fileSize() const { return file_->size(); }

Bytes StoreReader::readPage(std::uint64_t ib) const {
  Bytes page(kPageSize);
  if (ib % kPageSize || file_->readAt(ib, page) != kPageSize)
    throw NdbError::field("BREF", "ib", "a 512-byte aligned page inside the file", hex(ib));
  return page;
}

template <class Visit>
void StoreReader::walk(PageType type, const BREF& ref, int depth, Visit&& visit) const {
  std::set<std::uint64_t> seen;
  walkPage(type, ref, depth, -1, seen, visit);
}

template <class Visit>
void StoreReader::walkPage(PageType type, const BREF& ref, int depth, int level, std::set<std::uint64_t>& seen,
                           Visit&& visit) const {
  if (depth > kMaxDepth) throw NdbError::field("BTPAGE", "cLevel", "at most 12 levels", "a deeper tree");
  if (!seen.insert(ref.ib).second)
    throw NdbError::field("BTPAGE at " + hex(ref.ib), "BREF", "a page referenced once", "a page referenced twice");
  BTPAGE p = decodeBtPage(readPage(ref.ib), type, ref.bid, ref.ib);
  if (level >= 0 && p.cLevel != level)
    throw NdbError::field("BTPAGE at " + hex(ref.ib), "cLevel", std::to_string(level), std::to_string(p.cLevel));
  visit(p, ref);
  for (const auto& e : p.index) walkPage(type, e.bref, depth + 1, p.cLevel - 1, seen, visit);
}

std::optional<NodeInfo> StoreReader::findNode(Nid nid) const {
  BREF ref = header_.root.BREFNBT;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    BTPAGE p = decodeBtPage(readPage(ref.ib), PageType::NBT, ref.bid, ref.ib);
    if (p.cLevel == 0) {
      for (const auto& e : p.nodes)
        if (e.nid == nid) return NodeInfo{e.nid, e.nidParent, e.bidData, e.bidSub};
      return std::nullopt;
    }
    const BTENTRY* next = nullptr;
    for (const auto& e : p.index)
      if (e.btkey <= nid) next = &e;
    if (!next) return std::nullopt;
    ref = next->bref;
  }
  throw NdbError::field("NBT", "cLevel", "at most 12 levels", "a deeper tree");
}

std::optional<BlockInfo> StoreReader::findBlock(Bid bid) const {
  bid &= ~Bid{1};
  BREF ref = header_.root.BREFBBT;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    BTPAGE p = decodeBtPage(readPage(ref.ib), PageType::BBT, ref.bid, ref.ib);
    if (p.cLevel == 0) {
      for (const auto& e : p.blocks)
        if (e.bref.bid == bid) return BlockInfo{e.bref.bid, e.bref.ib, e.cb, e.cRef};
      return std::nullopt;
    }
    const BTENTRY* next = nullptr;
    for (const auto& e : p.index)
      if (e.btkey <= bid) next = &e;
    if (!next) return std::nullopt;
    ref = next->bref;
  }
  throw NdbError::field("BBT", "cLevel", "at most 12 levels", "a deeper tree");
}

void StoreReader::forEachNode(const std::function<void(const NodeInfo&)>& fn) const {
  walk(PageType::NBT, header_.root.BREFNBT, 0, [&](const BTPAGE& p, const BREF&) {
    for (const auto& e : p.nodes) fn(NodeInfo{e.nid, e.nidParent, e.bidData, e.bidSub});
  });
}

void StoreReader::forEachBlock(const std::function<void(const BlockInfo&)>& fn) const {
  walk(PageType::BBT, header_.root.BREFBBT, 0, [&](const BTPAGE& p, const BREF&) {
    for (const auto& e : p.blocks) fn(BlockInfo{e.bref.bid, e.bref.ib, e.cb, e.cRef});
  });
}

void StoreReader::forEachPage(
    const std::function<void(PageType, int, const BREF&, std::size_t)>& fn) const {
  for (PageType t : {PageType::NBT, PageType::BBT}) {
    walk(t, t == PageType::NBT ? header_.root.BREFNBT : header_.root.BREFBBT, 0,
         [&](const BTPAGE& p, const BREF& ref) {
           fn(t, p.cLevel, ref, p.index.size() + p.nodes.size() + p.blocks.size());
         });
  }
}

Bytes StoreReader::readBlock(Bid bid) const {
  auto info = findBlock(bid);
  if (!info) throw NdbError::field("BBT", "bid", "a block in the BBT", hex(bid));
  Bytes raw(blockDiskSize(info->cb));
  if (info->cb > kMaxBlockData || file_->readAt(info->ib, raw) != raw.size())
    throw NdbError::field("BBTENTRY " + hex(bid), "ib", "a block inside the file", hex(info->ib));
  ByteView stored = checkBlock(raw, info->cb, info->bid, info->ib);
  Bytes out(stored.begin(), stored.end());
  if (!isInternalBid(bid)) decodeData(header_.bCryptMethod, out, bid);
  return out;
}

}  // namespace parvane::ndb
