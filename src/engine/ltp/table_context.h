// Table context: rows of fixed-layout cells in a heap. The column descriptors
// (tag, offset, width, cell-existence bit) come from the caller, e.g. copied
// from Outlook's table templates, or from layoutColumns(). Rows are kept in
// insertion order in the row matrix and indexed by row id in a BTH; the matrix
// lives in the heap while it fits one allocation, else in a subnode. Variable
// cells (strings, binaries...) are stored like property values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/ltp/format.h"
#include "engine/ltp/heap.h"
#include "engine/ndb/block_source.h"
#include "engine/ndb/node_store.h"

namespace parvane::ltp {

using ColumnDesc = TCOLDESC;

// Lays out columns like Outlook: LtpRowId at 0 (bit 0) and LtpRowVer at 4
// (bit 1) first, then 8-byte, 4-byte, 2-byte and 1-byte cells, then the
// cell-existence bitmap. The two row columns are added if missing.
std::vector<ColumnDesc> layoutColumns(std::vector<std::uint32_t> tags);

struct Cell {
  std::uint32_t tag = 0;
  Bytes value;  // stored bytes, as for PropertyContextBuilder::set
};
// A cell whose bytes belong to the caller; setRowViews copies them.
struct CellRef {
  std::uint32_t tag = 0;
  ByteView value;
};

// Column descriptors checked once, for many tables of the same columns.
class TableColumns {
 public:
  // Validates the descriptors (the two row columns in place, widths, no overlap,
  // distinct bits) and sorts them by tag. Throws LtpError.
  explicit TableColumns(std::vector<ColumnDesc> columns);
  const std::vector<ColumnDesc>& columns() const { return columns_; }

 private:
  friend class TableContextBuilder;
  friend class AppendingTable;
  std::vector<ColumnDesc> columns_;
  std::uint16_t rgib_[4] = {0, 0, 0, 0};
};

class TableContextBuilder {
 public:
  // Validates the descriptors (the two row columns in place, widths, no overlap,
  // distinct bits) and sorts them by tag. Throws LtpError.
  TableContextBuilder(ndb::NodeStore& store, std::vector<ColumnDesc> columns);
  TableContextBuilder(ndb::NodeStore& store, const TableColumns& columns);
  // Starts from an existing table node to add, change or remove rows.
  static TableContextBuilder load(ndb::NodeStore& store, const ndb::NodeInfo& node);

  const std::vector<ColumnDesc>& columns() const { return columns_; }
  std::uint16_t rowSize() const { return rgib_[TCI_bm]; }

  // Adds the row or replaces its cells (keeping its place). PidTagLtpRowId is
  // always `rowId`; cells of tags without a column are ignored.
  void setRow(std::uint32_t rowId, const std::vector<Cell>& cells);
  void setRowViews(std::uint32_t rowId, std::span<const CellRef> cells);
  bool removeRow(std::uint32_t rowId);
  bool hasRow(std::uint32_t rowId) const;
  std::size_t rowCount() const { return rows_.size(); }
  // Drops every row; the builder keeps its storage for the next table.
  void clear();
  // clear(), and the columns become `columns`.
  void reset(const TableColumns& columns);

  // Writes heap, row matrix and subnodes; the result holds the references.
  // The builder keeps its rows and can be written again after more changes.
  ndb::NodeData finish();

 private:
  // A row is `size` bytes at `offset` of rowData_: rowSize bytes of cells as
  // in the row matrix (variable cells 0), then each variable cell as the
  // offset of its column in the row (4), size (4), bytes: finish() places it
  // without looking its column up again. All rows share the one buffer; a replaced or removed
  // row's bytes stay there until compact().
  struct Row {
    std::uint32_t id = 0;
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  const ColumnDesc* column(std::uint32_t tag) const;
  // The index entry of `rowId`, or where it would go.
  std::vector<std::pair<std::uint32_t, std::uint32_t>>::iterator findIndex(std::uint32_t rowId);
  // Drops the bytes of replaced and removed rows once they are most of the buffer.
  void compact();

  ndb::NodeStore* store_;
  std::vector<ColumnDesc> columns_;
  std::uint16_t rgib_[4] = {0, 0, 0, 0};
  std::vector<Row> rows_;  // in matrix order
  Bytes rowData_;
  std::size_t deadBytes_ = 0;  // of rowData_, no row's any more
  // (row id, position in rows_), sorted by row id: the row index as written.
  // Row ids mostly come in ascending order, so they are appended.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> index_;
  // Kept from one row or table to the next for their storage.
  std::vector<std::pair<const CellRef*, std::uint16_t>> vars_;  // a variable cell and its column's offset
  HeapBuilder heap_{ClientSig::TC};
  ndb::SubnodeTreeBuilder subnodes_;
  TCINFO info_;
  Bytes indexBytes_, matrix_;
};

struct TableRow {
  std::uint32_t id = 0;
  // One entry per column (in columns() order); nullopt when the cell does not exist.
  std::vector<std::optional<Bytes>> cells;
};

class TableContextReader {
 public:
  TableContextReader(const ndb::BlockSource& src, ndb::Bid bidData, ndb::Bid bidSub);
  const std::vector<ColumnDesc>& columns() const { return columns_; }
  const std::vector<TableRow>& rows() const { return rows_; }  // in row matrix order
  const TableRow* findRow(std::uint32_t id) const;
  std::optional<std::size_t> columnIndex(std::uint32_t tag) const;
  std::uint16_t rowSize() const { return rowSize_; }
  bool matrixInSubnode() const { return matrixInSubnode_; }

 private:
  std::vector<ColumnDesc> columns_;
  std::vector<TableRow> rows_;
  std::uint16_t rowSize_ = 0;
  bool matrixInSubnode_ = false;
};

}  // namespace parvane::ltp
