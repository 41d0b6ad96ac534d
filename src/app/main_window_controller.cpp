#include "app/main_window_controller.h"

#include <exception>
#include <string>
#include <utility>

#include "filelist/add_dropped.h"
#include "filelist/add_files.h"
#include "filelist/add_folder.h"
#include "filelist/file_list.h"

namespace parvane::app {

bool ConfirmExit(platform::MessageBox& messages) {
  return messages.show(kExitQuestion, platform::MessageButtons::YesNo,
                       platform::MessageIcon::Question,
                       filelist::kAppTitle) == platform::MessageAnswer::Yes;
}

namespace {

// "code:description", with a mail-store failure's own code.
std::string DescribeFailure(const std::exception& error) {
  if (const auto* automation = dynamic_cast<const platform::AutomationError*>(&error)) {
    return std::to_string(automation->code()) + ":" + automation->what();
  }
  return filelist::ErrorText(error);
}

}  // namespace

MainWindowController::MainWindowController(const MainWindowControls& controls,
                                           platform::ObjectFactory& factory,
                                           conversion::RunOptions options)
    : controls_(controls), factory_(factory), options_(std::move(options)) {}

void MainWindowController::load() {
  values_.FolderList.assign(1, std::string());
  guarded([this] { controls_.fileList.setColWidth(0, filelist::kStartColumnWidth); });
}

void MainWindowController::guarded(const std::function<void()>& operation) {
  std::string failure;
  try {
    operation();
    return;
  } catch (const std::exception& error) {
    failure = DescribeFailure(error);
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

void MainWindowController::addFolder() {
  guarded([this] {
    filelist::AddFolderTree({controls_.folderDialog,
                             controls_.desktop,
                             controls_.fileSystem,
                             {controls_.fileList, controls_.fileCountLabel},
                             controls_.convertButton,
                             controls_.messageBox});
  });
}

void MainWindowController::clearList() {
  guarded([this] {
    filelist::AskAndClearList({controls_.fileList, controls_.fileCountLabel}, controls_.messageBox,
                              values_.FolderList);
  });
}

void MainWindowController::addDropped(const std::vector<std::string>& paths,
                                      const std::vector<std::string>& unusable) {
  guarded([&] {
    filelist::AddDroppedPaths({controls_.desktop,
                               controls_.fileSystem,
                               {controls_.fileList, controls_.fileCountLabel},
                               controls_.convertButton,
                               controls_.messageBox},
                              paths, unusable);
  });
}

conversion::RunControls MainWindowController::runControls() const {
  return {controls_.fileList,           controls_.progressFrame,   controls_.currentFolderLabel,
          controls_.overallProgressBar, controls_.fileProgressBar, controls_.convertButton,
          controls_.addFilesButton,     controls_.addFolderButton, controls_.clearListButton,
          controls_.messageBox,         controls_.folderDialog,    controls_.desktop};
}

void MainWindowController::convert() {
  guarded([this] {
    conversion::RunOutcome outcome =
        conversion::CmdExtractDBX_Click(values_, runControls(), factory_, options_);
    // A start refused while another run yields leaves the running one's outcome.
    if (outcome.stage != conversion::RunOutcome::Stage::Busy) lastRun_ = std::move(outcome);
  });
}

bool MainWindowController::askToExit() {
  try {
    return ConfirmExit(controls_.messageBox);
  } catch (...) {
    return false;
  }
}

}  // namespace parvane::app
