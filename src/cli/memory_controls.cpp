#include "cli/memory_controls.h"

#include <stdexcept>

namespace parvane::cli {

namespace {

std::size_t checked(std::int32_t index, std::size_t count) {
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    throw platform::PlatformError(381, "Subscript out of range");
  }
  return static_cast<std::size_t>(index);
}

}  // namespace

MemoryGrid::MemoryGrid(std::vector<std::string> column) {
  if (column.empty()) column.emplace_back();
  for (auto& text : column) cells_.push_back({std::move(text)});
}

std::int32_t MemoryGrid::rows() const { return static_cast<std::int32_t>(cells_.size()); }

void MemoryGrid::setRows(std::int32_t rows) {
  if (rows < 1) throw platform::PlatformError(30009, "Invalid row value");
  cells_.resize(static_cast<std::size_t>(rows), std::vector<std::string>(cols_));
  if (row_ >= cells_.size()) row_ = cells_.size() - 1;
}

void MemoryGrid::setCols(std::int32_t cols) {
  if (cols < 1) throw platform::PlatformError(30010, "Invalid column value");
  cols_ = static_cast<std::size_t>(cols);
  for (auto& row : cells_) row.resize(cols_);
  if (col_ >= cols_) col_ = cols_ - 1;
}

void MemoryGrid::setRow(std::int32_t row) { row_ = checked(row, cells_.size()); }

void MemoryGrid::setCol(std::int32_t col) { col_ = checked(col, cols_); }

std::string MemoryGrid::text() const { return cells_[row_][col_]; }

void MemoryGrid::setText(const std::string& text) { cells_[row_][col_] = text; }

void MemoryGrid::clear() {
  for (auto& row : cells_) {
    for (auto& cell : row) cell.clear();
  }
}

}  // namespace parvane::cli
