// The file-list grid on Windows: a table of text cells (GridCells)
// shown by a virtual report-style list view without headers, in which each row
// asks the table for its texts when it is drawn, so a list of many thousand
// paths costs one string per cell. Cells are pale yellow, the selected row
// navy with the highlight-text colour, lines light grey, the rest white.
#pragma once

#include "win32/windows_api.h"

#include <cstdint>
#include <string>
#include <vector>

#include "app/window_layout.h"
#include "platform/ui.h"

namespace parvane::win32 {

constexpr COLORREF ToColorRef(app::layout::Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

// The layout's grid colours.
inline constexpr COLORREF kCellColour = ToColorRef(app::layout::kGridCell);
inline constexpr COLORREF kSelectionColour = ToColorRef(app::layout::kGridSelection);
inline constexpr COLORREF kGridLineColour = ToColorRef(app::layout::kGridLines);

// The cells, with no window: rows x cols texts, one current cell, widths in
// twips. Indexes out of range raise PlatformError 381 ("Subscript out of
// range"), as the grid control does.
class GridCells : public platform::Grid {
 public:
  static constexpr std::int32_t kSubscriptOutOfRange = 381;
  static constexpr std::int32_t kInvalidValue = 30009;

  std::int32_t rows() const override { return rows_; }
  void setRows(std::int32_t rows) override;
  std::int32_t cols() const { return cols_; }
  void setCols(std::int32_t cols) override;
  std::int32_t fixedRows() const { return fixedRows_; }
  void setFixedRows(std::int32_t fixedRows) override;
  std::int32_t row() const { return row_; }
  void setRow(std::int32_t row) override;
  std::int32_t col() const { return col_; }
  void setCol(std::int32_t col) override;
  std::string text() const override { return cell(row_, col_); }
  void setText(const std::string& text) override;
  std::int32_t colWidth(std::int32_t col) const;
  void setColWidth(std::int32_t col, std::int32_t twips) override;
  void clear() override;

  const std::string& cell(std::int32_t row, std::int32_t col) const;

 protected:
  // What changed, for a view to follow.
  virtual void rowsChanged() {}
  virtual void colsChanged() {}
  virtual void cellChanged(std::int32_t /*row*/, std::int32_t /*col*/) {}
  virtual void widthChanged(std::int32_t /*col*/) {}
  virtual void allChanged() {}

 private:
  std::int32_t rows_ = 1, cols_ = 1, fixedRows_ = 0, row_ = 0, col_ = 0;
  std::vector<std::vector<std::string>> cells_ = {{std::string()}};  // by row
  std::vector<std::int32_t> widths_ = {-1};  // -1: the default width
};

// The cells shown in a list view created by Create().
class Win32Grid : public GridCells {
 public:
  static constexpr int kDefaultWidthPixels = 64;

  // Creates the list view as a child of `parent` at the given pixel rectangle.
  Win32Grid(HWND parent, int id, RECT bounds, HFONT font);
  HWND handle() const { return view_; }

  // The parent forwards the list view's WM_NOTIFY here; true when handled,
  // with the result in `result`.
  bool onNotify(const NMHDR& header, LRESULT& result);

 protected:
  void rowsChanged() override;
  void colsChanged() override;
  void cellChanged(std::int32_t row, std::int32_t col) override;
  void widthChanged(std::int32_t col) override;
  void allChanged() override;

 private:
  LRESULT customDraw(NMLVCUSTOMDRAW& draw);
  HWND view_ = nullptr;
  std::wstring buffer_;  // the text handed out by the last LVN_GETDISPINFOW
};

}  // namespace parvane::win32
