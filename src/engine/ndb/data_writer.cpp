// DataWriter and SubnodeTreeBuilder: the two ways content becomes blocks.
#include <algorithm>
#include <array>

#include "engine/ndb/node_store.h"
#include "engine/ndb/store_impl.h"

namespace parvane::ndb {

// ---- DataWriter ----------------------------------------------------------------------------

// Most streams are a heap of one block: the list of leaves is lent by the
// store, so that a writer takes no allocation of its own.
DataWriter::DataWriter(NodeStore& store) : store_(&store), leaves_(std::move(store.impl_->spareLeaves)) {
  leaves_.clear();
}

void DataWriter::giveBackLeaves() {
  leaves_.clear();
  if (leaves_.capacity() > store_->impl_->spareLeaves.capacity()) store_->impl_->spareLeaves = std::move(leaves_);
}

DataWriter::DataWriter(DataWriter&& o) noexcept
    : store_(o.store_), chunk_(std::move(o.chunk_)), leaves_(std::move(o.leaves_)),
      leafBytes_(o.leafBytes_), xblocks_(std::move(o.xblocks_)), size_(o.size_), finished_(o.finished_) {
  o.finished_ = true;
}

DataWriter::~DataWriter() {
  if (finished_) return;
  try {
    for (Bid b : leaves_) store_->release(b);
    for (Bid b : xblocks_) store_->release(b);
    giveBackLeaves();
  } catch (...) {
    // the store has failed; its file stays as of its last commit
  }
}

void DataWriter::append(ByteView bytes) {
  if (finished_) throw NdbError("DataWriter: append after finish");
  if (size_ + bytes.size() > 0xFFFFFFFFull)
    throw NdbError::field("XXBLOCK", "lcbTotal", "a stream below 4 GB", std::to_string(size_ + bytes.size()) + " bytes");
  while (!bytes.empty()) {
    if (chunk_.empty() && bytes.size() >= kMaxBlockData) {
      Bid b = store_->writeDataBlock(bytes.first(kMaxBlockData));
      size_ += kMaxBlockData;
      pushLeaf(b, kMaxBlockData);
      bytes = bytes.subspan(kMaxBlockData);
      continue;
    }
    std::size_t n = std::min(bytes.size(), kMaxBlockData - chunk_.size());
    chunk_.insert(chunk_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    size_ += n;
    bytes = bytes.subspan(n);
    if (chunk_.size() == kMaxBlockData) flushChunk();
  }
}

void DataWriter::appendBlock(ByteView block) {
  if (finished_) throw NdbError("DataWriter: appendBlock after finish");
  if (block.empty()) return;
  if (block.size() > kMaxBlockData)
    throw NdbError::field("data block", "cb", "<= 8176", std::to_string(block.size()));
  flushChunk();
  Bid b = store_->writeDataBlock(block);
  size_ += block.size();
  pushLeaf(b, block.size());
}

void DataWriter::appendWritten(Bid bid, std::size_t cb) {
  if (finished_) throw NdbError("DataWriter: appendWritten after finish");
  if (cb == 0 || cb > kMaxBlockData || isInternalBid(bid))
    throw NdbError::field("data block " + hex(bid), "cb", "a data block of 1 to 8176 bytes", std::to_string(cb));
  if (size_ + cb > 0xFFFFFFFFull)
    throw NdbError::field("XXBLOCK", "lcbTotal", "a stream below 4 GB", std::to_string(size_ + cb) + " bytes");
  flushChunk();
  store_->retain(bid);
  size_ += cb;
  pushLeaf(bid, cb);
}

void DataWriter::flushChunk() {
  if (chunk_.empty()) return;
  Bid b = store_->writeDataBlock(chunk_);
  pushLeaf(b, chunk_.size());
  chunk_.clear();
}

void DataWriter::pushLeaf(Bid bid, std::size_t cb) {
  if (leaves_.size() == kXBlockMaxEntries) closeXBlock();
  leaves_.push_back(bid);
  leafBytes_ += static_cast<std::uint32_t>(cb);
}

void DataWriter::closeXBlock() {
  if (xblocks_.size() == kXBlockMaxEntries)
    throw NdbError::field("XXBLOCK", "cEnt", "<= 1021", "more XBLOCKs");
  XBLOCK x;
  x.cLevel = 1;
  x.lcbTotal = leafBytes_;
  x.rgbid = leaves_;
  Bid xb = store_->writeInternalBlock(encodeXBlock(x));
  xblocks_.push_back(xb);
  leaves_.clear();
  leafBytes_ = 0;
}

NodeData DataWriter::finish() {
  if (finished_) throw NdbError("DataWriter: finish called twice");
  flushChunk();
  NodeData out;
  out.size = size_;
  if (xblocks_.empty()) {
    if (leaves_.size() == 1) {
      out.bidData = leaves_[0];
    } else if (leaves_.size() > 1) {
      XBLOCK x;
      x.cLevel = 1;
      x.lcbTotal = leafBytes_;
      x.rgbid = leaves_;
      out.bidData = store_->writeInternalBlock(encodeXBlock(x));
    }
  } else {
    if (!leaves_.empty()) closeXBlock();
    XBLOCK xx;
    xx.cLevel = 2;
    xx.lcbTotal = static_cast<std::uint32_t>(size_);
    xx.rgbid = xblocks_;
    out.bidData = store_->writeInternalBlock(encodeXBlock(xx));
  }
  giveBackLeaves();
  xblocks_.clear();
  finished_ = true;
  return out;
}

// ---- SubnodeTreeBuilder ----------------------------------------------------------------------

SubnodeTreeBuilder::~SubnodeTreeBuilder() {
  if (!store_) return;
  try {
    for (const auto& e : entries_) {
      store_->release(e.bidData);
      store_->release(e.bidSub);
    }
  } catch (...) {
    // the store has failed; its file stays as of its last commit
  }
}

void SubnodeTreeBuilder::load(Bid bidSub) {
  for (const SLENTRY& e : readSubnodes(*store_, bidSub)) {
    store_->retain(e.bidData);
    store_->retain(e.bidSub);
    add(e.nid, NodeData{e.bidData, e.bidSub, 0});
  }
}

void SubnodeTreeBuilder::add(Nid nid, NodeData content) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), nid,
                             [](const SLENTRY& e, Nid n) { return e.nid < n; });
  if (it != entries_.end() && it->nid == nid) {
    SLENTRY old = *it;
    it->bidData = content.bidData;
    it->bidSub = content.bidSub;
    store_->release(old.bidData);
    store_->release(old.bidSub);
    return;
  }
  entries_.insert(it, SLENTRY{nid, content.bidData, content.bidSub});
}

