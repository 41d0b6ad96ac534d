#include "engine/ndb/block_source.h"

#include <algorithm>

#include "engine/ndb/errors.h"

namespace parvane::ndb {

namespace {
// Expands an XBLOCK/XXBLOCK into its data block BIDs in order, checking levels.
void collectLeaves(const BlockSource& src, Bid bid, int expectLevel, std::vector<Bid>& out,
                   std::uint64_t* total) {
  if (!isInternalBid(bid)) {
    if (expectLevel > 0)
      throw NdbError::field("XXBLOCK", "rgbid", "an XBLOCK BID", "data block " + hex(bid));
    out.push_back(bid);
    return;
  }
  if (expectLevel == 0) throw NdbError::field("XBLOCK", "rgbid", "a data block BID", "internal block " + hex(bid));
  XBLOCK x = decodeXBlock(src.readBlock(bid));
  if (expectLevel > 0 && x.cLevel != expectLevel)
    throw NdbError::field("XBLOCK " + hex(bid), "cLevel", std::to_string(expectLevel), std::to_string(x.cLevel));
  if (total) *total = x.lcbTotal;
  for (Bid c : x.rgbid) collectLeaves(src, c, x.cLevel - 1, out, nullptr);
}
}  // namespace

std::vector<Bytes> readDataBlocks(const BlockSource& src, Bid root) {
  std::vector<Bytes> blocks;
  if (root == 0) return blocks;
  std::vector<Bid> leaves;
  std::uint64_t total = 0;
  collectLeaves(src, root, -1, leaves, &total);
  std::uint64_t sum = 0;
  for (Bid b : leaves) {
    blocks.push_back(src.readBlock(b));
    sum += blocks.back().size();
    if (isInternalBid(root) && sum > total) break;  // stop early on a tree that lies about its size
  }
  if (isInternalBid(root) && sum != total)
    throw NdbError::field("XBLOCK " + hex(root), "lcbTotal", std::to_string(sum), std::to_string(total));
  return blocks;
}

Bytes readData(const BlockSource& src, Bid root) {
  Bytes out;
  for (auto& b : readDataBlocks(src, root)) out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::uint64_t dataSize(const BlockSource& src, Bid root) {
  if (root == 0) return 0;
  Bytes b = src.readBlock(root);
  if (!isInternalBid(root)) return b.size();
  return decodeXBlock(b).lcbTotal;
}

DataReader::DataReader(const BlockSource& src, Bid root) : src_(src) {
  if (root == 0) return;
  if (!isInternalBid(root)) {
    stack_.push_back(Pending{root, 0});
    size_ = src_.readBlock(root).size();
    return;
  }
  XBLOCK x = decodeXBlock(src_.readBlock(root));
  size_ = x.lcbTotal;
  stack_.push_back(Pending{root, x.cLevel});
}

bool DataReader::next(Bytes& block) {
  while (!stack_.empty()) {
    Pending p = stack_.back();
    stack_.pop_back();
    if (p.level == 0) {
      if (isInternalBid(p.bid))
        throw NdbError::field("XBLOCK", "rgbid", "a data block BID", "internal block " + hex(p.bid));
      block = src_.readBlock(p.bid);
      return true;
    }
    if (!isInternalBid(p.bid))
      throw NdbError::field("XXBLOCK", "rgbid", "an XBLOCK BID", "data block " + hex(p.bid));
    XBLOCK x = decodeXBlock(src_.readBlock(p.bid));
    if (x.cLevel != p.level)
      throw NdbError::field("XBLOCK " + hex(p.bid), "cLevel", std::to_string(p.level), std::to_string(x.cLevel));
    for (auto it = x.rgbid.rbegin(); it != x.rgbid.rend(); ++it) stack_.push_back(Pending{*it, p.level - 1});
  }
  return false;
}

std::vector<SLENTRY> readSubnodes(const BlockSource& src, Bid root) {
  std::vector<SLENTRY> out;
  if (root == 0) return out;
  if (!isInternalBid(root)) throw NdbError::field("subnode tree", "bidSub", "an internal block", hex(root));
  SUBNODEBLOCK top = decodeSubnodeBlock(src.readBlock(root));
  if (top.cLevel == 0) {
    out = std::move(top.leaves);
  } else {
    for (const SIENTRY& e : top.index) {
      SUBNODEBLOCK leaf = decodeSubnodeBlock(src.readBlock(e.bid));
      if (leaf.cLevel != 0)
        throw NdbError::field("SIBLOCK " + hex(root), "SIENTRY.bid", "an SLBLOCK", "cLevel " + std::to_string(leaf.cLevel));
      out.insert(out.end(), leaf.leaves.begin(), leaf.leaves.end());
    }
  }
  for (std::size_t i = 1; i < out.size(); ++i)
    if (out[i].nid <= out[i - 1].nid)
      throw NdbError::field("SLBLOCK " + hex(root), "SLENTRY.nid", "ascending", hex(out[i].nid) + " after " + hex(out[i - 1].nid));
  return out;
}

}  // namespace parvane::ndb
