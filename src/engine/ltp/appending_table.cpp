#include "engine/ltp/appending_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/core/text.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

namespace {

constexpr Hid kRowIndexHeader = makeHid(0, 1);  // the heap's first allocation
constexpr Hid kTcInfo = makeHid(0, 2);
constexpr std::size_t kLeafRecords = kMaxHeapAlloc / (kRowIndexKeySize + kRowIndexEntSize);  // 447
constexpr std::size_t kLeafBytes = kLeafRecords * (kRowIndexKeySize + kRowIndexEntSize);

bool isBitmapBlock(std::size_t i) { return i >= 8 && (i - 8) % 128 == 0; }
std::size_t pageMapSize(std::size_t allocs) { return 4 + 2 * (allocs + 1); }

}  // namespace

AppendingTable::AppendingTable(ndb::NodeStore& store, const TableColumns& columns)
    : store_(&store), columns_(columns.columns()) {
  std::copy(std::begin(columns.rgib_), std::end(columns.rgib_), std::begin(rgib_));
  startHeap();
}

AppendingTable::AppendingTable(ndb::NodeStore& store, const TableColumns& columns, ParkedTable parked)
    : store_(&store), columns_(columns.columns()) {
  std::copy(std::begin(columns.rgib_), std::end(columns.rgib_), std::begin(rgib_));
  if (parked.image_.bidData == 0) {
    startHeap();
    return;
  }
  // the references pass from `parked` to this table
  parked_ = parked.image_;
  rows_ = parked.rows_;
  lastRowId_ = parked.lastRowId_;
  if (auto& f = parked.finished_) {
    written_ = std::move(f->written);
    sizes_ = std::move(f->sizes);
    levels_ = std::move(f->levels);
    matrixBlocks_ = std::move(f->matrixBlocks);
    indexLeaves_ = std::move(f->indexLeaves);
    bigCells_ = std::move(f->bigCells);
  }
  parked.image_ = {};
  parked.finished_.reset();
  parked.store_ = nullptr;
}

void AppendingTable::startHeap() {
  Block& first = open_[0];
  first.data.assign(kHnHdrSize, 0);
  const auto none = [](std::size_t) {};
  allocate(open_, Bytes(kBthHeaderSize, 0), none);
  allocate(open_, Bytes(kTcInfoFixedSize + kTcolDescSize * columns_.size(), 0), none);
}

ParkedTable AppendingTable::letGo() {
  park();
  ParkedTable out;
  if (!parked()) return out;  // a table without rows holds nothing
  out.store_ = store_;
  out.image_ = parked_;
  out.rows_ = static_cast<std::uint32_t>(rows_);
  out.lastRowId_ = lastRowId_;
  if (!written_.empty() || !matrixBlocks_.empty() || !indexLeaves_.empty() || !bigCells_.empty()) {
    out.finished_ = std::make_unique<ParkedTable::Finished>(ParkedTable::Finished{
        std::move(written_), std::move(sizes_), std::move(levels_), std::move(matrixBlocks_),
        std::move(indexLeaves_), std::move(bigCells_)});
  }
  written_.clear();
  matrixBlocks_.clear();
  bigCells_.clear();
  indexLeaves_.clear();
  parked_ = {};
  rows_ = 0;
  return out;
}

ParkedTable& ParkedTable::operator=(ParkedTable&& other) noexcept {
  if (this != &other) {
    release();
    store_ = std::exchange(other.store_, nullptr);
    image_ = std::exchange(other.image_, {});
    rows_ = other.rows_;
    lastRowId_ = other.lastRowId_;
    finished_ = std::move(other.finished_);
  }
  return *this;
}

ParkedTable::~ParkedTable() { release(); }

void ParkedTable::release() noexcept {
  if (!store_) return;
  try {
    if (finished_) {
      for (ndb::Bid b : finished_->written) store_->release(b);
      for (ndb::Bid b : finished_->matrixBlocks) store_->release(b);
      for (const auto& e : finished_->bigCells) store_->release(e.bidData);
    }
    store_->release(image_);
  } catch (...) {
    // the store has failed or is closed; its file stays as of its last commit
  }
  store_ = nullptr;
  image_ = {};
  finished_.reset();
}

AppendingTable::~AppendingTable() { releaseAll(); }

void AppendingTable::releaseAll() noexcept {
  try {
    for (ndb::Bid b : written_) store_->release(b);
    for (ndb::Bid b : matrixBlocks_) store_->release(b);
    for (const auto& e : bigCells_) store_->release(e.bidData);
    store_->release(parked_);
  } catch (...) {
    // the store has failed or is closed; its file stays as of its last commit
  }
  written_.clear();
  matrixBlocks_.clear();
  bigCells_.clear();
  parked_ = {};
}

