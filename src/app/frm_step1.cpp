#include "app/frm_step1.h"

#include <exception>
#include <string>
#include <utility>

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

FrmStep1::FrmStep1(const FrmStep1Controls& controls, platform::ObjectFactory& factory,
                   conversion::RunOptions options)
    : controls_(controls), factory_(factory), options_(std::move(options)) {}

void FrmStep1::Form_Load() {
  values_.FolderList.assign(1, std::string());
  guarded([this] { controls_.grdFiles1.setColWidth(0, filelist::kStartColumnWidth); });
}

void FrmStep1::guarded(const std::function<void()>& operation) {
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

void FrmStep1::cmdAdd_Click() {
  guarded([this] {
    filelist::AddFilesFromDialog(controls_.cdlgFile, {controls_.grdFiles1, controls_.lblCount1},
                            controls_.CmdExtractDBX, controls_.messageBox);
  });
}

void FrmStep1::CmdAddFolder_Click() {
  guarded([this] {
    filelist::AddFolderTree({controls_.folderDialog, controls_.desktop, controls_.fileSystem,
                              {controls_.grdFiles1, controls_.lblCount1}, controls_.CmdExtractDBX,
                              controls_.messageBox});
  });
}

void FrmStep1::cmdClear1_Click() {
  guarded([this] {
    filelist::AskAndClearList({controls_.grdFiles1, controls_.lblCount1}, controls_.messageBox,
                         values_.FolderList);
  });
}

conversion::RunControls FrmStep1::runControls() const {
  return {controls_.grdFiles1,    controls_.FrameConversion, controls_.LblCurrentDBX,
          controls_.ProgressBar1, controls_.ProgressBar2,    controls_.CmdExtractDBX,
          controls_.cmdAdd,       controls_.CmdAddFolder,    controls_.cmdClear1,
          controls_.messageBox,   controls_.folderDialog,    controls_.desktop};
}

void FrmStep1::CmdExtractDBX_Click() {
  guarded([this] {
    conversion::RunOutcome outcome =
        conversion::CmdExtractDBX_Click(values_, runControls(), factory_, options_);
    // A start refused while another run yields leaves the running one's outcome.
    if (outcome.stage != conversion::RunOutcome::Stage::Busy) lastRun_ = std::move(outcome);
  });
}

bool FrmStep1::cmdEnd_Click() {
  try {
    return ConfirmExit(controls_.messageBox);
  } catch (...) {
    return false;
  }
}

}  // namespace parvane::app
