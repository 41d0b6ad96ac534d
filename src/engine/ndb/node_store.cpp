#include "engine/ndb/node_store.h"

#include <algorithm>
#include <cstring>

#include "engine/ndb/leaf_list.h"
#include "engine/ndb/space_map.h"

namespace parvane::ndb {

namespace {

struct NodeRec {
  Nid nid = 0;
  Nid parent = 0;
  Bid bidData = 0;
  Bid bidSub = 0;
  Nid key() const { return nid; }
};

struct BlockRec {
  Bid bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t refs = 0;  // references; cRef on disk is refs + 1
  Bid key() const { return bid; }
};

void addEntry(BTPAGE& page, const NodeRec& e) {
  page.nodes.push_back(NBTENTRY{e.nid, e.bidData, e.bidSub, e.parent});
}
void addEntry(BTPAGE& page, const BlockRec& e) {
  page.blocks.push_back(BBTENTRY{BREF{e.bid, e.ib}, e.cb, static_cast<std::uint16_t>(e.refs + 1)});
}

constexpr std::size_t kWriteBufferLimit = 4u << 20;
constexpr Bid kFirstBlockBid = 4;
constexpr Bid kFirstPageBid = 1;

// Outlook's counters in a new store: the last index used per NID type.
std::array<std::uint32_t, 32> initialNidCounters() {
  std::array<std::uint32_t, 32> r{};
  r.fill(0x400);
  r[static_cast<std::size_t>(NidType::SearchFolder)] = 0x4000;
  r[static_cast<std::size_t>(NidType::NormalMessage)] = 0x10000;
  r[static_cast<std::size_t>(NidType::AssocMessage)] = 0x8000;
  return r;
}

}  // namespace

class NodeStore::Impl {
 public:
  Impl(std::string p, std::unique_ptr<File> f, const CreateOptions& o)
      : path(std::move(p)), file(std::move(f)), opts(o) {
    header.bCryptMethod = o.crypt;
    header.rgnid = initialNidCounters();
    header.bidNextB = kFirstBlockBid;
    header.bidNextP = kFirstPageBid;
    lastCommit = std::chrono::steady_clock::now();
  }

  std::string path;
  std::unique_ptr<File> file;
  CreateOptions opts;
  HEADER header;     // working values: counters, next BIDs
  HEADER committed;  // what the file's header says now
  SpaceMap space;
  LeafList<NodeRec, Nid, kNbtEntriesPerPage> nbt;
  LeafList<BlockRec, Bid, kBbtEntriesPerPage> bbt;

  struct IndexPage {
    std::vector<Bid> children;
    BREF page;
  };
  std::vector<std::vector<IndexPage>> nbtIndex, bbtIndex;
  BREF nbtEmptyRoot, bbtEmptyRoot;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pendingFree;  // released after the next commit
  Bid committedBidNextB = kFirstBlockBid;

  std::uint64_t bufBase = 0;
  Bytes buf;

  std::uint64_t bytesSinceCommit = 0;
  std::chrono::steady_clock::time_point lastCommit;
  std::uint64_t commits = 0;
  bool changed = true;
  bool failed = false;
  bool closed = false;

  void usable() const {
    if (closed) throw NdbError("store " + path + " is closed");
    if (failed) throw NdbError("store " + path + " failed earlier; the file stays as of its last commit");
  }

  // Runs `fn`; any failure leaves the store unusable (the file keeps its last commit).
  template <class Fn>
  auto guarded(Fn&& fn) -> decltype(fn()) {
    usable();
    try {
      return fn();
    } catch (...) {
      failed = true;
      throw;
    }
  }

  // ---- writing bytes
  void flush() {
    if (buf.empty()) return;
    file->writeAt(bufBase, buf);
    buf.clear();
  }
  std::uint8_t* stage(std::uint64_t ib, std::size_t n) {
    if (!buf.empty() && (ib != bufBase + buf.size() || buf.size() + n > kWriteBufferLimit)) flush();
    if (buf.empty()) bufBase = ib;
    buf.resize(buf.size() + n);
    return buf.data() + buf.size() - n;
  }

  std::uint64_t fileEof() const { return kFirstAMapOffset + space.spanCount() * kAMapSpan; }

  void writeHeader(const HEADER& h) {
    auto bytes = encodeHeader(h);
    file->writeAt(0, bytes);
  }

