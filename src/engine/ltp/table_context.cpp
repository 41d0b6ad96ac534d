#include "engine/ltp/table_context.h"

#include <algorithm>
#include <bitset>
#include <cstring>

#include "engine/core/text.h"
#include "engine/ltp/bth.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

namespace {

bool isFixedCell(std::uint32_t tag) {
  auto f = fixedSize(tagType(tag));
  return f && *f <= 8;
}

void setBit(Bytes& row, std::size_t bm, std::uint8_t iBit) {
  row[bm + iBit / 8] = static_cast<std::uint8_t>(row[bm + iBit / 8] | (0x80u >> (iBit % 8)));
}
bool testBit(ByteView row, std::size_t bm, std::uint8_t iBit) {
  return (row[bm + iBit / 8] >> (7 - iBit % 8)) & 1;
}

// Derives the rgib boundaries from the descriptors and checks them.
void checkColumns(std::vector<ColumnDesc>& cols, std::uint16_t (&rgib)[4]) {
  const auto byTag = [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; };
  if (!std::is_sorted(cols.begin(), cols.end(), byTag)) std::sort(cols.begin(), cols.end(), byTag);
  if (cols.size() > 255) throw LtpError::field("TCINFO", "cCols", "<= 255", std::to_string(cols.size()));
  auto findCol = [&](std::uint32_t tag) -> const ColumnDesc* {
    for (const auto& c : cols)
      if (c.tag == tag) return &c;
    return nullptr;
  };
  const ColumnDesc* id = findCol(kTagLtpRowId);
  if (!id || id->ibData != 0 || id->cbData != 4 || id->iBit != 0)
    throw LtpError::field("TCOLDESC PidTagLtpRowId", "ibData/cbData/iBit", "0/4/0", id ? "other values" : "no such column");
  const ColumnDesc* ver = findCol(kTagLtpRowVer);
  if (!ver || ver->ibData != 4 || ver->cbData != 4 || ver->iBit != 1)
    throw LtpError::field("TCOLDESC PidTagLtpRowVer", "ibData/cbData/iBit", "4/4/1", ver ? "other values" : "no such column");
  std::size_t end4 = 0, end2 = 0, end1 = 0;
  std::bitset<256> bits;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const auto& c = cols[i];
    const auto what = [&c] { return "TCOLDESC " + hex(c.tag); };
    if (i && c.tag == cols[i - 1].tag) throw LtpError::field(what(), "tag", "distinct tags", "a repeated tag");
    PropType t = tagType(c.tag);
    if (!isKnownType(t)) throw LtpError::field(what(), "tag", "a known property type", hex(c.tag & 0xFFFF));
    if (c.cbData != columnWidth(t))
      throw LtpError::field(what(), "cbData", std::to_string(columnWidth(t)), std::to_string(c.cbData));
    if (c.iBit >= cols.size() || bits.test(c.iBit))
      throw LtpError::field(what(), "iBit", "a distinct bit below " + std::to_string(cols.size()), std::to_string(c.iBit));
    if ((c.cbData >= 4 && c.ibData % 4) || (c.cbData == 2 && c.ibData % 2))
      throw LtpError::field(what(), "ibData", "a multiple of " + std::to_string(std::min<int>(c.cbData, 4)),
                            std::to_string(c.ibData));
    bits.set(c.iBit);
    std::size_t end = std::size_t{c.ibData} + c.cbData;
    if (c.cbData >= 4) end4 = std::max(end4, end);
    else if (c.cbData == 2) end2 = std::max(end2, end);
    else end1 = std::max(end1, end);
  }
  end2 = std::max(end2, end4);
  end1 = std::max(end1, end2);
  rgib[TCI_4b] = static_cast<std::uint16_t>(end4);
  rgib[TCI_2b] = static_cast<std::uint16_t>(end2);
  rgib[TCI_1b] = static_cast<std::uint16_t>(end1);
  rgib[TCI_bm] = static_cast<std::uint16_t>(end1 + (cols.size() + 7) / 8);
  // at most 255 columns: the cells' spans, start << 32 | end, fit on the
  // stack, left uninitialised as each is written before it is read
  std::uint64_t spans[255];
  std::size_t nSpans = 0;
  for (const auto& c : cols) {
    std::size_t lo = c.cbData >= 4 ? 0 : c.cbData == 2 ? end4 : end2;
    std::size_t hi = c.cbData >= 4 ? end4 : c.cbData == 2 ? end2 : end1;
    if (c.ibData < lo || c.ibData + c.cbData > hi)
      throw LtpError::field("TCOLDESC " + hex(c.tag), "ibData", "inside [" + std::to_string(lo) + ", " + std::to_string(hi) + ")",
                            std::to_string(c.ibData));
    spans[nSpans++] = (std::uint64_t{c.ibData} << 32) | (std::uint64_t{c.ibData} + c.cbData);
  }
  std::sort(spans, spans + nSpans);
  for (std::size_t i = 1; i < nSpans; ++i)
    if ((spans[i] >> 32) < (spans[i - 1] & 0xFFFFFFFFu))
      throw LtpError::field("TCOLDESC", "ibData", "non-overlapping cells", "overlap at " + std::to_string(spans[i] >> 32));
}

}  // namespace

