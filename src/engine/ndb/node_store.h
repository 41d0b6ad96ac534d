// A writable Unicode personal folders file at the node database level: nodes
// (NID, parent, data tree, subnode tree) over reference-counted blocks, the two
// B-trees and the allocation maps, with a crash-safe commit.
//
// Lifetime of a store file:
//  - create() refuses an existing path and makes a new, valid file under a
//    temporary name beside it (".NAME.PID.partial"); the first commit(),
//    close() or committing checkpoint() publishes it under its own name by a
//    rename that never replaces a file, once that commit is on disk. Until
//    then nothing has the store's name, and a failure or destroying the store
//    removes the temporary file, so a failed creation leaves nothing behind;
//    a killed process leaves only the temporary file;
//  - content is written as blocks (DataWriter, SubnodeTreeBuilder) and made
//    reachable with putNode(); deleteNode() and replacing a node drop the old
//    blocks' references;
//  - commit() makes everything put so far durable. Until then a crash or kill
//    leaves the file exactly as of the previous commit: new pages and blocks go
//    only into space that the last commit left free, and space freed since the
//    last commit is not reused before the next one. A commit syncs the new
//    pages and blocks, writes a header that switches to the new B-trees while
//    marking the maps invalid (fAMapValid 0), syncs, writes the maps, syncs, and
//    writes the final header (maps valid), syncs. A stop between the two header
//    writes leaves the new content with maps that a reader rebuilds. Before
//    the file has its own name only the last sync is made: nothing reads the
//    temporary file;
//  - the file grows in whole AMap spans (a quarter of its size at a time, at
//    most 32 MB, and one span at a time near CreateOptions::growthLimit).
//    Growing extends the file (the new spans' map pages written past its end,
//    then its new size), syncs, and only then writes a header for the last
//    commit plus the empty spans, so that no header names a length the disk
//    may not have. A stop during the extension, before that header, leaves a
//    file longer than its header's ibFileEof (nothing past it is used: cut
//    there, the file is the last commit);
//  - checkpoint() commits when the configured interval (bytes or time) has
//    passed; call it where the store's content is consistent (e.g. between two
//    messages);
//  - close() commits and closes. Destroying a store without close() leaves the
//    file as of its last commit (no file, before the first);
//  - an I/O failure (core::IoError: disk full, ...) or a damaged block read back
//    leaves the store unusable (every later call throws) and the file as of
//    its last commit; a refused argument (NdbError before anything changed)
//    does not.
// Blocks written but not yet reachable from a node when a commit happens are
// in that commit's block B-tree; if the process stops before they are put,
// the file keeps them as unreferenced (leaked) blocks, which readers ignore.
//
// References: every NodeData and every BID handed out by the writer carries one
// reference on its block. putNode() and SubnodeTreeBuilder::add() take those
// references over; retain() adds one to share a block between several owners
// (the BBT's cRef is always the number of references plus one, as Outlook
// keeps it); release() drops one, freeing the block (and, for an internal
// block, its children's references) when none is left.
//
// Not thread-safe: one thread owns a store.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/ndb/block_source.h"
#include "engine/ndb/errors.h"
#include "engine/core/file_system.h"
#include "engine/ndb/format.h"
#include "engine/ndb/ids.h"

namespace parvane::ndb {

struct CreateOptions {
  CryptMethod crypt = CryptMethod::Permute;  // Outlook's default
  // checkpoint() commits once this many block bytes were written since the last commit...
  std::uint64_t commitEveryBytes = 64ull << 20;
  // ...or this much time passed.
  std::chrono::milliseconds commitEvery{5000};
  core::FileSystem* fileSystem = nullptr;  // nullptr: the operating system's
  // The file grows no further than this many bytes (0: no limit) unless its
  // content needs more: near it, one AMap span at a time.
  std::uint64_t growthLimit = 0;
};

// The content of a node or subnode: its data tree and its subnode tree, each
// root holding one reference (0 = none), and the size of the data stream.
struct NodeData {
  Bid bidData = 0;
  Bid bidSub = 0;
  std::uint64_t size = 0;
};

struct NodeInfo {
  Nid nid = 0;
  Nid parent = 0;
  Bid bidData = 0;
  Bid bidSub = 0;
};

struct StoreStats {
  std::uint64_t nodes = 0;
  std::uint64_t blocks = 0;
  std::uint64_t fileSize = 0;
  // Bytes of the file no page or block uses and the next allocations may
  // take; space freed since the last commit is not among them until it.
  std::uint64_t freeBytes = 0;
  // Commits whose content the file holds on disk: those done, and one that
  // failed after its header switched to its B-trees and was synced (the maps
  // then rebuilt by readers).
  std::uint64_t commits = 0;
  std::uint64_t bytesSinceCommit = 0;
  // What the store holds in memory of the two B-trees' leaves and of the
  // allocation maps (the rest is read back from the file when needed).
  std::uint64_t leavesInMemory = 0;
  std::uint64_t mapSpansInMemory = 0;
};

class NodeStore;

// Writes one data stream as a data tree: data blocks of up to 8176 bytes under
// XBLOCKs and, past 1021 blocks, an XXBLOCK. The trees could address 8.5 GB, but
// their lcbTotal is 32 bits, so a stream stops short of 4 GB (NdbError beyond).
// Blocks go to disk as they fill, so a stream of any size passes through a fixed
// amount of memory. Obtain one from NodeStore::newData().
class DataWriter {
 public:
  DataWriter(DataWriter&&) noexcept;
  DataWriter& operator=(DataWriter&&) = delete;
  ~DataWriter();  // releases what was written if finish() was not called