  void writeMapPages(std::size_t k) {
    std::array<std::uint8_t, kPageSize> page{};
    std::memcpy(page.data(), space.bits(k).data(), kPageDataSize);
    std::uint64_t ib = amapOffset(k);
    sealPage(page, PageType::AMap, ib, ib);
    file->writeAt(ib, page);
    space.clean(k);
  }

  void writeExtraMapPages(std::size_t k) {
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
  void grow() {
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

  std::uint64_t allocate(std::size_t bytes, bool page) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (auto ib = space.allocate(bytes, page)) return *ib;
      grow();
    }
    throw NdbError::field("allocation", "size", "room in a new AMap span", std::to_string(bytes));
  }

  void releaseSpace(std::uint64_t ib, std::size_t bytes, bool uncommitted) {
    if (uncommitted) space.free(ib, bytes);
    else pendingFree.emplace_back(ib, static_cast<std::uint32_t>(bytes));
  }

  Bid writeBlock(ByteView data, bool internal) {
    if (data.size() > kMaxBlockData)
      throw NdbError::field("block", "cb", "<= 8176", std::to_string(data.size()));
    Bid bid = header.bidNextB | (internal ? 2u : 0u);
    header.bidNextB += 4;
    std::size_t disk = blockDiskSize(data.size());
    std::uint64_t ib = allocate(disk, false);
    std::uint8_t* out = stage(ib, disk);
    if (!data.empty()) std::memcpy(out, data.data(), data.size());
    if (!internal) encodeData(header.bCryptMethod, std::span<std::uint8_t>(out, data.size()), bid);
    sealBlock(std::span<std::uint8_t>(out, disk), data.size(), bid, ib);
    bbt.put(BlockRec{bid, ib, static_cast<std::uint16_t>(data.size()), 1});
    bytesSinceCommit += disk;
    changed = true;
    return bid;
  }

  BREF writePage(PageType type, const BTPAGE& content) {
    Bid bid = header.bidNextP;
    header.bidNextP += 2;
    std::uint64_t ib = allocate(kPageSize, true);
    std::uint8_t* out = stage(ib, kPageSize);
    encodeBtPage(std::span<std::uint8_t, kPageSize>(out, kPageSize), type, content, bid, ib);
    return BREF{bid, ib};
  }

  Bytes readBlock(Bid bid) {
    const BlockRec* r = bbt.find(bid);
    if (!r) throw NdbError::field("BBT", "bid", "a block of this store", hex(bid));
    std::size_t disk = blockDiskSize(r->cb);
    if (!buf.empty() && r->ib < bufBase + buf.size() && r->ib + disk > bufBase) flush();
    Bytes raw(disk);
    if (file->readAt(r->ib, raw) != disk)
      throw NdbError::field("block " + hex(bid), "ib", "inside the file", hex(r->ib));
    ByteView stored = checkBlock(raw, r->cb, bid, r->ib);
    Bytes out(stored.begin(), stored.end());
    if (!isInternalBid(bid)) decodeData(header.bCryptMethod, out, bid);
    return out;
  }

  void retain(Bid bid) {
    if (bid == 0) return;
    BlockRec* r = bbt.modify(bid);
    if (!r) throw NdbError::field("BBT", "bid", "a block of this store", hex(bid));
    if (r->refs >= 0xFFFE) throw NdbError::field("BBTENTRY " + hex(bid), "cRef", "<= 0xFFFF", "one more reference");
    ++r->refs;
    changed = true;
  }

  void release(Bid first) {
    if (first == 0) return;
    std::vector<Bid> todo{first};
    while (!todo.empty()) {
      Bid bid = todo.back();
      todo.pop_back();
      if (bid == 0) continue;
      BlockRec* r = bbt.modify(bid);
      if (!r) throw NdbError::field("BBT", "bid", "a block of this store", hex(bid));
      if (r->refs == 0) throw NdbError::field("BBTENTRY " + hex(bid), "cRef", "a held reference", "none left");
      changed = true;
      if (--r->refs > 0) continue;
      BlockRec gone = *r;
      if (isInternalBid(bid)) {
        Bytes b = readBlock(bid);
        if (!b.empty() && b[0] == 0x01) {
          for (Bid c : decodeXBlock(b).rgbid) todo.push_back(c);
        } else {
          SUBNODEBLOCK s = decodeSubnodeBlock(b);
          for (auto& e : s.leaves) {
            todo.push_back(e.bidData);
            todo.push_back(e.bidSub);
          }
          for (auto& e : s.index) todo.push_back(e.bid);
        }
      }
      bbt.erase(bid);
      releaseSpace(gone.ib, blockDiskSize(gone.cb), (bid & ~Bid{3}) >= committedBidNextB);
    }
  }

