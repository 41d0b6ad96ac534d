// The main window without its toolkit: the window-level values, the load step
// and the handlers of the five buttons, each delegating to the file-list and
// conversion operations. A front end (Qt, native Windows) builds the controls
// and their adapters, calls load() once they exist, and binds every button to
// the handler of its name. It keeps closing to itself: askToExit() only says
// whether the user wants to end.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "conversion/convert.h"
#include "conversion/run_report.h"
#include "conversion/store_service.h"
#include "engine/core/file_system.h"
#include "filelist/add_folder.h"
#include "platform/ui.h"

namespace parvane::app {

inline constexpr const char* kExitQuestion = "Are you sure you want to exit now?";
inline constexpr const char* kDestinationTitle = "Choose Folder to Save...";

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
  core::FileSystem& fileSystem;
};

// How the window's runs name and place things: the time stamp's clock and the
// platform's path rules (tests fix both).
struct ConversionSettings {
  conversion::Clock clock = conversion::SystemLocalTime;
  conversion::PathRules pathRules = conversion::kNativePathRules;
};

class MainWindowController {
 public:
  // `store` is what every conversion run writes through; it must outlive the
  // controller.
  MainWindowController(const MainWindowControls& controls, conversion::StoreService& store,
                       ConversionSettings settings = {});
  MainWindowController(const MainWindowController&) = delete;
  MainWindowController& operator=(const MainWindowController&) = delete;

  // Load step: column 0 of the file list is widened.
  void load();

  // The click handlers. None of them raises: a failure that escapes an
  // operation is shown as "code:description" with the application title.
  void addFiles();
  void addFolder();
  void clearList();
  // Asks for the destination folder (cancel: nothing happens) and converts the
  // listed files into a new store there. While a run yields to the window, a
  // second start does nothing.
  void convert();
  // Paths dropped onto the file list (filelist::AddDroppedPaths); `unusable`
  // are dropped items that name no local path, shown in the same box as the
  // paths that cannot be added. The front end calls it only while the list
  // buttons are enabled.
  void addDropped(const std::vector<std::string>& paths,
                  const std::vector<std::string>& unusable = {});
  // Asks for confirmation; true when the program is to end.
  bool askToExit();

  // The store service the next run writes through.
  void setStoreService(conversion::StoreService& store) { store_ = &store; }
  // What the last conversion run did; none before any run and after a
  // cancelled choice of destination.
  const std::optional<conversion::RunResult>& lastRun() const { return lastRun_; }
  bool running() const { return running_; }
  // The last run's report as parvane-cli --report writes it (JSON Lines, with
  // no exit status); none while no run has ended. `sizeOf` gives the files' sizes.
  std::optional<std::string> lastRunReport(const conversion::FileSize& sizeOf) const;
  // Where the report is first offered: beside the store, named as it is.
  std::string suggestedReportPath() const;
  // Writes the last run's report to `path` (the front end asked for it),
  // replacing a file there; when it cannot be written, a box says so. Nothing
  // while no run has ended.
  void saveReport(const std::string& path);

 private:
  // The window's parts that adding a folder or a drop works on.
  filelist::AddFolderContext folderAdditions() const;
  void guarded(const std::function<void()>& operation);
  void runConversion();

  MainWindowControls controls_;
  conversion::StoreService* store_;
  ConversionSettings settings_;
  std::optional<conversion::RunResult> lastRun_;
  conversion::ConversionRequest lastRequest_;
  double lastRunSeconds_ = 0;
  bool running_ = false;
};

}  // namespace parvane::app
