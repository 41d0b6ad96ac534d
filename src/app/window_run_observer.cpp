#include "app/window_run_observer.h"

#include <cstdint>
#include <utility>

#include "conversion/failure_report.h"
#include "filelist/file_list.h"

namespace parvane::app {
namespace {

// A failing control must not end the run: what it would show is left out.
template <class Step>
void Tolerant(Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
  } catch (...) {
  }
}

}  // namespace

void WindowRunObserver::runStarted() {
  holding_ = true;
  for (Held& held : held_) {
    Tolerant([&] {
      held.wasEnabled = held.button->enabled();
      held.button->setEnabled(false);
    });
  }
}

void WindowRunObserver::progressRangeSet() {
  for (platform::ProgressBar* bar : {&controls_.overallProgressBar, &controls_.fileProgressBar}) {
    bar->setMin(0.0f);
    bar->setMax(100.0f);
  }
}

void WindowRunObserver::idle() { controls_.desktop.yield(); }

void WindowRunObserver::preparationFailed(const conversion::PreparationError& error) {
  release();
  Tolerant([&] {
    controls_.messageBox.show(conversion::PreparationErrorText(error),
                              platform::MessageButtons::Ok, platform::MessageIcon::Information,
                              conversion::kPreparationErrorTitle);
  });
}

void WindowRunObserver::fileStarted(std::size_t index) {
  Tolerant([&] {
    controls_.fileList.setRow(static_cast<std::int32_t>(index));
    controls_.fileList.setCol(0);
  });
}

void WindowRunObserver::fileDone(const conversion::FileProgress& progress) {
  importStarted_ = true;
  Tolerant([&] { controls_.convertButton.setEnabled(false); });
  Tolerant([&] {
    controls_.progressFrame.setCaption(progress.frameCaption);
    controls_.currentFolderLabel.setCaption(progress.folderCaption);
    controls_.overallProgressBar.setValue(progress.percent);
  });
}

void WindowRunObserver::runEnded(const conversion::RunResult& result) {
  if (result.stage != conversion::RunResult::Stage::Completed) return;
  release();
  if (result.failures.empty()) return;
  Tolerant([&] {
    controls_.messageBox.show(conversion::FailureReportText(result),
                              platform::MessageButtons::Ok, platform::MessageIcon::Exclamation,
                              filelist::kAppTitle);
  });
}

void WindowRunObserver::release() noexcept {
  if (!holding_) return;
  holding_ = false;
  for (Held& held : held_) {
    if (held.button == &controls_.convertButton && importStarted_) continue;
    Tolerant([&] { held.button->setEnabled(held.wasEnabled); });
  }
}

}  // namespace parvane::app