std::vector<ColumnDesc> layoutColumns(std::vector<std::uint32_t> tags) {
  std::sort(tags.begin(), tags.end());
  tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
  std::erase(tags, kTagLtpRowId);
  std::erase(tags, kTagLtpRowVer);
  std::vector<ColumnDesc> cols{{kTagLtpRowId, 0, 4, 0}, {kTagLtpRowVer, 4, 4, 1}};
  std::uint8_t bit = 2;
  for (auto t : tags) {
    cols.push_back(ColumnDesc{t, 0, columnWidth(tagType(t)), bit});
    bit = static_cast<std::uint8_t>(bit + 1);
  }
  std::uint16_t off = 8;
  for (std::uint8_t width : {std::uint8_t{8}, std::uint8_t{4}, std::uint8_t{2}, std::uint8_t{1}})
    for (auto& c : cols)
      if (c.tag != kTagLtpRowId && c.tag != kTagLtpRowVer && c.cbData == width) {
        c.ibData = off;
        off = static_cast<std::uint16_t>(off + width);
      }
  std::sort(cols.begin(), cols.end(), [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; });
  return cols;
}

TableColumns::TableColumns(std::vector<ColumnDesc> columns) : columns_(std::move(columns)) {
  checkColumns(columns_, rgib_);
}

TableContextBuilder::TableContextBuilder(ndb::NodeStore& store, std::vector<ColumnDesc> columns)
    : TableContextBuilder(store, TableColumns(std::move(columns))) {}

TableContextBuilder::TableContextBuilder(ndb::NodeStore& store, const TableColumns& columns)
    : store_(&store), columns_(columns.columns_), subnodes_(store) {
  std::copy(std::begin(columns.rgib_), std::end(columns.rgib_), std::begin(rgib_));
}

void TableContextBuilder::clear() {
  rows_.clear();
  rowData_.clear();
  deadBytes_ = 0;
  index_.clear();
}

