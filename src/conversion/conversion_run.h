// The conversion run behind "Convert &Messages": CmdExtractDBX_Click. It asks
// for a destination, creates and attaches a new time-stamped store, rebuilds the
// listed files' folder tree in it, imports every listed file, and detaches the
// store again. It reaches the window only through platform/ui.h and the store
// only through platform/automation.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/relative_folder.h"
#include "conversion/time_stamp.h"
#include "platform/automation.h"
#include "platform/ui.h"

namespace parvane::conversion {

// The values the run keeps between its steps. The window owns them; they live
// as long as the window.
struct WindowValues {
  std::string SavePath;
  std::string StoreDisplayName;
  std::shared_ptr<platform::RDOSession> MailSession;
  std::vector<std::string> FolderList{std::string()};
  bool runActive = false;  // set while a run is under way; a second start returns at once
};

// The window's controls the run reads and changes.
struct RunControls {
  platform::Grid& grdFiles1;
  platform::Label& FrameConversion;  // the frame's caption
  platform::Label& LblCurrentDBX;
  platform::ProgressBar& ProgressBar1;
  platform::ProgressBar& ProgressBar2;
  platform::Button& CmdExtractDBX;
  platform::Button& cmdAdd;
  platform::Button& CmdAddFolder;
  platform::Button& cmdClear1;
  platform::MessageBox& messageBox;
  platform::FolderDialog& folderDialog;
  platform::Desktop& desktop;
};

struct RunOptions {
  // The new store's full path; empty: the chosen folder and the stamped name.
  std::string pstFilePath;
  // Show one box at the end naming the rows that could not be converted.
  bool reportFailures = true;
  // Where the time stamp is read from.
  Clock clock = SystemLocalTime;
  // How a row's text becomes its relative folder (the platform's own rule).
  PathRules pathRules = kNativePathRules;
  // Asked before each folder is created and before each row is imported; once
  // it answers true, the remaining folders and rows are left out and the store
  // is finished as at the end of every run (taken out of the profile, the
  // session logged off), so it holds every row converted so far.
  std::function<bool()> stopRequested;
};

struct RowFailure {
  std::int32_t row = 0;  // from 0
  std::string file;      // the row's text, blanks trimmed
  std::string reason;
};

struct RunOutcome {
  enum class Stage {
    Cancelled,          // no destination chosen: nothing happened
    Busy,               // another run was under way: nothing happened
    PreparationFailed,  // the error box was shown; see preparationError
    Completed,          // every row was attempted; see failures
  };
  Stage stage = Stage::Cancelled;
  std::string pstFilePath;       // set once the store path is known
  std::string preparationError;  // the first error's description
  std::int32_t rowsConverted = 0;
  std::vector<RowFailure> failures;
  bool stopped = false;  // stopRequested cut the run short
};

// Text of the error box shown when the session or store cannot be prepared.
extern const char* const kOutlookErrorText;
extern const char* const kOutlookErrorTitle;

RunOutcome CmdExtractDBX_Click(WindowValues& values, const RunControls& controls,
                               platform::ObjectFactory& factory, const RunOptions& options = {});

}  // namespace parvane::conversion