template <class Closed>
Hid AppendingTable::allocate(Blocks& open, ByteView bytes, Closed&& closed) {
  if (bytes.size() > kMaxHeapAlloc)
    throw LtpError::field("heap allocation", "size", "<= 3580 bytes", std::to_string(bytes.size()) + " bytes");
  auto last = std::prev(open.end());
  const auto fits = [&](const Block& b) {
    std::size_t end = b.data.size() + bytes.size();
    end += end & 1;  // the page map starts at an even offset
    return b.starts.size() < kMaxHeapAllocsPerBlock && end + pageMapSize(b.starts.size() + 1) <= kMaxHeapBlockSize;
  };
  if (!fits(last->second)) {
    const std::size_t next = last->first + 1;
    if (next >= 0xFFFF) throw LtpError::field("heap", "block count", "< 65535", "more");
    Block& b = open[next];
    b.data.assign(heapBlockHeaderSize(next), 0);
    closed(last->first);
    last = open.find(next);
  }
  Block& b = last->second;
  b.starts.push_back(static_cast<std::uint16_t>(b.data.size()));
  b.data.insert(b.data.end(), bytes.begin(), bytes.end());
  return makeHid(static_cast<std::uint16_t>(last->first), static_cast<std::uint16_t>(b.starts.size()));
}

std::size_t AppendingTable::blockCount(const Blocks& open) const {
  return std::max(written_.size(), open.rbegin()->first + 1);
}

std::uint8_t AppendingTable::levelOf(const Blocks& open, std::size_t index) const {
  if (auto it = open.find(index); it != open.end()) {
    const Block& b = it->second;
    return fillLevel(kMaxHeapBlockSize - (b.data.size() + (b.data.size() & 1) + pageMapSize(b.starts.size())));
  }
  return index < levels_.size() ? levels_[index] : 0;
}

Bytes AppendingTable::seal(const Blocks& open, std::size_t index, const Block& b) const {
  const std::size_t end = b.data.size(), ibHnpm = end + (end & 1);
  Bytes d(b.data);
  d.resize(ibHnpm + pageMapSize(b.starts.size()));
  std::uint8_t* map = d.data() + ibHnpm;
  core::storeU16(map, static_cast<std::uint16_t>(b.starts.size()));  // cAlloc
  core::storeU16(map + 2, 0);                                        // cFree
  for (std::size_t k = 0; k < b.starts.size(); ++k) core::storeU16(map + 4 + 2 * k, b.starts[k]);
  core::storeU16(map + 4 + 2 * b.starts.size(), static_cast<std::uint16_t>(end));
  core::storeU16(d.data(), static_cast<std::uint16_t>(ibHnpm));
  if (index == 0) {
    d[2] = kHnSignature;
    d[3] = static_cast<std::uint8_t>(ClientSig::TC);
    core::storeU32(d.data() + 4, kTcInfo);
    for (std::size_t j = 0; j < 8; ++j) d[8 + j / 2] = static_cast<std::uint8_t>(d[8 + j / 2] | (levelOf(open, j) << (4 * (j & 1))));
  } else if (isBitmapBlock(index)) {
    for (std::size_t j = 0; j < 128; ++j)
      d[2 + j / 2] = static_cast<std::uint8_t>(d[2 + j / 2] | (levelOf(open, index + j) << (4 * (j & 1))));
  }
  return d;
}

void AppendingTable::retire(std::size_t index) {
  auto it = open_.find(index);
  Bytes sealed = seal(open_, index, it->second);
  const ndb::Bid bid = store_->writeDataBlock(sealed);
  if (written_.size() <= index) {
    written_.resize(index + 1, 0);
    sizes_.resize(index + 1, 0);
    levels_.resize(index + 1, 0);
  }
  written_[index] = bid;
  sizes_[index] = static_cast<std::uint16_t>(sealed.size());
  levels_[index] = fillLevel(kMaxHeapBlockSize - sealed.size());
  open_.erase(it);
}