void TableContextBuilder::reset(const TableColumns& columns) {
  clear();
  columns_ = columns.columns_;
  std::copy(std::begin(columns.rgib_), std::end(columns.rgib_), std::begin(rgib_));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>>::iterator TableContextBuilder::findIndex(std::uint32_t rowId) {
  if (index_.empty() || index_.back().first < rowId) return index_.end();
  return std::lower_bound(index_.begin(), index_.end(), rowId,
                          [](const std::pair<std::uint32_t, std::uint32_t>& e, std::uint32_t id) { return e.first < id; });
}

bool TableContextBuilder::hasRow(std::uint32_t rowId) const {
  auto it = std::lower_bound(index_.begin(), index_.end(), rowId,
                             [](const std::pair<std::uint32_t, std::uint32_t>& e, std::uint32_t id) { return e.first < id; });
  return it != index_.end() && it->first == rowId;
}

void TableContextBuilder::compact() {
  if (deadBytes_ < (std::size_t{1} << 16) || deadBytes_ < rowData_.size() / 2) return;
  Bytes live;
  live.reserve(rowData_.size() - deadBytes_);
  for (Row& r : rows_) {
    std::size_t at = live.size();
    live.insert(live.end(), rowData_.begin() + static_cast<std::ptrdiff_t>(r.offset),
                rowData_.begin() + static_cast<std::ptrdiff_t>(r.offset + r.size));
    r.offset = at;
  }
  rowData_ = std::move(live);
  deadBytes_ = 0;
}

TableContextBuilder TableContextBuilder::load(ndb::NodeStore& store, const ndb::NodeInfo& node) {
  TableContextReader r(store, node.bidData, node.bidSub);
  TableContextBuilder b(store, r.columns());
  for (const auto& row : r.rows()) {
    std::vector<Cell> cells;
    for (std::size_t i = 0; i < row.cells.size(); ++i)
      if (row.cells[i]) cells.push_back(Cell{r.columns()[i].tag, *row.cells[i]});
    b.setRow(row.id, cells);
  }
  return b;
}

const ColumnDesc* TableContextBuilder::column(std::uint32_t tag) const {
  auto it = std::lower_bound(columns_.begin(), columns_.end(), tag,
                             [](const ColumnDesc& c, std::uint32_t t) { return c.tag < t; });
  return it != columns_.end() && it->tag == tag ? &*it : nullptr;
}

void TableContextBuilder::setRow(std::uint32_t rowId, const std::vector<Cell>& cells) {
  std::vector<CellRef> refs;
  refs.reserve(cells.size());
  for (const Cell& c : cells) refs.push_back(CellRef{c.tag, c.value});
  setRowViews(rowId, refs);
}

void TableContextBuilder::setRowViews(std::uint32_t rowId, std::span<const CellRef> cells) {
  // the row is built at the end of the shared buffer, through offsets: the
  // buffer may move as it grows
  const std::size_t start = rowData_.size();
  try {
    rowData_.resize(start + rowSize(), 0);
    core::storeU32(rowData_.data() + start, rowId);
    setBit(rowData_, start + rgib_[TCI_1b], 0);
    std::vector<std::pair<const CellRef*, std::uint16_t>>& vars = vars_;  // the last cell of a tag wins
    vars.clear();
    // cells usually come in column order: the column after the last one found
    // is tried before a search
    std::size_t next = 0;
    for (const CellRef& cell : cells) {
      if (cell.tag == kTagLtpRowId) continue;
      // forward from there while the tags are below the cell's, else a search
      std::size_t k = next;
      while (k < columns_.size() && columns_[k].tag < cell.tag) ++k;
      const ColumnDesc* c = k < columns_.size() && columns_[k].tag == cell.tag ? &columns_[k] : column(cell.tag);
      if (!c) continue;
      next = static_cast<std::size_t>(c - columns_.data()) + 1;
      validateValue(cell.tag, cell.value);
      if (isFixedCell(cell.tag)) {
        // a checked fixed value is 1, 2, 4 or 8 bytes: copied at its width, without a call
        std::uint8_t* to = rowData_.data() + start + c->ibData;
        switch (cell.value.size()) {
          case 8: std::memcpy(to, cell.value.data(), 8); break;
          case 4: std::memcpy(to, cell.value.data(), 4); break;
          case 2: std::memcpy(to, cell.value.data(), 2); break;
          case 1: to[0] = cell.value[0]; break;
          default:
            if (!cell.value.empty()) std::memcpy(to, cell.value.data(), cell.value.size());
        }
      } else {
        auto it = std::find_if(vars.begin(), vars.end(),
                               [&](const std::pair<const CellRef*, std::uint16_t>& v) { return v.first->tag == cell.tag; });
        if (it != vars.end()) it->first = &cell;
        else vars.emplace_back(&cell, c->ibData);
      }
      setBit(rowData_, start + rgib_[TCI_1b], c->iBit);
    }
    std::size_t extra = 0;
    for (const auto& [v, ib] : vars) extra += 8 + v->value.size();
    std::size_t at = rowData_.size();
    rowData_.resize(at + extra);
    for (const auto& [v, ib] : vars) {
      core::storeU32(rowData_.data() + at, ib);
      core::storeU32(rowData_.data() + at + 4, static_cast<std::uint32_t>(v->value.size()));
      if (!v->value.empty()) std::memcpy(rowData_.data() + at + 8, v->value.data(), v->value.size());
      at += 8 + v->value.size();
    }
  } catch (...) {
    rowData_.resize(start);
    throw;
  }
  const Row row{rowId, start, rowData_.size() - start};
  auto found = findIndex(rowId);
  if (found != index_.end() && found->first == rowId) {
    Row& old = rows_[found->second];
    deadBytes_ += old.size;
    old = row;
    compact();
  } else {
    index_.insert(found, {rowId, static_cast<std::uint32_t>(rows_.size())});
    rows_.push_back(row);
  }
}

bool TableContextBuilder::removeRow(std::uint32_t rowId) {
  auto found = findIndex(rowId);
  if (found == index_.end() || found->first != rowId) return false;
  std::size_t pos = found->second;
  deadBytes_ += rows_[pos].size;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(pos));
  index_.erase(found);
  for (auto& [id, p] : index_)
    if (p > pos) --p;
  compact();
  return true;
}

