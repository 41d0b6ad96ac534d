#include "win32/main_window.h"

#include <gtest/gtest.h>
#include <shlobj.h>  // DROPFILES

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/no_store_service.h"
#include "support/fake_ui.h"
#include "win32/controls.h"
#include "win32/grid.h"

namespace parvane::win32 {
namespace {

using platform::MessageAnswer;

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), store_, files_,
                                           [this] { ++ends_; });
    window_->setMessageBox(&messages_);
  }
  std::wstring text(ControlId id) const {
    wchar_t buffer[256] = {};
    GetWindowTextW(window_->control(id), buffer, 256);
    return buffer;
  }
  // The control's rectangle in the window's client coordinates.
  RECT place(ControlId id) const {
    RECT r{};
    GetWindowRect(window_->control(id), &r);
    MapWindowPoints(HWND_DESKTOP, window_->handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  void click(ControlId id) { SendMessageW(window_->control(id), BM_CLICK, 0, 0); }

  app::NoStoreService store_;
  testing::MemoryFileSystem files_;
  testing::ScriptedMessageBox messages_;
  int ends_ = 0;
  std::unique_ptr<MainWindow> window_;
};

::testing::AssertionResult At(RECT r, int left, int top, int width, int height) {
  // Twips in, pixels out (15 twips to a pixel at 96 dots per inch).
  const RECT want{left / 15, top / 15, left / 15 + width / 15, top / 15 + height / 15};
  if (EqualRect(&r, &want)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "at " << r.left << "," << r.top << " " << r.right - r.left
                                       << "x" << r.bottom - r.top << ", want " << want.left << ","
                                       << want.top << " " << want.right - want.left << "x"
                                       << want.bottom - want.top;
}

TEST_F(Window, HasTheFixedLayoutInPixels) {
  HWND handle = window_->handle();
  wchar_t title[64] = {};
  GetWindowTextW(handle, title, 64);
  EXPECT_STREQ(title, L"Parvane");
  RECT client{};
  GetClientRect(handle, &client);
  EXPECT_EQ(client.right, 543);
  EXPECT_EQ(client.bottom, 450);
  const LONG style = GetWindowLongW(handle, GWL_STYLE);
  EXPECT_EQ(style & WS_THICKFRAME, 0) << "fixed border";
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);

  EXPECT_TRUE(At(place(kIdTitle), 240, 120, 6255, 375));
  EXPECT_TRUE(At(place(kIdAddFiles), 240, 960, 1815, 375));
  EXPECT_TRUE(At(place(kIdAddFolder), 2400, 960, 2775, 375));
  EXPECT_TRUE(At(place(kIdClearList), 6240, 960, 1695, 375));
  EXPECT_TRUE(At(place(kIdFileCount), 270, 1560, 4335, 255));
  EXPECT_TRUE(At(place(kIdFileList), 240, 1800, 7695, 1575));
  EXPECT_TRUE(At(place(kIdProgressFrame), 240, 3480, 7695, 1815));
  // Inside the frame (at 240, 3480).
  EXPECT_TRUE(At(place(kIdCurrentFolder), 240 + 120, 3480 + 240, 7455, 255));
  EXPECT_TRUE(At(place(kIdMessageCount), 240 + 1800, 3480 + 600, 5775, 255));
  EXPECT_TRUE(At(place(kIdFileProgress), 240 + 1800, 3480 + 960, 5775, 255));
  EXPECT_TRUE(At(place(kIdOverallProgress), 240 + 1800, 3480 + 1320, 5775, 255));
  EXPECT_TRUE(At(place(kIdConvert), 2880, 5520, 2415, 435));
  // On the bottom strip (at 240, 6240).
  EXPECT_TRUE(At(place(kIdExit), 240 + 6360, 6240, 1335, 375));
}

TEST_F(Window, StartsWithTheCaptionsAndStatesOfTheLoadStep) {
  EXPECT_EQ(text(kIdTitle), L"Parvane");
  EXPECT_EQ(text(kIdAddFiles), L"Add MSG File(s)...");
  EXPECT_EQ(text(kIdAddFolder), L"Add Folder having MSG File(s)...");
  EXPECT_EQ(text(kIdClearList), L"Clear File(s)...");
  EXPECT_EQ(text(kIdFileCount), L"0 files");
  EXPECT_EQ(text(kIdProgressFrame), L"Details");
  EXPECT_EQ(text(kIdCurrentFolder), L"Converting Messages...");
  EXPECT_EQ(text(kIdMessageCount), L"Message 0 (of 0)");
  EXPECT_EQ(text(kIdFileProgressCaption), L"Current File Progress : ");
  EXPECT_EQ(text(kIdOverallProgressCaption), L"Overall Progress        : ");
  EXPECT_EQ(text(kIdConvert), L"Convert &Messages");
  EXPECT_EQ(text(kIdExit), L"E&xit");
  EXPECT_FALSE(IsWindowEnabled(window_->control(kIdConvert)));
  EXPECT_EQ(SendMessageW(window_->control(kIdOverallProgress), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageW(window_->control(kIdFileProgress), PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(window_->grid().rows(), 1);
  EXPECT_EQ(window_->grid().colWidth(0), 50000);
}

TEST_F(Window, TabOrderRunsThroughTheButtonsAndTheGrid) {
  HWND handle = window_->handle();
  EnableWindow(window_->control(kIdConvert), TRUE);
  std::vector<int> order;
  HWND at = window_->control(kIdAddFiles);
  for (int i = 0; i < 6; ++i) {
    order.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(handle, at, FALSE);
  }
  EXPECT_EQ(order, (std::vector<int>{kIdAddFiles, kIdClearList, kIdAddFolder, kIdFileList,
                                     kIdConvert, kIdExit}));
  EXPECT_EQ(at, window_->control(kIdAddFiles));  // and round again
}

// The bands are painted beneath the controls; the title and the caption on
// the frame take their own text colours, "Exit" the strip's white.
TEST_F(Window, PaintsTheBandsAndColoursTheControls) {
  HWND handle = window_->handle();
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 543, 450);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  ASSERT_NE(face, white);

  SendMessageW(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  EXPECT_EQ(GetPixel(dc, 300, 56), RGB(128, 128, 128));  // the top band's lower edge
  EXPECT_EQ(GetPixel(dc, 500, 30), white);
  EXPECT_EQ(GetPixel(dc, 8, 408), RGB(192, 192, 192));   // the bottom band's upper edge
  EXPECT_EQ(GetPixel(dc, 100, 440), white);              // the strip
  EXPECT_EQ(GetPixel(dc, 8, 200), face);

  const auto colour = [&](UINT message, ControlId id) {
    const LRESULT brush = SendMessageW(handle, message, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(window_->control(id)));
    LOGBRUSH logical{};
    GetObjectW(reinterpret_cast<HBRUSH>(brush), sizeof logical, &logical);
    return logical.lbColor;
  };
  EXPECT_EQ(colour(WM_CTLCOLORSTATIC, kIdTitle), white);
  EXPECT_EQ(GetTextColor(dc), black);
  EXPECT_EQ(GetBkColor(dc), white);
  EXPECT_EQ(colour(WM_CTLCOLORSTATIC, kIdMessageCount), face);
  EXPECT_EQ(GetTextColor(dc), black);
  EXPECT_EQ(GetBkColor(dc), face);
  EXPECT_EQ(colour(WM_CTLCOLORSTATIC, kIdOverallProgressCaption), face);
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_BTNTEXT));
  EXPECT_EQ(colour(WM_CTLCOLORBTN, kIdExit), white);
  EXPECT_NE(colour(WM_CTLCOLORBTN, kIdAddFiles), white);

  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

TEST_F(Window, ExitAnsweredNoChangesNothing) {
  messages_.answers = {MessageAnswer::No};
  click(kIdExit);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Are you sure you want to exit now?");
  EXPECT_EQ(messages_.shown[0].title, "Parvane");
  EXPECT_EQ(messages_.shown[0].buttons, platform::MessageButtons::YesNo);
  EXPECT_EQ(messages_.shown[0].icon, platform::MessageIcon::Question);
  EXPECT_EQ(ends_, 0);
  EXPECT_TRUE(IsWindow(window_->handle()));
}

TEST_F(Window, ExitAnsweredYesEndsOnce) {
  messages_.answers = {MessageAnswer::Yes};
  click(kIdExit);
  EXPECT_EQ(ends_, 1);
  click(kIdExit);  // nothing runs after the end
  SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ends_, 1);
  EXPECT_EQ(messages_.shown.size(), 1u);
}

TEST_F(Window, ClosingEndsWithoutAQuestion) {
  SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ends_, 1);
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Window, AccessKeyXPressesExit) {
  messages_.answers = {MessageAnswer::No};
  MSG key{};
  key.hwnd = window_->control(kIdAddFiles);
  key.message = WM_SYSCHAR;
  key.wParam = 'x';
  key.lParam = 1 << 29;  // Alt held
  Win32Desktop::Dispatch(window_->handle(), key);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text, "Are you sure you want to exit now?");
}