  // Appends bytes; blocks are cut at 8176 bytes.
  void append(ByteView bytes);
  // Closes the current block (if any) and writes `block` as a block of its own
  // (at most 8176 bytes). Heaps and table row matrices use this to control
  // where block boundaries fall.
  void appendBlock(ByteView block);
  // Closes the current block (if any) and appends `bid`, a data block of `cb`
  // bytes written earlier, adding a reference to it: a stream that grows
  // between writes shares its finished blocks with the previous version.
  void appendWritten(Bid bid, std::size_t cb);
  std::uint64_t size() const { return size_; }
  // Writes the pending block and the XBLOCK/XXBLOCK levels; the result holds one
  // reference on its root (bidSub is 0). An empty stream gives bidData 0.
  NodeData finish();

 private:
  friend class NodeStore;
  explicit DataWriter(NodeStore& store);
  // Hands leaves_ back to the store for the next writer.
  void giveBackLeaves();
  void flushChunk();
  void pushLeaf(Bid bid, std::size_t cb);
  void closeXBlock();

  NodeStore* store_;
  Bytes chunk_;                    // bytes of the block being filled
  std::vector<Bid> leaves_;        // data blocks not yet under an XBLOCK
  std::uint32_t leafBytes_ = 0;    // bytes under leaves_
  std::vector<Bid> xblocks_;       // finished XBLOCKs (when the stream needs an XXBLOCK)
  std::uint64_t size_ = 0;
  bool finished_ = false;
};

// Collects the subnodes of one node and writes them as an SLBLOCK, or as an
// SIBLOCK over SLBLOCKs when they do not fit in one (up to 173,400 subnodes).
class SubnodeTreeBuilder {
 public:
  explicit SubnodeTreeBuilder(NodeStore& store) : store_(&store) {}
  SubnodeTreeBuilder(SubnodeTreeBuilder&&) noexcept = default;
  ~SubnodeTreeBuilder();  // releases the references still held

  // Loads an existing subnode tree; its entries gain a reference each.
  void load(Bid bidSub);
  // Adds or replaces a subnode, taking over the references of `content`.
  void add(Nid nid, NodeData content);
  // Removes a subnode and releases its references; false if absent.
  bool remove(Nid nid);
  // Removes every subnode, releasing their references; the builder keeps its
  // storage for the next node.
  void clear();
  bool contains(Nid nid) const;
  std::optional<SLENTRY> find(Nid nid) const;
  std::size_t size() const { return entries_.size(); }
  const std::vector<SLENTRY>& entries() const { return entries_; }

  // Writes the tree; returns its root BID holding one reference (0 when empty).
  // The entries' references pass to the written blocks; the builder is empty after.
  Bid write();

 private:
  NodeStore* store_;
  std::vector<SLENTRY> entries_;  // sorted by nid
  Bytes block_;                   // the SLBLOCK being written
};

class NodeStore : public BlockSource {
 public:
  // Creates a new store, to appear under `path` at the first commit (see
  // above). Throws core::IoError (naming `path`) if `path` exists or the file
  // cannot be created.
  static std::unique_ptr<NodeStore> create(const std::string& path, const CreateOptions& options = {});
  ~NodeStore() override;
  NodeStore(const NodeStore&) = delete;
  NodeStore& operator=(const NodeStore&) = delete;

  // ---- identifiers
  // Returns the next unused NID of `type` (the header's rgnid holds the last index used).
  Nid allocateNid(NidType type);
  std::uint32_t nidCounter(NidType type) const;
  // Sets the last used index of a type (e.g. to Outlook's starting values).
  void setNidCounter(NidType type, std::uint32_t lastIndex);
  // Increments the header's dwUnique and returns the new value.
  std::uint32_t nextUnique();

  // ---- blocks
  DataWriter newData();
  // Writes a whole stream at once (see DataWriter).
  NodeData writeData(ByteView bytes);
  // Writes one data block (at most 8176 bytes); the BID holds one reference.
  Bid writeDataBlock(ByteView bytes);
  void retain(Bid bid);
  void release(Bid bid);
  void retain(const NodeData& d);
  void release(const NodeData& d);

  // ---- nodes
  // Inserts the node or replaces its content and parent; takes over the
  // references of `content` and releases those of the content it replaces.
  // The NID's index raises the header's counter for its type if needed.
  void putNode(Nid nid, Nid parent, NodeData content);
  // Removes the node and releases its content; false if absent.
  bool deleteNode(Nid nid);
  std::optional<NodeInfo> findNode(Nid nid) const;
  void forEachNode(const std::function<void(const NodeInfo&)>& fn) const;

  // ---- durability
  void commit();
  // Commits if the configured bytes or time have passed since the last commit.
  bool checkpoint();
  // Commits and closes; the store cannot be used afterwards.
  void close();

  StoreStats stats() const;
  // See CreateOptions::growthLimit.
  void setGrowthLimit(std::uint64_t bytes);
  // Bytes of blocks and pages (of any sizes, in any order) the store is sure
  // to write without its file growing past `limit`, once the next commit has
  // written its B-tree pages; 0 if the file is past it already. Space freed
  // since the last commit is not counted: a commit makes it free.
  std::uint64_t roomWithin(std::uint64_t limit);
  CryptMethod cryptMethod() const;
  const std::string& path() const;  // the store's own name, even before it has it

  // BlockSource: blocks written so far, committed or not.
  Bytes readBlock(Bid bid) const override;

  class Impl;

 private:
  friend class DataWriter;
  friend class SubnodeTreeBuilder;
  explicit NodeStore(std::unique_ptr<Impl> impl);
  Bid writeInternalBlock(ByteView bytes);
  std::unique_ptr<Impl> impl_;
};

}  // namespace parvane::ndb
