#include "app/main_window_controller.h"

#include <chrono>
#include <exception>
#include <sstream>
#include <string>
#include <utility>

#include "filelist/add_dropped.h"
#include "app/window_run_observer.h"
#include "filelist/add_files.h"
#include "filelist/add_folder.h"
#include "filelist/file_list.h"
#include "platform/folder_paths.h"
#include "platform/native_files.h"

namespace parvane::app {

bool ConfirmExit(platform::MessageBox& messages) {
  return messages.show(kExitQuestion, platform::MessageButtons::YesNo,
                       platform::MessageIcon::Question,
                       filelist::kAppTitle) == platform::MessageAnswer::Yes;
}

namespace {

// Marks a run as under way for its lifetime, whatever way it ends.
class RunningFlag {
 public:
  explicit RunningFlag(bool& running) : running_(running) { running_ = true; }
  ~RunningFlag() { running_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& running_;
};

}  // namespace

MainWindowController::MainWindowController(const MainWindowControls& controls,
                                           conversion::StoreService& store,
                                           ConversionSettings settings)
    : controls_(controls), store_(&store), settings_(std::move(settings)) {}

void MainWindowController::load() {
  guarded([this] { controls_.fileList.setColWidth(0, filelist::kStartColumnWidth); });
}

void MainWindowController::guarded(const std::function<void()>& operation) {
  std::string failure;
  try {
    operation();
    return;
  } catch (const std::exception& error) {
    failure = filelist::ErrorText(error);
  } catch (...) {
    failure = "51:Internal error";
  }
  try {
    controls_.messageBox.show(failure, platform::MessageButtons::Ok,
                              platform::MessageIcon::Exclamation, filelist::kAppTitle);
  } catch (...) {
    // The box itself failed: there is nowhere left to report to.
  }
}

void MainWindowController::addFiles() {
  guarded([this] {
    filelist::AddFilesFromDialog(controls_.openFileDialog,
                                 {controls_.fileList, controls_.fileCountLabel},
                                 controls_.convertButton, controls_.messageBox);
  });
}

filelist::AddFolderContext MainWindowController::folderAdditions() const {
  return {controls_.desktop, controls_.fileSystem, {controls_.fileList, controls_.fileCountLabel},
          controls_.convertButton, controls_.messageBox};
}

void MainWindowController::addFolder() {
  guarded([this] {
    filelist::AddFolderTree(controls_.folderDialog, folderAdditions());
  });
}

void MainWindowController::clearList() {
  guarded([this] {
    filelist::AskAndClearList({controls_.fileList, controls_.fileCountLabel},
                              controls_.messageBox);
  });
}

void MainWindowController::addDropped(const std::vector<std::string>& paths,
                                      const std::vector<std::string>& unusable) {
  guarded([&] {
    filelist::AddDroppedPaths(folderAdditions(), paths, unusable);
  });
}

void MainWindowController::convert() {
  if (running_) return;
  guarded([this] { runConversion(); });
}

void MainWindowController::runConversion() {
  const std::string destination =
      platform::ChooseFolder(controls_.folderDialog, controls_.desktop.mainWindowHandle(),
                             kDestinationTitle, settings_.pathRules.separator);
  if (destination.empty()) {
    lastRun_.reset();
    return;
  }
  RunningFlag running(running_);
  conversion::ConversionRequest request;
  request.destinationFolder = destination;
  request.clock = settings_.clock;
  request.pathRules = settings_.pathRules;
  // Every row as it reads: the empty list is one empty row, which the run
  // refuses as a list without files.
  platform::Grid& grid = controls_.fileList;
  const std::int32_t rows = grid.rows();
  for (std::int32_t row = 0; row < rows; ++row) {
    grid.setRow(row);
    grid.setCol(0);
    request.files.append(grid.text());
  }
  WindowRunObserver observer({controls_.fileList, controls_.progressFrame,
                              controls_.currentFolderLabel, controls_.overallProgressBar,
                              controls_.fileProgressBar, controls_.convertButton,
                              controls_.addFilesButton, controls_.addFolderButton,
                              controls_.clearListButton, controls_.messageBox,
                              controls_.desktop});
  const auto started = std::chrono::steady_clock::now();
  lastRun_ = conversion::convert(request, *store_, observer);
  lastRunSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  lastRequest_ = std::move(request);
}

std::optional<std::string> MainWindowController::lastRunReport(
    const conversion::FileSize& sizeOf) const {
  if (!lastRun_ || running_) return std::nullopt;
  const auto files = conversion::RunOutcomes(lastRequest_, *lastRun_, sizeOf);
  conversion::RunSummary summary = conversion::SummaryOf(*lastRun_, files);
  summary.seconds = lastRunSeconds_;
  std::ostringstream text;
  conversion::WriteReport(text, files, summary);
  return text.str();
}

void MainWindowController::saveReport(const std::string& path) {
  guarded([&] {
    const auto report = lastRunReport(platform::RegularFileSize);
    if (!report || platform::WriteWholeFile(path, *report)) return;
    controls_.messageBox.show("The report could not be saved to \"" + path + "\".",
                              platform::MessageButtons::Ok, platform::MessageIcon::Exclamation,
                              filelist::kAppTitle);
  });
}

std::string MainWindowController::suggestedReportPath() const {
  if (!lastRun_) return {};
  std::string path = lastRun_->storeFilePath;
  const std::string extension = conversion::kStoreFileExtension;
  if (path.size() >= extension.size() &&
      path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
    path.erase(path.size() - extension.size());
  }
  return path + ".jsonl";
}

bool MainWindowController::askToExit() {
  try {
    return ConfirmExit(controls_.messageBox);
  } catch (...) {
    return false;
  }
}

}  // namespace parvane::app
