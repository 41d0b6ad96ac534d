#include "win32/controls.h"

#include <commctrl.h>

#include <cmath>

#include "platform/win32_text.h"

namespace parvane::win32 {

using platform::Utf8ToWide;
using platform::WideToUtf8;

namespace {

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return WideToUtf8(text);
}

}  // namespace

std::string Win32Label::caption() const { return WindowText(control_); }

void Win32Label::setCaption(const std::string& caption) {
  SetWindowTextW(control_, Utf8ToWide(caption).c_str());
}

Win32FrameCaption::Win32FrameCaption(HWND frame) : frame_(frame), caption_(WindowText(frame)) {}

void Win32FrameCaption::setCaption(const std::string& caption) {
  caption_ = caption;
  std::wstring shown;
  for (wchar_t c : Utf8ToWide(caption)) {
    shown += c;
    if (c == L'&') shown += L'&';
  }
  SetWindowTextW(frame_, shown.c_str());
}

bool Win32Button::enabled() const { return IsWindowEnabled(button_) != 0; }

void Win32Button::setEnabled(bool enabled) { EnableWindow(button_, enabled ? TRUE : FALSE); }

Win32ProgressBar::Win32ProgressBar(HWND bar) : bar_(bar) {
  SendMessageW(bar_, PBM_SETRANGE32, 0, kSteps);
  show();
}

void Win32ProgressBar::setMin(float min) {
  min_ = min;
  show();
}

void Win32ProgressBar::setMax(float max) {
  max_ = max;
  show();
}

void Win32ProgressBar::setValue(float value) {
  value_ = value;
  show();
}

void Win32ProgressBar::show() {
  double share = 0.0;
  if (max_ > min_) share = (static_cast<double>(value_) - min_) / (static_cast<double>(max_) - min_);
  if (!(share > 0.0)) share = 0.0;  // also NaN
  if (share > 1.0) share = 1.0;
  const auto position = static_cast<WPARAM>(std::lround(share * kSteps));
  SendMessageW(bar_, PBM_SETPOS, position, 0);
}

UINT MessageBoxStyle(platform::MessageButtons buttons, platform::MessageIcon icon) {
  UINT style = buttons == platform::MessageButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case platform::MessageIcon::Question:
      style |= MB_ICONQUESTION;
      break;
    case platform::MessageIcon::Information:
      style |= MB_ICONINFORMATION;
      break;
    case platform::MessageIcon::Exclamation:
      style |= MB_ICONEXCLAMATION;
      break;
    case platform::MessageIcon::None:
      break;
  }
  return style;
}

platform::MessageAnswer Win32MessageBox::show(const std::string& text,
                                              platform::MessageButtons buttons,
                                              platform::MessageIcon icon,
                                              const std::string& title) {
  const int answer = MessageBoxW(owner_, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(),
                                 MessageBoxStyle(buttons, icon));
  if (answer == IDYES) return platform::MessageAnswer::Yes;
  if (answer == IDNO) return platform::MessageAnswer::No;
  return platform::MessageAnswer::Ok;
}

void Win32Desktop::setBusyPointer(bool busy) {
  busy_ = busy;
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void Win32Desktop::Dispatch(HWND window, MSG& message) {
  if (window != nullptr && IsDialogMessageW(window, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void Win32Desktop::yield() {
  const ULONGLONG now = GetTickCount64();
  if (now - lastYield_ < kYieldIntervalMs) return;
  lastYield_ = now;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave the quit for the main loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(window_, message);
  }
}

std::intptr_t Win32Desktop::mainWindowHandle() const {
  return reinterpret_cast<std::intptr_t>(window_);
}

}  // namespace parvane::win32
