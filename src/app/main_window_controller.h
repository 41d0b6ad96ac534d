// The main window without its toolkit: the window-level values, the load step
// and the handlers of the five buttons, each delegating to the file-list and
// conversion operations. A front end (Qt, native Windows) builds the controls
// and their adapters, calls load() once they exist, and binds every button to
// the handler of its name. It keeps closing to itself: askToExit() only says
// whether the user wants to end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "platform/automation.h"
#include "platform/ui.h"

namespace parvane::app {

inline constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

// Asks kExitQuestion (Yes/No, question icon, the application title); true on Yes.
bool ConfirmExit(platform::MessageBox& messages);

// The window-side interfaces over the window's controls. They must outlive the
// controller.
struct MainWindowControls {
  platform::Grid& fileList;
  platform::Label& fileCountLabel;
  platform::Label& progressFrame;  // the frame's caption
  platform::Label& currentFolderLabel;
  platform::ProgressBar& overallProgressBar;
  platform::ProgressBar& fileProgressBar;
  platform::Button& addFilesButton;
  platform::Button& addFolderButton;
  platform::Button& clearListButton;
  platform::Button& convertButton;
  platform::Button& exitButton;
  platform::MessageBox& messageBox;
  platform::OpenFileDialog& openFileDialog;
  platform::FolderDialog& folderDialog;  // both folder choosers
  platform::Desktop& desktop;
  const platform::FileSystem& fileSystem;
};

class MainWindowController {
 public:
  // `factory` makes the mail-store objects of every conversion run; `options`
  // are the run's (time source, path rules, the failure box).
  MainWindowController(const MainWindowControls& controls, platform::ObjectFactory& factory,
                       conversion::RunOptions options = {});
  MainWindowController(const MainWindowController&) = delete;
  MainWindowController& operator=(const MainWindowController&) = delete;

  // Load step: FolderList holds one empty entry; column 0 is widened.
  void load();

  // The click handlers. None of them raises: a failure that escapes an
  // operation is shown as "code:description" with the application title.
  void addFiles();
  void addFolder();
  void clearList();
  void convert();
  // Paths dropped onto the file list (filelist::AddDroppedPaths); `unusable`
  // are dropped items that name no local path, shown in the same box as the
  // paths that cannot be added. The front end calls it only while the list
  // buttons are enabled.
  void addDropped(const std::vector<std::string>& paths,
                  const std::vector<std::string>& unusable = {});
  // Asks for confirmation; true when the program is to end.
  bool askToExit();

  conversion::WindowValues& values() { return values_; }
  // What the last conversion run did (Cancelled before any run).
  const conversion::RunOutcome& lastRun() const { return lastRun_; }

 private:
  void guarded(const std::function<void()>& operation);
  conversion::RunControls runControls() const;

  MainWindowControls controls_;
  platform::ObjectFactory& factory_;
  conversion::RunOptions options_;
  conversion::WindowValues values_;
  conversion::RunOutcome lastRun_;
};

}  // namespace parvane::app