TEST_F(Window, ClearEmptiesAListedGridAfterTheQuestion) {
  click(kIdClearList);  // an empty list: no question
  EXPECT_TRUE(messages_.shown.empty());

  Win32Grid& grid = window_->grid();
  grid.setRows(2);
  grid.setRow(0);
  grid.setText("C:\\Mail\\a.msg");
  grid.setRow(1);
  grid.setText("C:\\Mail\\b.msg");
  SetWindowTextW(window_->control(kIdFileCount), L"2 files");
  messages_.answers = {MessageAnswer::Yes};
  click(kIdClearList);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].title, "Parvane");
  EXPECT_EQ(messages_.shown[0].buttons, platform::MessageButtons::YesNo);
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "");
  EXPECT_EQ(text(kIdFileCount), L"0 files");
  EXPECT_EQ(ListView_GetItemCount(window_->control(kIdFileList)), 1);
}

// "Save Report..." appears beside "Convert Messages" once a run has ended
// (here one whose store could not be made) and saves that run's report.
TEST_F(Window, SaveReportAppearsOnceARunEndedAndSavesItsReport) {
  HWND save = window_->control(kIdSaveReport);
  ASSERT_NE(save, nullptr);
  const auto shown = [&] { return (GetWindowLongW(save, GWL_STYLE) & WS_VISIBLE) != 0; };
  EXPECT_FALSE(shown());
  EXPECT_EQ(text(kIdSaveReport), L"Save Report...");
  EXPECT_TRUE(At(place(kIdSaveReport), 5520, 5550, 1935, 375));

  Win32Grid& grid = window_->grid();
  grid.setRow(0);
  grid.setCol(0);
  grid.setText("C:\\Mail\\a.msg");
  EnableWindow(window_->control(kIdConvert), TRUE);
  testing::FakeFolderDialog chooser;
  chooser.results.push_back("C:\\out");
  window_->setFolderDialog(&chooser);
  click(kIdConvert);
  ASSERT_TRUE(window_->controller().lastRun());
  EXPECT_TRUE(shown());

  const std::filesystem::path saved =
      std::filesystem::temp_directory_path() / ("parvane-win-report-" + std::to_string(GetCurrentProcessId()) + ".jsonl");
  std::vector<std::string> offered;
  window_->setReportPathChooser([&](const std::string& suggested) {
    offered.push_back(suggested);
    return saved.string();
  });
  click(kIdSaveReport);
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0].substr(offered[0].size() - 6), ".jsonl");
  std::ifstream file(saved);
  std::string first, summary;
  std::getline(file, first);
  std::getline(file, summary);
  EXPECT_EQ(first.rfind(R"({"path":"C:\\Mail\\a.msg","folder":"Mail","store":null,"outcome":"refused","reason":)", 0), 0u)
      << first;
  EXPECT_EQ(summary.rfind(R"({"summary":true,"store":null,"stores":[],"listed":1,"converted":0,"refused":1,)", 0), 0u)
      << summary;
  file.close();
  std::filesystem::remove(saved);
}

