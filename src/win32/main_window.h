// The main window as a native Win32 window: every control of the
// window's layout (app/window_layout.h) at its place (twips / 15 = pixels at
// 96 dots per inch), the white bands, the adapters of the window-side
// interfaces, and the bindings of the buttons to the window's controller
// MainWindowController. Files and folders dropped from the desktop onto the
// file list go to the controller as the Qt window's do.
#pragma once

#include "win32/windows_api.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window_controller.h"
#include "app/window_layout.h"
#include "conversion/store_service.h"
#include "engine/core/file_system.h"
#include "platform/ui.h"

namespace parvane::app {
class ReplaceableFolderDialog;
class ReplaceableMessageBox;
class ReplaceableOpenFileDialog;
}  // namespace parvane::app

namespace parvane::win32 {

class Win32Button;
class Win32Desktop;
class Win32FolderDialog;
class Win32FrameCaption;
class Win32Grid;
class Win32Label;
class Win32MessageBox;
class Win32OpenFileDialog;
class Win32ProgressBar;

// Control identifiers (WM_COMMAND).
enum ControlId : int {
  kIdAddFiles = 101,
  kIdAddFolder,
  kIdClearList,
  kIdConvert,
  kIdExit,
  kIdFileList,
  kIdTitle,
  kIdFileCount,
  kIdProgressFrame,
  kIdCurrentFolder,
  kIdMessageCount,
  kIdFileProgressCaption,
  kIdFileProgress,
  kIdOverallProgressCaption,
  kIdOverallProgress,
  kIdSaveReport,  // hidden until a run has ended
};

inline constexpr int TwipsToPixels(int twips) { return twips / 15; }

class MainWindow {
 public:
  static constexpr int kClientWidth = TwipsToPixels(app::layout::kClientWidth);
  static constexpr int kClientHeight = TwipsToPixels(app::layout::kClientHeight);
  static constexpr const wchar_t* kClassName = L"ParvaneMainWindow";

  // Creates the window (hidden) with every control, and runs the load step.
  // Conversion runs write through `store`; `fileSystem` lists folders; both
  // must outlive the window. `end` is called when the program is to end
  // (closing, or Yes in the exit confirmation); by default the process exits
  // at once.
  MainWindow(HINSTANCE instance, conversion::StoreService& store,
             core::FileSystem& fileSystem, std::function<void()> end = {});
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND handle() const { return window_; }
  HWND control(ControlId id) const { return GetDlgItem(window_, id); }
  app::MainWindowController& controller() { return *controller_; }
  Win32Desktop& desktop() { return *desktop_; }
  Win32Grid& grid() { return *grid_; }
  // Replace the message box and the two dialogs the operations use (tests);
  // nullptr restores the native one.
  void setMessageBox(platform::MessageBox* messages);
  void setOpenFileDialog(platform::OpenFileDialog* dialog);
  void setFolderDialog(platform::FolderDialog* dialog);
  // What asks where to save the last run's report, given the suggested path;
  // "" cancels. By default the save-file dialog.
  void setReportPathChooser(std::function<std::string(const std::string& suggested)> chooser) {
    reportPathChooser_ = std::move(chooser);
  }

  // Shows the window centred on the work area, focus on "Add MSG File(s)...".
  void showCentred();
  // The main loop: returns when the window is gone.
  int run();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The file list's procedure in front of the list view's: it takes the drops.
  static LRESULT CALLBACK FileListProcedure(HWND view, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  // The control's window (nullptr for the shapes and pictures, which are painted).
  HWND createControl(const app::layout::Control& control);
  // A solid brush of that colour, made once and kept until the window goes.
  HBRUSH brush(app::layout::Colour colour);
  void paintBands(HDC dc);
  void onCommand(int id);
  // Drops are taken while no handler runs (none yields) and the list buttons
  // are enabled: never during a run or a folder's walk.
  bool takesDrops() const;
  void onDropFiles(HDROP drop);
  // "Convert Messages": the run, then "Save Report..." shown when one ended.
  void convert();
  void saveReport();
  std::string askReportPath(const std::string& suggested);
  void endProgram();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr, titleFont_ = nullptr;
  std::vector<std::pair<COLORREF, HBRUSH>> brushes_;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
  std::function<void()> end_;
  bool ended_ = false;
  int handling_ = 0;  // click and drop handlers running
  std::function<std::string(const std::string&)> reportPathChooser_;

  std::unique_ptr<Win32Grid> grid_;
  std::unique_ptr<Win32Label> fileCountLabel_, currentFolderLabel_;
  std::unique_ptr<Win32FrameCaption> frameCaption_;
  std::unique_ptr<Win32ProgressBar> overallProgressBar_, fileProgressBar_;
  std::unique_ptr<Win32Button> addFilesButton_, addFolderButton_, clearListButton_, convertButton_,
      exitButton_;
  // The native box and dialogs, and what the controller holds: parts that
  // forward to a replacement when one is set, else to the native ones.
  std::unique_ptr<Win32MessageBox> nativeMessages_;
  std::unique_ptr<Win32OpenFileDialog> nativeOpenDialog_;
  std::unique_ptr<Win32FolderDialog> nativeFolderDialog_;
  std::unique_ptr<app::ReplaceableMessageBox> messages_;
  std::unique_ptr<app::ReplaceableOpenFileDialog> openDialog_;
  std::unique_ptr<app::ReplaceableFolderDialog> folderDialog_;
  std::unique_ptr<Win32Desktop> desktop_;
  std::unique_ptr<app::MainWindowController> controller_;
  conversion::StoreService& store_;
  core::FileSystem& fileSystem_;
};

}  // namespace parvane::win32
