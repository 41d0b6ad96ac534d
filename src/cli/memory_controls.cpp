#include "cli/memory_controls.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace parvane::cli {

namespace {

std::size_t checked(std::int32_t index, std::size_t count) {
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    throw platform::PlatformError(381, "Subscript out of range");
  }
  return static_cast<std::size_t>(index);
}

}  // namespace

MemoryGrid::MemoryGrid(std::vector<std::string> column) : cells_(std::move(column)) {
  if (cells_.empty()) cells_.emplace_back();
  rows_ = cells_.size();
}

std::int32_t MemoryGrid::rows() const { return static_cast<std::int32_t>(rows_); }

void MemoryGrid::setRows(std::int32_t rows) {
  if (rows < 1) throw platform::PlatformError(30009, "Invalid row value");
  rows_ = static_cast<std::size_t>(rows);
  cells_.resize(rows_ * cols_);
  if (row_ >= rows_) row_ = rows_ - 1;
}

void MemoryGrid::setCols(std::int32_t cols) {
  if (cols < 1) throw platform::PlatformError(30010, "Invalid column value");
  const auto count = static_cast<std::size_t>(cols);
  std::vector<std::string> cells(rows_ * count);
  const std::size_t kept = std::min(cols_, count);
  for (std::size_t r = 0; r < rows_; ++r) {
    for (std::size_t c = 0; c < kept; ++c) cells[r * count + c] = std::move(cell(r, c));
  }
  cells_ = std::move(cells);
  cols_ = count;
  if (col_ >= cols_) col_ = cols_ - 1;
}

void MemoryGrid::setRow(std::int32_t row) { row_ = checked(row, rows_); }

void MemoryGrid::setCol(std::int32_t col) { col_ = checked(col, cols_); }

std::string MemoryGrid::text() const { return cells_[row_ * cols_ + col_]; }

void MemoryGrid::setText(const std::string& text) { cell(row_, col_) = text; }

void MemoryGrid::clear() {
  for (auto& text : cells_) text.clear();
}

}  // namespace parvane::cli