// What the desktop hands a window on a drop: a DROPFILES header, then the
// paths, each ended by a NUL, and one more NUL.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;
  for (const auto& path : paths) chars += path.size() + 1;
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* at = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
  for (const auto& path : paths) {
    std::memcpy(at, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    at += path.size() + 1;
  }
  *at = L'\0';
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class Drops : public Window {
 protected:
  void SetUp() override {
    files_.addFolder("C:\\");
    files_.addSubFolder("C:\\", "Mail");
    files_.addFile("C:\\Mail", "a.msg");
    files_.addFile("C:\\Mail", "notes.txt");
    files_.addSubFolder("C:\\Mail", "Sub");
    files_.addFile("C:\\Mail\\Sub", "b.MSG");
    Window::SetUp();
  }
  void drop(const std::vector<std::wstring>& paths) {
    SendMessageW(window_->control(kIdFileList), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
  }
  std::vector<std::string> listed() {
    std::vector<std::string> rows;
    for (int row = 0; row < window_->grid().rows(); ++row) rows.push_back(window_->grid().cell(row, 0));
    return rows;
  }
};

TEST_F(Drops, OnlyTheFileListTakesDrops) {
  EXPECT_NE(GetWindowLongW(window_->control(kIdFileList), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
  EXPECT_EQ(GetWindowLongW(window_->handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
  EXPECT_EQ(GetWindowLongW(window_->control(kIdAddFiles), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
}

// Files as "Add MSG File(s)..." adds them, folders as "Add Folder having MSG
// File(s)..." does, the rest named in one box; wide paths arrive as UTF-8.
TEST_F(Drops, DroppedFilesAndFoldersJoinTheListAsTheAddButtonsAddThem) {
  drop({L"C:\\Loose\\\x043B\x0438\x0441\x0442.msg", L"C:\\Mail", L"C:\\photo.jpg"});
  EXPECT_EQ(listed(), (std::vector<std::string>{"C:\\Loose\\\xD0\xBB\xD0\xB8\xD1\x81\xD1\x82.msg",
                                                "C:\\Mail\\a.msg", "C:\\Mail\\Sub\\b.MSG"}));
  EXPECT_EQ(ListView_GetItemCount(window_->control(kIdFileList)), 3);
  EXPECT_EQ(text(kIdFileCount), L"3 files");
  EXPECT_TRUE(IsWindowEnabled(window_->control(kIdConvert)));
  ASSERT_EQ(messages_.shown.size(), 2u);
  EXPECT_EQ(messages_.shown[0].text, "3 Files Added to List.");
  EXPECT_EQ(messages_.shown[1].text,
            "Only .msg files and folders can be added; these were not:\r\nC:\\photo.jpg");
  EXPECT_EQ(messages_.shown[1].icon, platform::MessageIcon::Exclamation);

  // A file dropped alone is appended as the add button appends a chosen one
  // (again, when it is listed already), with no box.
  drop({L"C:\\Mail\\a.msg"});
  EXPECT_EQ(listed().back(), "C:\\Mail\\a.msg");
  EXPECT_EQ(text(kIdFileCount), L"4 files");
  EXPECT_EQ(messages_.shown.size(), 2u);
}

TEST_F(Drops, NoDropIsTakenWhileTheListButtonsWait) {
  // A run leaves the list buttons disabled until it ends.
  EnableWindow(window_->control(kIdAddFiles), FALSE);
  EnableWindow(window_->control(kIdAddFolder), FALSE);
  drop({L"C:\\Mail\\a.msg", L"C:\\photo.jpg"});
  EXPECT_EQ(listed(), (std::vector<std::string>{""}));
  EXPECT_EQ(text(kIdFileCount), L"0 files");
  EXPECT_TRUE(messages_.shown.empty());
  EnableWindow(window_->control(kIdAddFiles), TRUE);
  EnableWindow(window_->control(kIdAddFolder), TRUE);
  drop({L"C:\\Mail\\a.msg"});
  EXPECT_EQ(listed(), (std::vector<std::string>{"C:\\Mail\\a.msg"}));
}

}  // namespace
}  // namespace parvane::win32
