#include "win32/grid.h"

#include <commctrl.h>

#include "platform/win32_text.h"

namespace parvane::win32 {

namespace {

[[noreturn]] void OutOfRange() {
  throw platform::PlatformError(GridCells::kSubscriptOutOfRange, "Subscript out of range");
}

[[noreturn]] void InvalidValue() {
  throw platform::PlatformError(GridCells::kInvalidValue, "Invalid Row value");
}

int TwipsToPixels(std::int32_t twips) { return static_cast<int>(twips / 15); }

}  // namespace

void GridCells::setRows(std::int32_t rows) {
  if (rows < 1 || rows <= fixedRows_) InvalidValue();
  rows_ = rows;
  cells_.resize(static_cast<std::size_t>(rows),
                std::vector<std::string>(static_cast<std::size_t>(cols_)));
  if (row_ >= rows_) row_ = rows_ - 1;
  rowsChanged();
}

void GridCells::setCols(std::int32_t cols) {
  if (cols < 1) InvalidValue();
  cols_ = cols;
  for (auto& cells : cells_) cells.resize(static_cast<std::size_t>(cols));
  widths_.resize(static_cast<std::size_t>(cols), -1);
  if (col_ >= cols_) col_ = cols_ - 1;
  colsChanged();
}

void GridCells::setFixedRows(std::int32_t fixedRows) {
  if (fixedRows < 0 || fixedRows >= rows_) InvalidValue();
  fixedRows_ = fixedRows;
}

void GridCells::setRow(std::int32_t row) {
  if (row < 0 || row >= rows_) OutOfRange();
  row_ = row;
}

void GridCells::setCol(std::int32_t col) {
  if (col < 0 || col >= cols_) OutOfRange();
  col_ = col;
}

void GridCells::setText(const std::string& text) {
  cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col_)] = text;
  cellChanged(row_, col_);
}

std::int32_t GridCells::colWidth(std::int32_t col) const {
  if (col < 0 || col >= cols_) OutOfRange();
  return widths_[static_cast<std::size_t>(col)];
}

void GridCells::setColWidth(std::int32_t col, std::int32_t twips) {
  if (col < 0 || col >= cols_) OutOfRange();
  widths_[static_cast<std::size_t>(col)] = twips;
  widthChanged(col);
}

void GridCells::clear() {
  for (auto& cells : cells_) {
    for (auto& cell : cells) cell.clear();
  }
  allChanged();
}

const std::string& GridCells::cell(std::int32_t row, std::int32_t col) const {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) OutOfRange();
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

Win32Grid::Win32Grid(HWND parent, int id, RECT bounds, HFONT font) {
  view_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                              LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                          bounds.left, bounds.top, bounds.right - bounds.left,
                          bounds.bottom - bounds.top, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                          nullptr);
  SendMessageW(view_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(view_, LVS_EX_DOUBLEBUFFER);
  ListView_SetBkColor(view_, ToColorRef(*app::layout::Find("fileList")->background));
  colsChanged();
  rowsChanged();
}

void Win32Grid::rowsChanged() {
  if (view_ == nullptr) return;
  ListView_SetItemCountEx(view_, rows(), LVSICF_NOSCROLL);
  InvalidateRect(view_, nullptr, TRUE);
}

void Win32Grid::colsChanged() {
  if (view_ == nullptr) return;
  HWND header = ListView_GetHeader(view_);
  int shown = header ? Header_GetItemCount(header) : 0;
  while (shown > cols()) ListView_DeleteColumn(view_, --shown);
  for (; shown < cols(); ++shown) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = kDefaultWidthPixels;
    ListView_InsertColumn(view_, shown, &column);
    widthChanged(shown);
  }
}

void Win32Grid::cellChanged(std::int32_t row, std::int32_t) {
  if (view_ != nullptr) ListView_RedrawItems(view_, row, row);
}

void Win32Grid::widthChanged(std::int32_t col) {
  if (view_ == nullptr) return;
  const std::int32_t twips = colWidth(col);
  ListView_SetColumnWidth(view_, col, twips < 0 ? kDefaultWidthPixels : TwipsToPixels(twips));
}

void Win32Grid::allChanged() {
  if (view_ != nullptr) InvalidateRect(view_, nullptr, TRUE);
}

bool Win32Grid::onNotify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != view_) return false;
  if (header.code == LVN_GETDISPINFOW) {
    // Header pointers come from the list view itself, as the full record.
    auto& info = *reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header));
    if ((info.item.mask & LVIF_TEXT) != 0 && info.item.cchTextMax > 0) {
      const std::int32_t row = info.item.iItem, col = info.item.iSubItem;
      buffer_ = (row >= 0 && row < rows() && col >= 0 && col < cols())
                    ? platform::Utf8ToWide(cell(row, col))
                    : std::wstring();
      lstrcpynW(info.item.pszText, buffer_.c_str(), info.item.cchTextMax);
    }
    result = 0;
    return true;
  }
  if (header.code == NM_CUSTOMDRAW) {
    result = customDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&header)));
    return true;
  }
  return false;
}

LRESULT Win32Grid::customDraw(NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      const auto item = static_cast<int>(draw.nmcd.dwItemSpec);
      const bool selected = ListView_GetItemState(view_, item, LVIS_SELECTED) != 0;
      // Our own colours replace the list view's selection drawing.
      draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
      draw.clrTextBk = selected ? kSelectionColour : kCellColour;
      draw.clrText = selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_WINDOWTEXT);
      return CDRF_NEWFONT | CDRF_NOTIFYPOSTPAINT;
    }
    case CDDS_ITEMPOSTPAINT: {
      // The light-grey lines under and right of each cell.
      const auto item = static_cast<int>(draw.nmcd.dwItemSpec);
      HPEN pen = CreatePen(PS_SOLID, 1, kGridLineColour);
      HGDIOBJ old = SelectObject(draw.nmcd.hdc, pen);
      for (int col = 0; col < cols(); ++col) {
        RECT cellRect{};
        cellRect.top = col;
        cellRect.left = LVIR_LABEL;
        if (!ListView_GetSubItemRect(view_, item, col, LVIR_LABEL, &cellRect)) continue;
        MoveToEx(draw.nmcd.hdc, cellRect.left, cellRect.bottom - 1, nullptr);
        LineTo(draw.nmcd.hdc, cellRect.right - 1, cellRect.bottom - 1);
        LineTo(draw.nmcd.hdc, cellRect.right - 1, cellRect.top - 1);
      }
      SelectObject(draw.nmcd.hdc, old);
      DeleteObject(pen);
      return CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

}  // namespace parvane::win32
