// Blocks of a store: writing, reading back, and their reference counts.
#include <cstring>

#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

Bid NodeStore::Impl::writeBlock(ByteView data, bool internal) {
  if (data.size() > kMaxBlockData)
    throw NdbError::field("block", "cb", "<= 8176", std::to_string(data.size()));
  Bid bid = header.bidNextB | (internal ? 2u : 0u);
  header.bidNextB += 4;
  std::size_t disk = blockDiskSize(data.size());
  std::uint64_t ib = allocate(disk, false);
  // encoded and sealed by the writer, while the next blocks are built
  stage(ib, disk, data);
  batch.blocks.push_back(StagedBlock{static_cast<std::uint32_t>(ib - batch.ib), static_cast<std::uint16_t>(data.size()),
                                     !internal && header.bCryptMethod != CryptMethod::None, bid});
  bbt.put(BlockRec{bid, ib, static_cast<std::uint16_t>(data.size()), 1});
  bytesSinceCommit += disk;
  changed = true;
  return bid;
}

Bytes NodeStore::Impl::readBlock(Bid bid) {
  const BlockRec* r = bbt.find(bid);
  if (!r) throw NdbError::field("BBT", "bid", "a block of this store", hex(bid));
  std::size_t disk = blockDiskSize(r->cb);
  Bytes raw(disk);
  if (readBack(r->ib, raw) != disk)
    throw NdbError::field("block " + hex(bid), "ib", "inside the file", hex(r->ib));
  ByteView stored = checkBlock(raw, r->cb, bid, r->ib);
  Bytes out(stored.begin(), stored.end());
  if (!isInternalBid(bid)) decodeData(header.bCryptMethod, out, bid);
  return out;
}

void NodeStore::Impl::retain(Bid bid) {
  if (bid == 0) return;
  BlockRec* r = bbt.modify(bid);
  if (!r) throw NdbError::field("BBT", "bid", "a block of this store", hex(bid));
  if (r->refs >= 0xFFFE) throw NdbError::field("BBTENTRY " + hex(bid), "cRef", "<= 0xFFFF", "one more reference");
  ++r->refs;
  changed = true;
}

void NodeStore::Impl::release(Bid first) {
  if (first == 0) return;
  // the common case: a block that keeps other references
  if (BlockRec* r = bbt.modify(first); r && r->refs > 1) {
    --r->refs;
    changed = true;
    return;
  }
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

}  // namespace parvane::ndb
