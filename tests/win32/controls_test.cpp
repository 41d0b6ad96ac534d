#include "win32/controls.h"

#include <gtest/gtest.h>

#include "win32/windows_api.h"

namespace parvane::win32 {
namespace {

// A hidden top-level window to hold controls.
class Host : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCommonControls();
    window_ = CreateWindowExW(0, WC_STATICW, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { DestroyWindow(window_); }
  HWND child(const wchar_t* kind, const wchar_t* text, DWORD style = 0) {
    return CreateWindowExW(0, kind, text, WS_CHILD | style, 0, 0, 100, 20, window_, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  static std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
  }
  HWND window_ = nullptr;
};

TEST_F(Host, LabelKeepsUtf8CaptionsAndAmpersands) {
  HWND control = child(WC_STATICW, L"0 files", SS_NOPREFIX);
  Win32Label label(control);
  EXPECT_EQ(label.caption(), "0 files");
  label.setCaption("C:\\Mail\\Gr\xC3\xBC\xC3\x9F" "e & Co.msg");
  EXPECT_EQ(label.caption(), "C:\\Mail\\Gr\xC3\xBC\xC3\x9F" "e & Co.msg");
  EXPECT_EQ(Text(control), L"C:\\Mail\\Gr\u00FC\u00DFe & Co.msg");
  label.setCaption("");
  EXPECT_EQ(label.caption(), "");
}

TEST_F(Host, FrameCaptionShowsAmpersandsLiterally) {
  HWND frame = child(WC_BUTTONW, L"Details", BS_GROUPBOX);
  Win32FrameCaption caption(frame);
  EXPECT_EQ(caption.caption(), "Details");
  caption.setCaption("Converting: R&D.msg");
  EXPECT_EQ(caption.caption(), "Converting: R&D.msg");
  EXPECT_EQ(Text(frame), L"Converting: R&&D.msg");  // no access key, one "&" shown
}

TEST_F(Host, ButtonEnabledState) {
  Win32Button button(child(WC_BUTTONW, L"Convert &Messages", BS_PUSHBUTTON));
  EXPECT_TRUE(button.enabled());
  button.setEnabled(false);
  EXPECT_FALSE(button.enabled());
  button.setEnabled(true);
  EXPECT_TRUE(button.enabled());
}

TEST_F(Host, ProgressBarMovesByShareOfItsRange) {
  HWND control = child(PROGRESS_CLASSW, L"");
  Win32ProgressBar bar(control);
  const auto position = [&] { return static_cast<int>(SendMessageW(control, PBM_GETPOS, 0, 0)); };
  EXPECT_EQ(position(), 0);
  bar.setValue(50);
  EXPECT_FLOAT_EQ(bar.value(), 50.0f);
  EXPECT_EQ(position(), Win32ProgressBar::kSteps / 2);
  bar.setMax(200);
  EXPECT_EQ(position(), Win32ProgressBar::kSteps / 4);
  bar.setValue(12.5f);  // fractions still move it
  EXPECT_EQ(position(), 63);
  bar.setMin(100);
  bar.setValue(300);  // beyond the range: full, value kept
  EXPECT_EQ(position(), Win32ProgressBar::kSteps);
  EXPECT_FLOAT_EQ(bar.value(), 300.0f);
  bar.setMax(100);  // empty range: empty bar
  EXPECT_EQ(position(), 0);
}

TEST(MessageBoxStyle, MatchesTheWindowsStyleWords) {
  using platform::MessageButtons;
  using platform::MessageIcon;
  EXPECT_EQ(MessageBoxStyle(MessageButtons::YesNo, MessageIcon::Question), 36u);
  EXPECT_EQ(MessageBoxStyle(MessageButtons::Ok, MessageIcon::Information), 64u);
  EXPECT_EQ(MessageBoxStyle(MessageButtons::Ok, MessageIcon::Exclamation),
            static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(MessageBoxStyle(MessageButtons::Ok, MessageIcon::None), static_cast<UINT>(MB_OK));
}

TEST_F(Host, DesktopYieldRunsPendingMessagesAndKeepsQuit) {
  Win32Desktop desktop(window_);
  EXPECT_EQ(desktop.mainWindowHandle(), reinterpret_cast<std::intptr_t>(window_));
  PostMessageW(window_, WM_SETTEXT, 0, 0);  // harmless; removed by the yield
  PostQuitMessage(3);
  desktop.yield();
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));  // left for the main loop
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

  desktop.setBusyPointer(true);
  EXPECT_TRUE(desktop.busy());
  desktop.setBusyPointer(false);
  EXPECT_FALSE(desktop.busy());
}

}  // namespace
}  // namespace parvane::win32