void SubnodeTreeBuilder::clear() {
  // emptied first: a failing release leaves no entry to release twice
  std::vector<SLENTRY> held;
  held.swap(entries_);
  for (const auto& e : held) {
    store_->release(e.bidData);
    store_->release(e.bidSub);
  }
  held.clear();
  entries_.swap(held);
}

bool SubnodeTreeBuilder::remove(Nid nid) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), nid,
                             [](const SLENTRY& e, Nid n) { return e.nid < n; });
  if (it == entries_.end() || it->nid != nid) return false;
  SLENTRY old = *it;
  entries_.erase(it);
  store_->release(old.bidData);
  store_->release(old.bidSub);
  return true;
}

bool SubnodeTreeBuilder::contains(Nid nid) const { return find(nid).has_value(); }

std::optional<SLENTRY> SubnodeTreeBuilder::find(Nid nid) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), nid,
                             [](const SLENTRY& e, Nid n) { return e.nid < n; });
  if (it == entries_.end() || it->nid != nid) return std::nullopt;
  return *it;
}

Bid SubnodeTreeBuilder::write() {
  if (entries_.empty()) return 0;
  std::size_t n = entries_.size();
  // subnode NIDs count against the header's counters like node NIDs
  std::array<std::uint32_t, 32> last{};
  for (const auto& e : entries_) last[e.nid & 0x1F] = std::max(last[e.nid & 0x1F], nidIndex(e.nid));
  for (std::size_t t = 1; t < last.size(); ++t)
    if (last[t] > store_->nidCounter(static_cast<NidType>(t))) store_->setNidCounter(static_cast<NidType>(t), last[t]);
  if (n > kSlBlockMaxEntries * kSiBlockMaxEntries)
    throw NdbError::field("SIBLOCK", "cEnt", "<= 510 SLBLOCKs", std::to_string(n) + " subnodes");
  Bid root = 0;
  if (n <= kSlBlockMaxEntries) {
    encodeSlBlock(entries_, block_);
    root = store_->writeInternalBlock(block_);
  } else {
    // SLBLOCKs as evenly filled as possible
    std::size_t parts = (n + kSlBlockMaxEntries - 1) / kSlBlockMaxEntries;
    SUBNODEBLOCK top;
    top.cLevel = 1;
    std::size_t from = 0;
    for (std::size_t p = 0; p < parts; ++p) {
      std::size_t to = n * (p + 1) / parts;
      SUBNODEBLOCK s;
      s.leaves.assign(entries_.begin() + static_cast<std::ptrdiff_t>(from),
                      entries_.begin() + static_cast<std::ptrdiff_t>(to));
      Bid leaf = store_->writeInternalBlock(encodeSubnodeBlock(s));
      top.index.push_back(SIENTRY{entries_[from].nid, leaf});
      from = to;
    }
    root = store_->writeInternalBlock(encodeSubnodeBlock(top));
  }
  entries_.clear();
  return root;
}

}  // namespace parvane::ndb
