// A conversion run started from a window: the destination asked for, the
// listed rows read, and what the run reports shown on the window's controls
// (the frame caption, the current folder, the progress bar, the buttons, the
// boxes). A front end hands in its controls and a store service.
#pragma once

#include <functional>
#include <optional>

#include "conversion/convert.h"
#include "platform/ui.h"

namespace parvane::conversion {

struct WindowControls {
  platform::Grid& files;
  platform::Label& frameCaption;
  platform::Label& currentFolder;
  platform::ProgressBar& overallProgress;
  platform::ProgressBar& secondProgress;  // given the run's range, never moved
  platform::Button& convert;
  platform::Button& addFiles;
  platform::Button& addFolder;
  platform::Button& clearList;
  platform::MessageBox& messageBox;
  platform::FolderDialog& folderDialog;
  platform::Desktop& desktop;
};

struct WindowRunOptions {
  Clock clock = SystemLocalTime;
  PathRules pathRules = kNativePathRules;
  bool reportFailures = true;  // one box at the end naming the files that failed
  std::function<bool()> stopRequested;
};

class WindowConversion {
 public:
  WindowConversion(const WindowControls& controls, WindowRunOptions options = {});

  // Asks for the destination and converts the listed rows into a new store
  // there. Nothing when the choice is cancelled or a run is under way already
  // (the window stays responsive while a run yields to it).
  std::optional<RunResult> start(StoreService& store);

 private:
  WindowControls controls_;
  WindowRunOptions options_;
  bool running_ = false;
};

}  // namespace parvane::conversion
