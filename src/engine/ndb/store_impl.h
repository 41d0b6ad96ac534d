// The state behind NodeStore, shared by the files that implement it:
// store_space.cpp (file size and allocation maps), store_blocks.cpp (blocks and
// their references), store_commit.cpp (B-tree pages and the commit) and
// node_store.cpp (the public interface). Not part of the public interface.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "engine/ndb/leaf_list.h"
#include "engine/ndb/node_store.h"
#include "engine/ndb/space_map.h"
#include "engine/ndb/write_behind.h"

namespace parvane::ndb {

// One node of the node B-tree.
struct NodeRec {
  Nid nid = 0;
  Nid parent = 0;
  Bid bidData = 0;
  Bid bidSub = 0;
  Nid key() const { return nid; }
};

// One block of the block B-tree.
struct BlockRec {
  Bid bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t refs = 0;  // references; cRef on disk is refs + 1
  Bid key() const { return bid; }
};

inline constexpr std::size_t kWriteBufferLimit = 4u << 20;
inline constexpr Bid kFirstBlockBid = 4;
inline constexpr Bid kFirstPageBid = 1;

class NodeStore::Impl {
 public:
  Impl(std::string p, std::unique_ptr<core::File> f, const CreateOptions& o);
  ~Impl();  // removes the file if it was never published

  std::string path;  // the store's own name, which errors name too
  std::unique_ptr<core::File> file;
  core::FileSystem* fileSystem = nullptr;
  std::string temporaryPath;  // the file's name until publish()
  bool published = false;
  CreateOptions opts;
  HEADER header;     // working values: counters, next BIDs
  HEADER committed;  // what the file's header says now
  SpaceMap space;
  LeafList<NodeRec, Nid, kNbtEntriesPerPage> nbt;
  LeafList<BlockRec, Bid, kBbtEntriesPerPage> bbt;

  // An index page of a B-tree as last written, to rewrite only changed ones.
  struct IndexPage {
    std::uint64_t children = 0;  // hash of the children's BIDs
    BREF page;
  };
  std::vector<std::vector<IndexPage>> nbtIndex, bbtIndex;
  BREF nbtEmptyRoot, bbtEmptyRoot;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pendingFree;  // reusable after the next commit
  Bid committedBidNextB = kFirstBlockBid;

  std::vector<Bid> spareLeaves;  // lent to each DataWriter in turn
  WriteBatch batch;  // blocks and pages waiting to be written, contiguous from batch.ib
  std::unique_ptr<WriteBehind> writer;  // after `file`: gone before it

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
    } catch (const core::IoError& e) {
      failed = true;
      // told about the store's own name; a source's failure is passed on as it is
      if (e.path() != temporaryPath && e.path() != path) throw;
      throw e.about(path);
    } catch (...) {
      failed = true;
      throw;
    }
  }

  // Gives the file its own name once a commit is on disk (a no-op after the first time).
  void publish();
  // Whether the file has its own name, or is one opened by it: what a stop
  // leaves there is what a reader may find.
  bool underItsName() const { return published || temporaryPath.empty(); }

  void bumpCounter(Nid nid) {
    auto& c = header.rgnid[nid & 0x1F];
    c = std::max(c, nidIndex(nid));
  }

  // ---- file space and maps (store_space.cpp)
  std::uint64_t fileEof() const { return kFirstAMapOffset + space.spanCount() * kAMapSpan; }
  // Hands the staged batch to the writer.
  void flush();
  // The file, once everything staged is written: every write, sync or resize
  // of it goes through here, every read through readBack().
  core::File& io();
  // Reads `out.size()` bytes at `ib` once what is staged for them is written,
  // while the writer may go on writing other bytes; returns the count read.
  std::size_t readBack(std::uint64_t ib, std::span<std::uint8_t> out);
  std::uint8_t* stage(std::uint64_t ib, std::size_t n);
  // stage() for `n` bytes that start with `head`: the rest is zero.
  std::uint8_t* stage(std::uint64_t ib, std::size_t n, ByteView head);
  void writeHeader(const HEADER& h);
  void writeMapPages(std::size_t k);
  // The map bytes of AMap k as its page holds them.
  void readMapBits(std::size_t k, SpaceMap::Bits& out);
  Bytes mapPages(std::size_t k);
  void grow();
  std::uint64_t allocate(std::size_t bytes, bool page);
  // See NodeStore::roomWithin().
  std::uint64_t roomWithin(std::uint64_t limit);
  // What the next commit writes of B-tree pages at most, each page counted
  // with the alignment it may cost.
  std::uint64_t pendingPageBytes();
  void releaseSpace(std::uint64_t ib, std::size_t bytes, bool uncommitted);

  // ---- blocks (store_blocks.cpp)
  Bid writeBlock(ByteView data, bool internal);
  Bytes readBlock(Bid bid);
  void retain(Bid bid);
  void release(Bid first);

  // ---- B-tree pages and commit (store_commit.cpp)
  BREF writePage(PageType type, const BTPAGE& content);
  // The entries of a leaf page written by an earlier commit.
  template <class Entry>
  void readLeaf(PageType type, const BREF& page, std::vector<Entry>& out);
  template <class List>
  BREF writeTree(List& list, PageType type, std::vector<std::vector<IndexPage>>& cache, BREF& emptyRoot);
  void commit();
  void writeDensityList(Bid bid);
  void create();
};

}  // namespace parvane::ndb
