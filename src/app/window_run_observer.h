// What a conversion run shows on the main window, for every front end: the
// frame caption, the current-folder line and the overall bar after each file,
// the list's current row, the buttons held still while the run goes, the
// window served where the run yields, and the two boxes (a store that could
// not be prepared; the files that could not be converted).
#pragma once

#include "conversion/convert.h"
#include "platform/ui.h"

namespace parvane::app {

// The controls a run changes. They must outlive the observer.
struct RunControls {
  platform::Grid& fileList;
  platform::Label& progressFrame;  // the frame's caption
  platform::Label& currentFolderLabel;
  platform::ProgressBar& overallProgressBar;
  platform::ProgressBar& fileProgressBar;  // given the run's range, never moved
  platform::Button& convertButton;
  platform::Button& addFilesButton;
  platform::Button& addFolderButton;
  platform::Button& clearListButton;
  platform::MessageBox& messageBox;
  platform::Desktop& desktop;
};

// From runStarted to the run's end the list buttons and the convert button are
// disabled, so the list cannot change and no second run starts while the run
// yields. Then the list buttons get their state back, and the convert button
// too unless a file was imported (the first import disables it for good).
// A run that ends by an exception gives the buttons back as well. A control
// that fails is left as it is: the run goes on.
class WindowRunObserver final : public conversion::RunObserver {
 public:
  explicit WindowRunObserver(const RunControls& controls) : controls_(controls) {}
  ~WindowRunObserver() override { release(); }
  WindowRunObserver(const WindowRunObserver&) = delete;
  WindowRunObserver& operator=(const WindowRunObserver&) = delete;

  void runStarted() override;
  void progressRangeSet() override;
  void idle() override;
  void preparationFailed(const conversion::PreparationError& error) override;
  void fileStarted(std::size_t index) override;
  void fileDone(const conversion::FileProgress& progress) override;
  void runEnded(const conversion::RunResult& result) override;

 private:
  void release() noexcept;

  struct Held {
    platform::Button* button;
    bool wasEnabled = true;
  };
  RunControls controls_;
  Held held_[4] = {{&controls_.addFilesButton},
                   {&controls_.addFolderButton},
                   {&controls_.clearListButton},
                   {&controls_.convertButton}};
  bool holding_ = false;
  bool importStarted_ = false;
};

}  // namespace parvane::app
