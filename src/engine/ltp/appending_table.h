// A table context that only grows at its end, rows arriving in ascending row
// id order (a folder's contents table as its messages are written), and that
// is written again and again while it grows.
//
// Only the unfinished parts are kept in memory: the heap's first block (its
// header, the row index's BTHHEADER and the TCINFO, which change with every
// row), the last bitmap block while blocks of its range are still filling,
// the heap block being filled, the row matrix block being filled and the row
// index leaf being filled: at most five blocks. A finished heap block, matrix
// block or index leaf goes to the store as it fills and is only referred to
// afterwards (by BID or HID), so a table of any length costs memory of about
// half a byte per row (11 bytes per heap block, 8 per matrix block, 8 per
// index leaf of 447 rows). finish() writes the table as it is now, sharing
// the finished blocks with the previous version; park() moves the unfinished
// blocks into the store too, until the next row, so that a table that is not
// growing costs only those references; letGo() parks it and hands those
// references over to a ParkedTable (a few dozen bytes for a table of up to a
// few hundred rows), from which a new AppendingTable takes the table up again.
//
// The result is a table as TableContextBuilder writes it: the row index's
// header first in the heap, the matrix in the heap while it fits one
// allocation, in a subnode after that.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "engine/ltp/format.h"
#include "engine/ltp/table_context.h"
#include "engine/ndb/node_store.h"

namespace parvane::ltp {

// A parked table let go of: the references to its blocks, nothing else. A
// table with a single heap block costs 48 bytes here; one past that, the
// references to its finished blocks too. Destroying it releases them.
class ParkedTable {
 public:
  ParkedTable() = default;
  ParkedTable(ParkedTable&& other) noexcept { *this = std::move(other); }
  ParkedTable& operator=(ParkedTable&& other) noexcept;
  ~ParkedTable();
  bool empty() const { return store_ == nullptr; }
  std::size_t rowCount() const { return rows_; }

 private:
  friend class AppendingTable;
  struct Finished {
    std::vector<ndb::Bid> written;
    std::vector<std::uint16_t> sizes;
    std::vector<std::uint8_t> levels;
    std::vector<ndb::Bid> matrixBlocks;
    std::vector<std::pair<std::uint32_t, Hid>> indexLeaves;
    std::vector<ndb::SLENTRY> bigCells;
  };
  void release() noexcept;

  ndb::NodeStore* store_ = nullptr;
  ndb::NodeData image_;  // the unfinished blocks, as park() writes them
  std::uint32_t rows_ = 0, lastRowId_ = 0;
  std::unique_ptr<Finished> finished_;  // null while there is none
};

class AppendingTable {
 public:
  AppendingTable(ndb::NodeStore& store, const TableColumns& columns);
  // Takes up a table let go of (see letGo()); `columns` must be the ones it
  // had. An empty ParkedTable gives a new table.
  AppendingTable(ndb::NodeStore& store, const TableColumns& columns, ParkedTable parked);
  ~AppendingTable();  // releases the blocks it holds
  AppendingTable(const AppendingTable&) = delete;
  AppendingTable& operator=(const AppendingTable&) = delete;

  const std::vector<ColumnDesc>& columns() const { return columns_; }
  std::uint16_t rowSize() const { return rgib_[TCI_bm]; }
  std::size_t rowCount() const { return rows_; }

  // Adds a row after the others. PidTagLtpRowId is `rowId`, which must be
  // above every earlier row's (LtpError otherwise, the table unchanged);
  // cells of tags without a column are ignored, the last cell of a tag wins.
  void appendRow(std::uint32_t rowId, std::span<const CellRef> cells);
  // Writes the table as it is now; the result holds its references. The
  // table goes on growing afterwards.
  ndb::NodeData finish();
  // Writes the unfinished blocks to the store and frees their memory; the
  // next appendRow() or finish() reads them back.
  void park();
  bool parked() const { return parked_.bidData != 0; }
  // Parks the table and hands every reference it holds to the result; the
  // table is left without rows or blocks, to be destroyed.
  ParkedTable letGo();

 private:
  struct Block {
    Bytes data;                         // header + allocations
    std::vector<std::uint16_t> starts;  // rgibAlloc without the end
  };
  using Blocks = std::map<std::size_t, Block>;  // by block index

  // The heap allocation of `bytes` at the end of `open` (blocks in memory,
  // the last one the heap's end), starting a new block when it does not fit;
  // `closed` is called with the index of the block that stops being the last.
  template <class Closed>
  Hid allocate(Blocks& open, ByteView bytes, Closed&& closed);
  // A block's page map and header (fill levels of the blocks it covers) into
  // a copy of its bytes.
  Bytes seal(const Blocks& open, std::size_t index, const Block& b) const;
  std::uint8_t levelOf(const Blocks& open, std::size_t index) const;
  std::size_t blockCount(const Blocks& open) const;
  // Writes block `index` of open_ for good and drops it from memory.
  void retire(std::size_t index);
  void startHeap();
  void unpark();
  void releaseAll() noexcept;

  ndb::NodeStore* store_;
  std::vector<ColumnDesc> columns_;
  std::uint16_t rgib_[4] = {0, 0, 0, 0};
  std::size_t rows_ = 0;
  std::uint32_t lastRowId_ = 0;

  // heap: blocks written for good (BID 0 while in memory), their sizes and
  // fill levels; the blocks still in memory
  std::vector<ndb::Bid> written_;
  std::vector<std::uint16_t> sizes_;
  std::vector<std::uint8_t> levels_;
  Blocks open_;
  // the row matrix: full blocks of matrixRowsPerBlock() rows, then the rows after them
  std::vector<ndb::Bid> matrixBlocks_;
  Bytes matrixTail_;
  // the row index: full leaves (first row id, HID), then the records after them
  std::vector<std::pair<std::uint32_t, Hid>> indexLeaves_;
  Bytes leafTail_;
  // cells too large for the heap, each a subnode holding one reference
  std::vector<ndb::SLENTRY> bigCells_;
  // the unfinished blocks while parked (one reference)
  ndb::NodeData parked_;
  // kept from one row to the next for their storage
  Bytes row_;
  std::vector<std::pair<const CellRef*, std::uint16_t>> vars_;
};

}  // namespace parvane::ltp