ndb::NodeData TableContextBuilder::finish() {
  HeapBuilder& heap = heap_;
  heap.clear();
  ndb::SubnodeTreeBuilder& subnodes = subnodes_;
  subnodes.clear();  // what a failed finish() may have left
  std::uint32_t nextSub = 1;
  auto subnodeFor = [&](ndb::NodeData d) {
    Nid nid = ndb::makeNid(ndb::NidType::Ltp, nextSub++);
    subnodes.add(nid, d);
    return nid;
  };
  TCINFO& info = info_;
  info.rgTCOLDESC.assign(columns_.begin(), columns_.end());
  std::copy(std::begin(rgib_), std::end(rgib_), std::begin(info.rgib));
  // The row index comes first in the heap, as in Outlook's files: some readers
  // look for its header at the heap's first allocation.
  // row index: row id -> position in the matrix, as the BTH leaves hold it
  Bytes& index = indexBytes_;
  index.resize(index_.size() * (kRowIndexKeySize + kRowIndexEntSize));
  for (std::size_t i = 0; i < index_.size(); ++i) {
    core::storeU32(index.data() + 8 * i, index_[i].first);
    core::storeU32(index.data() + 8 * i + 4, index_[i].second);
  }
  info.hidRowIndex = buildBthPacked(heap, kRowIndexKeySize, kRowIndexEntSize, index);
  Hid hidInfo = heap.allocate(kTcInfoFixedSize + kTcolDescSize * columns_.size());

  // variable cells, then the matrix with their HNIDs filled in
  Bytes& matrix = matrix_;
  matrix.resize(rows_.size() * rowSize());
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const std::uint8_t* data = rowData_.data() + rows_[r].offset;
    const std::size_t size = rows_[r].size;
    std::uint8_t* out = matrix.data() + r * rowSize();
    std::memcpy(out, data, rowSize());
    for (std::size_t p = rowSize(); p < size;) {
      std::uint32_t ib = core::loadU32(data + p);
      std::uint32_t cb = core::loadU32(data + p + 4);
      ByteView value(data + p + 8, cb);
      p += 8 + cb;
      Hnid h = value.empty() ? 0 : value.size() > kMaxHeapAlloc ? subnodeFor(store_->writeData(value)) : heap.allocate(value);
      core::storeU32(out + ib, h);
    }
  }
  if (rows_.empty()) {
    info.hnidRows = 0;
  } else if (matrix.size() <= kMaxHeapAlloc) {
    info.hnidRows = heap.allocate(matrix);
  } else {
    std::size_t perBlock = ndb::kMaxBlockData / rowSize();
    ndb::DataWriter w = store_->newData();
    // every block but the last padded to the whole 8176 bytes, as Outlook
    // writes them: readers find row r at the start of block r / perBlock
    Bytes block;
    for (std::size_t i = 0; i < rows_.size(); i += perBlock) {
      std::size_t n = std::min(perBlock, rows_.size() - i);
      block.assign(matrix.data() + i * rowSize(), matrix.data() + (i + n) * rowSize());
      if (i + n < rows_.size()) block.resize(ndb::kMaxBlockData);
      w.appendBlock(block);
    }
    info.hnidRows = subnodeFor(w.finish());
  }
  encodeTcInfo(info, heap.at(hidInfo));
  heap.setUserRoot(hidInfo);
  ndb::NodeData data = heap.write(*store_);
  if (nextSub - 1 > store_->nidCounter(ndb::NidType::Ltp)) store_->setNidCounter(ndb::NidType::Ltp, nextSub - 1);
  data.bidSub = subnodes.write();
  return data;
}

