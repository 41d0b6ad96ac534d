// Read access to the blocks of a store, shared by the writer (which reads back
// what it wrote) and the read-only reader, and the walks over data trees and
// subnode trees built on it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/coding.h"
#include "engine/ndb/format.h"
#include "engine/ndb/ids.h"

namespace parvane::ndb {

class BlockSource {
 public:
  virtual ~BlockSource() = default;
  // The data bytes of one block, decoded (data blocks) or as stored (internal
  // blocks). Throws NdbError if the block is unknown or damaged.
  virtual Bytes readBlock(Bid bid) const = 0;
};

// The decoded data blocks of a data tree (a single block, an XBLOCK or an XXBLOCK),
// in order. A zero BID is an empty stream.
std::vector<Bytes> readDataBlocks(const BlockSource& src, Bid root);
// The whole data stream of a data tree.
Bytes readData(const BlockSource& src, Bid root);
// Total bytes of a data tree without reading its data blocks.
std::uint64_t dataSize(const BlockSource& src, Bid root);

// Reads a data tree block by block without holding more than one block.
class DataReader {
 public:
  DataReader(const BlockSource& src, Bid root);
  std::uint64_t size() const { return size_; }
  // Next data block of the stream; false at the end.
  bool next(Bytes& block);

 private:
  const BlockSource& src_;
  struct Pending {
    Bid bid;
    int level;  // the cLevel it must have: 0 for a data block
  };
  std::vector<Pending> stack_;  // still to visit, last first
  std::uint64_t size_ = 0;
};

// The entries of a subnode tree (SLBLOCK, or SIBLOCK over SLBLOCKs) sorted by NID.
// A zero BID has no subnodes.
std::vector<SLENTRY> readSubnodes(const BlockSource& src, Bid root);

}  // namespace parvane::ndb
