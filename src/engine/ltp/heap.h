// Heap-on-node: a node's data stream cut into heap blocks, each with a page
// header and a page map of its allocations. HeapBuilder lays out a new heap,
// HeapReader resolves HIDs of an existing one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/ltp/format.h"
#include "engine/ndb/node_store.h"

namespace parvane::ltp {

class HeapBuilder {
 public:
  explicit HeapBuilder(ClientSig clientSig);

  // Reserves `size` bytes (at most 3580) and returns their HID. An allocation
  // never crosses a heap block; a new block starts when the current one is full.
  Hid allocate(std::size_t size);
  Hid allocate(ByteView bytes);
  // The bytes of an allocation made earlier, to fill in later.
  std::span<std::uint8_t> at(Hid hid);
  void setUserRoot(Hid hid) { userRoot_ = hid; }
  std::size_t blockCount() const { return blocks_.size(); }
  // Empties the heap for a new node; the first block keeps its storage.
  void clear();

  // The bytes build() returns, all blocks together.
  std::uint64_t size() const;
  // The finished heap blocks, each at most 8176 bytes, in order.
  std::vector<Bytes> build() const;
  // Writes the heap as a data tree (one heap block per data block). The
  // heap is as it was afterwards.
  ndb::NodeData write(ndb::NodeStore& store);

 private:
  struct Block {
    Bytes data;                         // header + allocations
    std::vector<std::uint16_t> starts;  // rgibAlloc without the end
  };
  std::size_t pageMapSize(std::size_t allocs) const { return 4 + 2 * (allocs + 1); }
  void addBlock(std::size_t headerSize);
  // The block the next allocation of `size` bytes goes to, its start recorded.
  Block& place(std::size_t size);
  // The bytes block i takes when finished, page map included.
  std::size_t blockBytes(std::size_t i) const;
  // Block i as written, into `out` (its former content replaced).
  void finishBlock(std::size_t i, Bytes& out) const;
  // The page map and header fields of block i into `d`, which holds the
  // block's `end` bytes of header and allocations and room for `total`.
  void sealBlock(std::size_t i, std::uint8_t* d, std::size_t end, std::size_t total) const;
  ClientSig clientSig_;
  Hid userRoot_ = 0;
  std::vector<Block> blocks_;
};

class HeapReader {
 public:
  // `blocks`: the decoded data blocks of the node. Throws LtpError if a page
  // header or page map is malformed.
  explicit HeapReader(std::vector<Bytes> blocks);
  ClientSig clientSig() const { return clientSig_; }
  Hid userRoot() const { return userRoot_; }
  // The bytes of allocation `hid` (empty view for HID 0). Throws LtpError if it does not resolve.
  ByteView get(Hid hid) const;
  std::size_t blockCount() const { return blocks_.size(); }

 private:
  std::vector<Bytes> blocks_;
  std::vector<std::vector<std::uint16_t>> allocs_;  // per block: rgibAlloc
  ClientSig clientSig_ = ClientSig::PC;
  Hid userRoot_ = 0;
};

}  // namespace parvane::ltp