// ---- reader ------------------------------------------------------------------------------

TableContextReader::TableContextReader(const ndb::BlockSource& src, ndb::Bid bidData, ndb::Bid bidSub) {
  HeapReader heap(ndb::readDataBlocks(src, bidData));
  if (heap.clientSig() != ClientSig::TC)
    throw LtpError::field("HNHDR", "bClientSig", "0x7C (table context)", hex(static_cast<std::uint8_t>(heap.clientSig())));
  TCINFO info = decodeTcInfo(heap.get(heap.userRoot()));
  columns_ = info.rgTCOLDESC;
  std::uint16_t rgib[4];
  checkColumns(columns_, rgib);
  for (int i = 0; i < 4; ++i)
    if (rgib[i] != info.rgib[i])
      throw LtpError::field("TCINFO", "rgib[" + std::to_string(i) + "]", std::to_string(rgib[i]), std::to_string(info.rgib[i]));
  rowSize_ = info.rgib[TCI_bm];
  auto subs = ndb::readSubnodes(src, bidSub);
  auto subData = [&](Nid nid) {
    for (const auto& s : subs)
      if (s.nid == nid) return s.bidData;
    throw LtpError::field("TC", "HNID", "an existing subnode", hex(nid));
  };
  auto idx = readBth(heap, info.hidRowIndex, kRowIndexKeySize, kRowIndexEntSize);
  std::size_t n = idx.size();
  std::vector<Bytes> blocks;
  std::size_t perBlock = 0;
  if (info.hnidRows == 0) {
    if (n) throw LtpError::field("TCINFO", "hnidRows", "a row matrix for " + std::to_string(n) + " rows", "0");
  } else if (isHid(info.hnidRows)) {
    ByteView m = heap.get(info.hnidRows);
    if (m.size() != n * rowSize_)
      throw LtpError::field("TC row matrix", "size", std::to_string(n * rowSize_), std::to_string(m.size()));
    blocks.emplace_back(m.begin(), m.end());
    perBlock = n;
  } else {
    matrixInSubnode_ = true;
    blocks = ndb::readDataBlocks(src, subData(info.hnidRows));
    perBlock = ndb::kMaxBlockData / rowSize_;
  }
  rows_.resize(n);
  std::vector<bool> seen(n);
  for (const auto& rec : idx) {
    std::uint32_t ri = core::loadU32(rec.data.data());
    if (ri >= n || seen[ri])
      throw LtpError::field("TC row index", "dwRowIndex", "a distinct row below " + std::to_string(n), std::to_string(ri));
    seen[ri] = true;
    std::size_t bi = perBlock ? ri / perBlock : 0, off = perBlock ? (ri % perBlock) * rowSize_ : 0;
    if (bi >= blocks.size() || off + rowSize_ > blocks[bi].size())
      throw LtpError::field("TC row matrix", "rows", std::to_string(n), "fewer");
    ByteView row(blocks[bi].data() + off, rowSize_);
    TableRow& out = rows_[ri];
    out.id = core::loadU32(row.data());
    if (out.id != rec.key)
      throw LtpError::field("TC row " + std::to_string(ri), "dwRowID", hex(rec.key), hex(out.id));
    out.cells.resize(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const auto& col = columns_[c];
      if (!testBit(row, info.rgib[TCI_1b], col.iBit)) continue;
      ByteView cell = row.subspan(col.ibData, col.cbData);
      if (isFixedCell(col.tag)) {
        out.cells[c] = Bytes(cell.begin(), cell.end());
      } else {
        Hnid h = core::loadU32(cell.data());
        if (isHid(h)) {
          ByteView v = heap.get(h);
          out.cells[c] = Bytes(v.begin(), v.end());
        } else {
          out.cells[c] = ndb::readData(src, subData(h));
        }
      }
    }
  }
}

const TableRow* TableContextReader::findRow(std::uint32_t id) const {
  for (const auto& r : rows_)
    if (r.id == id) return &r;
  return nullptr;
}

std::optional<std::size_t> TableContextReader::columnIndex(std::uint32_t tag) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].tag == tag) return i;
  return std::nullopt;
}

}  // namespace parvane::ltp
