#include "win32/grid.h"

#include <gtest/gtest.h>

namespace parvane::win32 {
namespace {

TEST(GridCells, StartsWithOneEmptyCell) {
  GridCells grid;
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cols(), 1);
  EXPECT_EQ(grid.fixedRows(), 0);
  EXPECT_EQ(grid.text(), "");
}

TEST(GridCells, RowsAreAddedAndRemovedAtTheEnd) {
  GridCells grid;
  grid.setText("first");
  grid.setRows(3);
  grid.setRow(2);
  EXPECT_EQ(grid.text(), "");  // a new row is empty
  grid.setText("third");
  grid.setRows(2);  // the current row goes with the last one
  EXPECT_EQ(grid.row(), 1);
  grid.setRows(3);
  EXPECT_EQ(grid.cell(2, 0), "");  // removed text does not come back
  EXPECT_EQ(grid.cell(0, 0), "first");
}

TEST(GridCells, CurrentCellIsRowThenColumn) {
  GridCells grid;
  grid.setRows(2);
  grid.setCols(2);
  grid.setRow(1);
  grid.setCol(1);
  grid.setText("b2");
  grid.setCol(0);
  EXPECT_EQ(grid.text(), "");
  EXPECT_EQ(grid.cell(1, 1), "b2");
}

TEST(GridCells, ClearEmptiesCellsButKeepsCountsAndWidths) {
  GridCells grid;
  grid.setRows(2);
  grid.setText("a");
  grid.setColWidth(0, 50000);
  grid.clear();
  EXPECT_EQ(grid.rows(), 2);
  EXPECT_EQ(grid.colWidth(0), 50000);
  EXPECT_EQ(grid.cell(0, 0), "");
}

TEST(GridCells, OutOfRangeRaisesTheGridErrors) {
  GridCells grid;
  const auto code = [](auto&& call) {
    try {
      call();
    } catch (const platform::PlatformError& e) {
      return e.code();
    }
    return 0;
  };
  EXPECT_EQ(code([&] { grid.setRow(1); }), GridCells::kSubscriptOutOfRange);
  EXPECT_EQ(code([&] { grid.setCol(-1); }), GridCells::kSubscriptOutOfRange);
  EXPECT_EQ(code([&] { grid.setColWidth(1, 10); }), GridCells::kSubscriptOutOfRange);
  EXPECT_EQ(code([&] { grid.setRows(0); }), GridCells::kInvalidValue);
  EXPECT_EQ(code([&] { grid.setFixedRows(1); }), GridCells::kInvalidValue);
  EXPECT_EQ(grid.rows(), 1);
}

class ListViewGrid : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCommonControls();
    parent_ = CreateWindowExW(0, WC_STATICW, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 300,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    grid_ = std::make_unique<Win32Grid>(parent_, 7, RECT{16, 120, 529, 225},
                                        static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  }
  void TearDown() override {
    grid_.reset();
    DestroyWindow(parent_);
  }
  std::wstring shown(int row) {
    wchar_t text[300] = {};
    // An owner-data list view asks its parent; answer as the main window does.
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = 300;
    NMLVDISPINFOW info{};
    info.hdr.hwndFrom = grid_->handle();
    info.hdr.code = LVN_GETDISPINFOW;
    info.item = item;
    info.item.mask = LVIF_TEXT;
    info.item.iItem = row;
    LRESULT result = 0;
    EXPECT_TRUE(grid_->onNotify(info.hdr, result));
    return text;
  }
  HWND parent_ = nullptr;
  std::unique_ptr<Win32Grid> grid_;
};

TEST_F(ListViewGrid, FollowsRowsWidthsAndTexts) {
  HWND view = grid_->handle();
  EXPECT_EQ(ListView_GetItemCount(view), 1);
  grid_->setRows(20000);
  EXPECT_EQ(ListView_GetItemCount(view), 20000);
  grid_->setColWidth(0, 50000);
  EXPECT_EQ(ListView_GetColumnWidth(view, 0), 3333);  // twips / 15
  grid_->setColWidth(0, 10000);
  EXPECT_EQ(ListView_GetColumnWidth(view, 0), 666);
  grid_->setRow(19999);
  grid_->setText("C:\\Mail\\\xCE\xA9.msg");
  EXPECT_EQ(shown(19999), L"C:\\Mail\\\u03A9.msg");
  EXPECT_EQ(shown(0), L"");
  EXPECT_EQ(shown(20000), L"");  // beyond the rows: nothing, no failure
  grid_->setCols(2);
  EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(view)), 2);
  grid_->setCols(1);
  EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(view)), 1);
}

TEST_F(ListViewGrid, IgnoresOtherControlsNotifications) {
  NMHDR other{};
  other.hwndFrom = parent_;
  other.code = LVN_GETDISPINFOW;
  LRESULT result = 0;
  EXPECT_FALSE(grid_->onNotify(other, result));
}

}  // namespace
}  // namespace parvane::win32
