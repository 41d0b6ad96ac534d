// The main window frmStep1 without its toolkit: the window-level values, the
// load step and the click handlers of the five buttons, each delegating to the
// file-list and conversion operations. A front end (Qt, native Windows) builds
// the controls and their adapters, calls Form_Load once they exist, and binds
// every click to the handler of the same name. It keeps closing to itself:
// cmdEnd_Click only says whether the user wants to end.
#pragma once

#include <functional>

#include "conversion/conversion_run.h"
#include "platform/automation.h"
#include "platform/ui.h"

namespace parvane::app {

inline constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

// Asks kExitQuestion (Yes/No, question icon, the application title); true on Yes.
bool ConfirmExit(platform::MessageBox& messages);

// The window-side interfaces over the window's controls. They must outlive the
// controller.
struct FrmStep1Controls {
  platform::Grid& grdFiles1;
  platform::Label& lblCount1;
  platform::Label& FrameConversion;  // the frame's caption
  platform::Label& LblCurrentDBX;
  platform::ProgressBar& ProgressBar1;
  platform::ProgressBar& ProgressBar2;
  platform::Button& cmdAdd;
  platform::Button& CmdAddFolder;
  platform::Button& cmdClear1;
  platform::Button& CmdExtractDBX;
  platform::Button& cmdEnd;
  platform::MessageBox& messageBox;
  platform::OpenFileDialog& cdlgFile;
  platform::FolderDialog& folderDialog;  // both folder choosers
  platform::Desktop& desktop;
  const platform::FileSystem& fileSystem;
};

class FrmStep1 {
 public:
  // `factory` makes the mail-store objects of every conversion run; `options`
  // are the run's (time source, path rules, the failure box).
  FrmStep1(const FrmStep1Controls& controls, platform::ObjectFactory& factory,
           conversion::RunOptions options = {});
  FrmStep1(const FrmStep1&) = delete;
  FrmStep1& operator=(const FrmStep1&) = delete;

  // Load step: FolderList holds one empty entry; column 0 is widened.
  void Form_Load();

  // The click handlers. None of them raises: a failure that escapes an
  // operation is shown as "code:description" with the application title.
  void cmdAdd_Click();
  void CmdAddFolder_Click();
  void cmdClear1_Click();
  void CmdExtractDBX_Click();
  // Asks for confirmation; true when the program is to end.
  bool cmdEnd_Click();

  conversion::WindowValues& values() { return values_; }
  // What the last conversion run did (Cancelled before any run).
  const conversion::RunOutcome& lastRun() const { return lastRun_; }

 private:
  void guarded(const std::function<void()>& operation);
  conversion::RunControls runControls() const;

  FrmStep1Controls controls_;
  platform::ObjectFactory& factory_;
  conversion::RunOptions options_;
  conversion::WindowValues values_;
  conversion::RunOutcome lastRun_;
};

}  // namespace parvane::app