  void bumpCounter(Nid nid) {
    auto& c = header.rgnid[nid & 0x1F];
    c = std::max(c, nidIndex(nid));
  }

  // ---- commit
  template <class List>
  BREF writeTree(List& list, PageType type, std::vector<std::vector<IndexPage>>& cache, BREF& emptyRoot) {
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
    std::vector<BTENTRY> level;
    level.reserve(list.leaves().size());
    for (auto& leaf : list.leaves()) {
      if (leaf->page.bid == 0) {
        BTPAGE content;
        for (const auto& e : leaf->items) addEntry(content, e);
        leaf->page = writePage(type, content);
      }
      level.push_back(BTENTRY{static_cast<std::uint64_t>(leaf->items.front().key()), leaf->page});
    }
    std::size_t depth = 0;
    while (level.size() > 1) {
      if (cache.size() <= depth) cache.emplace_back();
      auto& pages = cache[depth];
      std::size_t n = (level.size() + kBtEntriesPerPage - 1) / kBtEntriesPerPage;
      std::vector<IndexPage> fresh(n);
      std::vector<BTENTRY> up;
      up.reserve(n);
      for (std::size_t j = 0; j < n; ++j) {
        std::size_t from = j * kBtEntriesPerPage, to = std::min(level.size(), from + kBtEntriesPerPage);
        std::vector<Bid> bids;
        for (std::size_t i = from; i < to; ++i) bids.push_back(level[i].bref.bid);
        if (j < pages.size() && pages[j].page.bid != 0 && pages[j].children == bids) {
          fresh[j] = std::move(pages[j]);
          pages[j].page = BREF{};
        } else {
          BTPAGE content;
          content.cLevel = static_cast<std::uint8_t>(depth + 1);
          content.index.assign(level.begin() + static_cast<std::ptrdiff_t>(from),
                               level.begin() + static_cast<std::ptrdiff_t>(to));
          fresh[j].children = std::move(bids);
          fresh[j].page = writePage(type, content);
        }
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

  void commit() {
    if (!changed) return;
    // 1. pages of both trees into free space, then everything to disk
    BREF nbtRoot = writeTree(nbt, PageType::NBT, nbtIndex, nbtEmptyRoot);
    BREF bbtRoot = writeTree(bbt, PageType::BBT, bbtIndex, bbtEmptyRoot);
    flush();
    file->sync();
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
    if (commits > 0) {
      writeHeader(h);
      file->sync();
    }
    // 3. the new trees no longer use the space freed since the last commit:
    //    the maps mark it free and it can be reused from now on
    for (auto [ib, n] : pendingFree) space.free(ib, n);
    pendingFree.clear();
    h.root.cbAMapFree = space.freeBytes();
    for (std::size_t k = 0; k < space.spanCount(); ++k)
      if (space.dirty(k)) writeMapPages(k);
    file->sync();
    // 4. the header with valid maps
    h.root.fAMapValid = AMapValidity::Valid2;
    writeHeader(h);
    file->sync();
    committed = h;
    committedBidNextB = h.bidNextB;
    bytesSinceCommit = 0;
    lastCommit = std::chrono::steady_clock::now();
    changed = false;
    ++commits;
  }

  void create() {
    space.addSpan();
    file->resize(fileEof());
    std::array<std::uint8_t, kPageSize> dlist{};
    Bid dlistBid = header.bidNextP;
    header.bidNextP += 2;
    sealPage(dlist, PageType::DList, dlistBid, kDListOffset);
    file->writeAt(kDListOffset, dlist);
    writeExtraMapPages(0);
    committed.root.ibFileEof = fileEof();
    committed.root.ibAMapLast = amapOffset(0);
    commit();
  }
};

// ---- NodeStore ----------------------------------------------------------------------------

NodeStore::NodeStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NodeStore::~NodeStore() = default;

std::unique_ptr<NodeStore> NodeStore::create(const std::string& path, const CreateOptions& options) {
  FileSystem& fs = options.fileSystem ? *options.fileSystem : FileSystem::native();
  auto file = fs.createExclusive(path);
  auto impl = std::make_unique<Impl>(path, std::move(file), options);
  impl->create();
  return std::unique_ptr<NodeStore>(new NodeStore(std::move(impl)));
}

Nid NodeStore::allocateNid(NidType type) {
  impl_->usable();
  auto& c = impl_->header.rgnid[static_cast<std::size_t>(type)];
  if (c >= (1u << 27) - 1) throw NdbError::field("HEADER.rgnid", std::to_string(static_cast<int>(type)), "an index below 2^27", hex(c));
  impl_->changed = true;
  return makeNid(type, ++c);
}

std::uint32_t NodeStore::nidCounter(NidType type) const {
  return impl_->header.rgnid[static_cast<std::size_t>(type)];
}

void NodeStore::setNidCounter(NidType type, std::uint32_t lastIndex) {
  impl_->usable();
  impl_->header.rgnid[static_cast<std::size_t>(type)] = lastIndex;
  impl_->changed = true;
}

std::uint32_t NodeStore::nextUnique() {
  impl_->usable();
  impl_->changed = true;
  return ++impl_->header.dwUnique;
}

DataWriter NodeStore::newData() {
  impl_->usable();
  return DataWriter(*this);
}

NodeData NodeStore::writeData(ByteView bytes) {
  DataWriter w = newData();
  w.append(bytes);
  return w.finish();
}

Bid NodeStore::writeDataBlock(ByteView bytes) {
  return impl_->guarded([&] { return impl_->writeBlock(bytes, false); });
}

Bid NodeStore::writeInternalBlock(ByteView bytes) {
  return impl_->guarded([&] { return impl_->writeBlock(bytes, true); });
}

void NodeStore::retain(Bid bid) { impl_->guarded([&] { impl_->retain(bid); }); }
void NodeStore::release(Bid bid) { impl_->guarded([&] { impl_->release(bid); }); }
void NodeStore::retain(const NodeData& d) {
  retain(d.bidData);
  retain(d.bidSub);
}
void NodeStore::release(const NodeData& d) {
  release(d.bidData);
  release(d.bidSub);
}

void NodeStore::putNode(Nid nid, Nid parent, NodeData content) {
  if ((nid & 0x1F) == 0) throw NdbError::field("NBTENTRY", "nid", "a NID with a node type", hex(nid));
  impl_->guarded([&] {
    NodeRec old;
    bool had = false;
    if (const NodeRec* r = impl_->nbt.find(nid)) {
      old = *r;
      had = true;
    }
    impl_->nbt.put(NodeRec{nid, parent, content.bidData, content.bidSub});
    impl_->bumpCounter(nid);
    impl_->changed = true;
    if (had) {
      impl_->release(old.bidData);
      impl_->release(old.bidSub);
    }
  });
}

bool NodeStore::deleteNode(Nid nid) {
  return impl_->guarded([&] {
    const NodeRec* r = impl_->nbt.find(nid);
    if (!r) return false;
    NodeRec old = *r;
    impl_->nbt.erase(nid);
    impl_->changed = true;
    impl_->release(old.bidData);
    impl_->release(old.bidSub);
    return true;
  });
}

std::optional<NodeInfo> NodeStore::findNode(Nid nid) const {
  const NodeRec* r = impl_->nbt.find(nid);
  if (!r) return std::nullopt;
  return NodeInfo{r->nid, r->parent, r->bidData, r->bidSub};
}

void NodeStore::forEachNode(const std::function<void(const NodeInfo&)>& fn) const {
  impl_->nbt.forEach([&](const NodeRec& r) { fn(NodeInfo{r.nid, r.parent, r.bidData, r.bidSub}); });
}

void NodeStore::commit() { impl_->guarded([&] { impl_->commit(); }); }

bool NodeStore::checkpoint() {
  return impl_->guarded([&] {
    auto age = std::chrono::steady_clock::now() - impl_->lastCommit;
    if (impl_->bytesSinceCommit < impl_->opts.commitEveryBytes && age < impl_->opts.commitEvery) return false;
    impl_->commit();
    return true;
  });
}

void NodeStore::close() {
  impl_->guarded([&] {
    impl_->commit();
    impl_->closed = true;
    impl_->file.reset();
  });
}

StoreStats NodeStore::stats() const {
  StoreStats s;
  s.nodes = impl_->nbt.size();
  s.blocks = impl_->bbt.size();
  s.fileSize = impl_->fileEof();
  s.commits = impl_->commits;
  s.bytesSinceCommit = impl_->bytesSinceCommit;
  return s;
}

CryptMethod NodeStore::cryptMethod() const { return impl_->header.bCryptMethod; }
const std::string& NodeStore::path() const { return impl_->path; }

Bytes NodeStore::readBlock(Bid bid) const {
  impl_->usable();
  return impl_->readBlock(bid);
}

}  // namespace parvane::ndb
