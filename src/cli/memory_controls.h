// The window-side objects the conversion run needs, held in memory for a run
// without a window: a grid holding the file list, labels and bars that report
// their changes, a folder dialog that answers a fixed folder, a message box
// that notes what it was asked to show, and a desktop with nothing to yield to.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::cli {

class MemoryGrid : public platform::Grid {
 public:
  explicit MemoryGrid(std::vector<std::string> column);  // one row per entry; at least one row
  std::int32_t rows() const override;
  void setRows(std::int32_t rows) override;
  void setCols(std::int32_t cols) override;
  void setFixedRows(std::int32_t) override {}
  void setRow(std::int32_t row) override;
  void setCol(std::int32_t col) override;
  std::string text() const override;
  void setText(const std::string& text) override;
  void setColWidth(std::int32_t, std::int32_t) override {}
  void clear() override;

 private:
  std::string& cell(std::size_t row, std::size_t col) { return cells_[row * cols_ + col]; }

  std::vector<std::string> cells_;  // row by row, cols_ cells each
  std::size_t rows_ = 0, cols_ = 1;
  std::size_t row_ = 0, col_ = 0;
};

class MemoryLabel : public platform::Label {
 public:
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override { caption_ = caption; }

 private:
  std::string caption_;
};

class MemoryButton : public platform::Button {
 public:
  bool enabled() const override { return enabled_; }
  void setEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  bool enabled_ = true;
};

// Calls onValue with every new position.
class ReportingProgressBar : public platform::ProgressBar {
 public:
  std::function<void(float)> onValue;
  void setMin(float) override {}
  void setMax(float) override {}
  float value() const override { return value_; }
  void setValue(float value) override {
    value_ = value;
    if (onValue) onValue(value);
  }

 private:
  float value_ = 0;
};

class FixedFolderDialog : public platform::FolderDialog {
 public:
  explicit FixedFolderDialog(std::string folder) : folder_(std::move(folder)) {}
  std::string browse(std::intptr_t, const std::string&) override { return folder_; }

 private:
  std::string folder_;
};

// Answers OK (or No for a question) and keeps what was shown.
class NotingMessageBox : public platform::MessageBox {
 public:
  struct Shown {
    std::string text, title;
  };
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon, const std::string& title) override {
    shown.push_back({text, title});
    return buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok
                                                   : platform::MessageAnswer::No;
  }
  std::vector<Shown> shown;
};

class QuietDesktop : public platform::Desktop {
 public:
  void setBusyPointer(bool) override {}
  void yield() override {}
  std::intptr_t mainWindowHandle() const override { return 0; }
};

}  // namespace parvane::cli