void AppendingTable::appendRow(std::uint32_t rowId, std::span<const CellRef> cells) {
  if (rows_ && rowId <= lastRowId_)
    throw LtpError::field("TC row", "dwRowID", "above " + hex(lastRowId_), hex(rowId));
  unpark();
  // the row's cells, checked before anything is allocated
  const std::size_t bm = rgib_[TCI_1b];
  row_.assign(rowSize(), 0);
  core::storeU32(row_.data(), rowId);
  row_[bm] |= 0x80;  // PidTagLtpRowId exists
  vars_.clear();
  for (const CellRef& cell : cells) {
    if (cell.tag == kTagLtpRowId) continue;
    auto c = std::lower_bound(columns_.begin(), columns_.end(), cell.tag,
                              [](const ColumnDesc& d, std::uint32_t t) { return d.tag < t; });
    if (c == columns_.end() || c->tag != cell.tag) continue;
    validateValue(cell.tag, cell.value);
    auto fixed = fixedSize(tagType(cell.tag));
    if (fixed && *fixed <= 8) {
      if (!cell.value.empty()) std::memcpy(row_.data() + c->ibData, cell.value.data(), cell.value.size());
    } else {
      auto it = std::find_if(vars_.begin(), vars_.end(), [&](const auto& v) { return v.first->tag == cell.tag; });
      if (it != vars_.end()) it->first = &cell;
      else vars_.emplace_back(&cell, c->ibData);
    }
    row_[bm + c->iBit / 8] = static_cast<std::uint8_t>(row_[bm + c->iBit / 8] | (0x80u >> (c->iBit % 8)));
  }
  const auto closed = [this](std::size_t index) {
    const std::size_t next = index + 1;
    // a bitmap block waits for the blocks it describes, the first block for the end
    if (index != 0 && !isBitmapBlock(index)) retire(index);
    if (isBitmapBlock(next) && next >= 136) retire(next - 128);
  };
  for (const auto& [v, ib] : vars_) {
    Hnid h = 0;
    if (v->value.size() > kMaxHeapAlloc) {
      const ndb::Nid nid = ndb::makeNid(ndb::NidType::Ltp, static_cast<std::uint32_t>(bigCells_.size() + 1));
      const ndb::NodeData d = store_->writeData(v->value);
      bigCells_.push_back(ndb::SLENTRY{nid, d.bidData, 0});
      h = nid;
    } else if (!v->value.empty()) {
      h = allocate(open_, v->value, closed);
    }
    core::storeU32(row_.data() + ib, h);
  }
  // the matrix: a block goes to the store when it holds as many rows as fit
  matrixTail_.insert(matrixTail_.end(), row_.begin(), row_.end());
  if (matrixTail_.size() + rowSize() > ndb::kMaxBlockData) {
    // a full block is padded to the whole 8176 bytes, as Outlook writes it:
    // readers find row r in block r / (8176 / row size) at that block's start
    matrixTail_.resize(ndb::kMaxBlockData);
    matrixBlocks_.push_back(store_->writeDataBlock(matrixTail_));
    matrixTail_.clear();
  }
  // the row index: a full leaf goes into the heap for good
  core::ByteWriter w(leafTail_);
  w.u32(rowId);
  w.u32(static_cast<std::uint32_t>(rows_));
  if (leafTail_.size() == kLeafBytes) {
    indexLeaves_.emplace_back(core::loadU32(leafTail_.data()), allocate(open_, leafTail_, closed));
    leafTail_.clear();
  }
  ++rows_;
  lastRowId_ = rowId;
}

