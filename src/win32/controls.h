// Win32 adapters of the window-side interfaces over native controls: labels
// and the frame caption (static and group-box windows), push buttons, comctl32
// progress bars, message boxes and the desktop (busy pointer, message loop).
#pragma once

#include "win32/windows_api.h"

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace parvane::win32 {

// A static control. Its caption is shown as it is: "&" marks no access key.
class Win32Label : public platform::Label {
 public:
  explicit Win32Label(HWND control) : control_(control) {}
  std::string caption() const override;
  void setCaption(const std::string& caption) override;

 private:
  HWND control_;
};

// A group box's caption. A group box would take "&" as an access key, so it
// shows the caption with every "&" doubled while caption() returns it as set.
class Win32FrameCaption : public platform::Label {
 public:
  explicit Win32FrameCaption(HWND frame);
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override;

 private:
  HWND frame_;
  std::string caption_;
};

class Win32Button : public platform::Button {
 public:
  explicit Win32Button(HWND button) : button_(button) {}
  bool enabled() const override;
  void setEnabled(bool enabled) override;

 private:
  HWND button_;
};

// A comctl32 progress bar. The bar runs over kSteps positions so that
// fractional values still move it; value() returns what was set.
class Win32ProgressBar : public platform::ProgressBar {
 public:
  static constexpr int kSteps = 1000;
  explicit Win32ProgressBar(HWND bar);
  void setMin(float min) override;
  void setMax(float max) override;
  float value() const override { return value_; }
  void setValue(float value) override;

 private:
  void show();
  HWND bar_;
  float min_ = 0.0f, max_ = 100.0f, value_ = 0.0f;
};

// The style word of MessageBoxW for a box: MB_OK or MB_YESNO with
// MB_ICONQUESTION (0x20), MB_ICONINFORMATION (0x40) or MB_ICONEXCLAMATION (0x30).
UINT MessageBoxStyle(platform::MessageButtons buttons, platform::MessageIcon icon);

class Win32MessageBox : public platform::MessageBox {
 public:
  explicit Win32MessageBox(HWND owner) : owner_(owner) {}
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override;

 private:
  HWND owner_;
};

// The busy pointer and the message loop of the main window. yield() handles
// the pending messages (at most every kYieldIntervalMs, so that a long run
// does not spend its time polling) through IsDialogMessage, so Tab and the
// access keys work as in the main loop.
class Win32Desktop : public platform::Desktop {
 public:
  static constexpr ULONGLONG kYieldIntervalMs = 10;
  explicit Win32Desktop(HWND window) : window_(window) {}
  void setBusyPointer(bool busy) override;
  bool busy() const { return busy_; }
  void yield() override;
  std::intptr_t mainWindowHandle() const override;

  // Handles one message as the main loop does (the dialog keys first).
  static void Dispatch(HWND window, MSG& message);

 private:
  HWND window_;
  bool busy_ = false;
  ULONGLONG lastYield_ = 0;
};

}  // namespace parvane::win32
