#include "conversion/window_run.h"

#include <utility>

#include "conversion/failure_report.h"
#include "platform/registry.h"

namespace parvane::conversion {
namespace {

constexpr const char* kChooserTitle = "Choose Folder to Save...";
constexpr const char* kApplicationTitle = "Parvane";

// A failing control must not end the run: what it would show is left out.
template <class Step>
void tolerant(Step&& step) {
  try {
    std::forward<Step>(step)();
  } catch (...) {
  }
}

// The run on the window. While it runs, the list buttons and the convert
// button are disabled, so the list cannot change and no second run starts;
// afterwards the list buttons get their state back, and the convert button
// too unless a file was imported (the first import disables it for good).
class WindowObserver final : public RunObserver {
 public:
  WindowObserver(const WindowControls& controls, const WindowRunOptions& options)
      : controls_(controls), options_(options) {}

  void runStarted() override {
    for (auto& held : held_) {
      tolerant([&] {
        held.wasEnabled = held.button->enabled();
        held.button->setEnabled(false);
      });
    }
  }
  void progressRangeSet() override {
    for (auto* bar : {&controls_.overallProgress, &controls_.secondProgress}) {
      bar->setMin(0.0f);
      bar->setMax(100.0f);
    }
  }
  void idle() override { controls_.desktop.yield(); }
  void preparationFailed(const PreparationError& error) override {
    release();
    tolerant([&] {
      controls_.messageBox.show(PreparationErrorText(error), platform::MessageButtons::Ok,
                                platform::MessageIcon::Information, kPreparationErrorTitle);
    });
  }
  void fileStarted(std::size_t index) override {
    tolerant([&] {
      controls_.files.setRow(static_cast<std::int32_t>(index));
      controls_.files.setCol(0);
    });
  }
  void fileDone(const FileProgress& progress) override {
    tolerant([&] { controls_.convert.setEnabled(false); });
    importStarted_ = true;
    tolerant([&] {
      controls_.frameCaption.setCaption(progress.frameCaption);
      controls_.currentFolder.setCaption(progress.folderCaption);
      controls_.overallProgress.setValue(progress.percent);
    });
  }
  void runEnded(const RunResult& result) override {
    if (result.stage != RunResult::Stage::Completed) return;
    release();
    if (!result.failures.empty() && options_.reportFailures) {
      tolerant([&] {
        controls_.messageBox.show(FailureReportText(result),
                                  platform::MessageButtons::Ok,
                                  platform::MessageIcon::Exclamation, kApplicationTitle);
      });
    }
  }
  bool stopRequested() override {
    bool stop = false;
    if (options_.stopRequested) tolerant([&] { stop = options_.stopRequested(); });
    return stop;
  }

 private:
  void release() {
    for (auto& held : held_) {
      if (held.button == &controls_.convert && importStarted_) continue;
      tolerant([&] { held.button->setEnabled(held.wasEnabled); });
    }
  }

  struct Held {
    platform::Button* button;
    bool wasEnabled = true;
  };
  const WindowControls& controls_;
  const WindowRunOptions& options_;
  Held held_[4] = {{&controls_.addFiles},
                   {&controls_.addFolder},
                   {&controls_.clearList},
                   {&controls_.convert}};
  bool importStarted_ = false;
};

// The rows of the list, each as its cell reads.
std::vector<std::string> listedFiles(platform::Grid& grid) {
  std::vector<std::string> files;
  const std::int32_t rows = grid.rows();
  for (std::int32_t i = 0; i < rows; ++i) {
    grid.setRow(i);
    grid.setCol(0);
    files.push_back(grid.text());
  }
  return files;
}

}  // namespace

WindowConversion::WindowConversion(const WindowControls& controls, WindowRunOptions options)
    : controls_(controls), options_(std::move(options)) {}

std::optional<RunResult> WindowConversion::start(StoreService& store) {
  if (running_) return std::nullopt;
  ConversionRequest request;
  request.destinationFolder =
      platform::ChooseFolder(controls_.folderDialog, controls_.desktop.mainWindowHandle(),
                             kChooserTitle, options_.pathRules.separator);
  if (request.destinationFolder.empty()) return std::nullopt;
  running_ = true;
  request.clock = options_.clock;
  request.pathRules = options_.pathRules;
  std::optional<RunResult> result;
  try {
    request.files = listedFiles(controls_.files);
    WindowObserver observer(controls_, options_);
    result = convert(request, store, observer);
  } catch (...) {
    running_ = false;
    throw;
  }
  running_ = false;
  return result;
}

}  // namespace parvane::conversion