ndb::NodeData AppendingTable::finish() {
  unpark();
  Blocks snap = open_;  // this version's own allocations go into a copy
  const auto none = [](std::size_t) {};
  // the row index: full leaves, the last one, the index levels over them
  std::vector<std::pair<std::uint32_t, Hid>> level = indexLeaves_;
  if (!leafTail_.empty()) level.emplace_back(core::loadU32(leafTail_.data()), allocate(snap, leafTail_, none));
  std::uint8_t levels = 0;
  while (level.size() > 1) {
    std::vector<std::pair<std::uint32_t, Hid>> up;
    for (std::size_t i = 0; i < level.size(); i += kLeafRecords) {
      Bytes node;
      core::ByteWriter w(node);
      for (std::size_t j = i; j < level.size() && j < i + kLeafRecords; ++j) {
        w.u32(level[j].first);
        w.u32(level[j].second);
      }
      up.emplace_back(level[i].first, allocate(snap, node, none));
    }
    level = std::move(up);
    ++levels;
  }
  const bool matrixInHeap = matrixBlocks_.empty() && matrixTail_.size() <= kMaxHeapAlloc;
  const ndb::Nid matrixNid = ndb::makeNid(ndb::NidType::Ltp, static_cast<std::uint32_t>(bigCells_.size() + 1));
  TCINFO info;
  info.rgTCOLDESC = columns_;
  std::copy(std::begin(rgib_), std::end(rgib_), std::begin(info.rgib));
  info.hidRowIndex = kRowIndexHeader;
  info.hnidRows = rows_ == 0 ? 0 : matrixInHeap ? allocate(snap, matrixTail_, none) : matrixNid;
  Block& first = snap.at(0);
  std::uint8_t* header = first.data.data() + first.starts[0];
  header[0] = static_cast<std::uint8_t>(ClientSig::BTH);
  header[1] = kRowIndexKeySize;
  header[2] = kRowIndexEntSize;
  header[3] = levels;
  core::storeU32(header + 4, level.empty() ? 0 : level[0].second);
  encodeTcInfo(info, std::span<std::uint8_t>(first.data.data() + first.starts[1], kTcInfoFixedSize + kTcolDescSize * columns_.size()));

  ndb::DataWriter heap = store_->newData();
  for (std::size_t i = 0, n = blockCount(snap); i < n; ++i) {
    if (auto it = snap.find(i); it != snap.end()) heap.appendBlock(seal(snap, i, it->second));
    else heap.appendWritten(written_[i], sizes_[i]);
  }
  ndb::NodeData out = heap.finish();
  try {
    ndb::SubnodeTreeBuilder subnodes(*store_);
    for (const auto& e : bigCells_) {
      store_->retain(e.bidData);
      subnodes.add(e.nid, ndb::NodeData{e.bidData, 0, 0});
    }
    std::uint32_t lastSub = static_cast<std::uint32_t>(bigCells_.size());
    if (rows_ && !matrixInHeap) {
      ndb::DataWriter matrix = store_->newData();
      for (ndb::Bid b : matrixBlocks_) matrix.appendWritten(b, ndb::kMaxBlockData);
      if (!matrixTail_.empty()) matrix.appendBlock(matrixTail_);
      subnodes.add(matrixNid, matrix.finish());
      ++lastSub;
    }
    if (lastSub > store_->nidCounter(ndb::NidType::Ltp)) store_->setNidCounter(ndb::NidType::Ltp, lastSub);
    out.bidSub = subnodes.write();
  } catch (...) {
    store_->release(out);
    throw;
  }
  return out;
}

// Parked: the blocks in memory as one stream of (index, size, bytes, count,
// starts) per block, then the matrix's and the row index's unfinished parts.
void AppendingTable::park() {
  if (parked() || rows_ == 0) return;  // an empty table is a few hundred bytes
  Bytes image;
  core::ByteWriter w(image);
  w.u32(static_cast<std::uint32_t>(open_.size()));
  for (const auto& [index, b] : open_) {
    w.u32(static_cast<std::uint32_t>(index));
    w.u32(static_cast<std::uint32_t>(b.data.size()));
    w.bytes(b.data);
    w.u32(static_cast<std::uint32_t>(b.starts.size()));
    for (std::uint16_t s : b.starts) w.u16(s);
  }
  w.u32(static_cast<std::uint32_t>(matrixTail_.size()));
  w.bytes(matrixTail_);
  w.u32(static_cast<std::uint32_t>(leafTail_.size()));
  w.bytes(leafTail_);
  parked_ = store_->writeData(image);
  Blocks().swap(open_);
  Bytes().swap(matrixTail_);
  Bytes().swap(leafTail_);
  Bytes().swap(row_);
}

void AppendingTable::unpark() {
  if (!parked()) return;
  const Bytes image = ndb::readData(*store_, parked_.bidData);
  std::size_t at = 0;
  const auto need = [&](std::size_t n) {
    if (image.size() - at < n) throw LtpError::field("parked table", "size", "the blocks it names", std::to_string(image.size()));
  };
  const auto u32 = [&] {
    need(4);
    at += 4;
    return core::loadU32(image.data() + at - 4);
  };
  const auto bytes = [&](std::size_t n) {
    need(n);
    at += n;
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(at - n), image.begin() + static_cast<std::ptrdiff_t>(at));
  };
  Blocks open;
  for (std::uint32_t n = u32(); n > 0; --n) {
    const std::uint32_t index = u32();
    Block& b = open[index];
    b.data = bytes(u32());
    b.starts.resize(u32());
    for (auto& s : b.starts) {
      need(2);
      s = core::loadU16(image.data() + at);
      at += 2;
    }
  }
  Bytes matrix = bytes(u32());
  Bytes leaf = bytes(u32());
  if (open.empty() || open.begin()->first != 0)
    throw LtpError::field("parked table", "blocks", "the heap's first block", "none");
  store_->release(parked_);
  parked_ = {};
  open_ = std::move(open);
  matrixTail_ = std::move(matrix);
  leafTail_ = std::move(leaf);
}

}  // namespace parvane::ltp
