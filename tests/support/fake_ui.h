// In-memory implementations of the window-side interfaces, for tests of the
// plain logic without Qt. Each records what was done to it.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "support/memory_file_system.h"

namespace parvane::testing {

class FakeGrid : public platform::Grid {
 public:
  FakeGrid() : cells_(1, std::vector<std::string>(1)) {}
  std::int32_t rows() const override { return static_cast<std::int32_t>(cells_.size()); }
  void setRows(std::int32_t rows) override {
    if (rows < 1) throw std::invalid_argument("grid needs at least one row");
    cells_.resize(static_cast<std::size_t>(rows), std::vector<std::string>(cols_));
    if (row_ >= rows) row_ = rows - 1;
  }
  void setCols(std::int32_t cols) override {
    if (cols < 1) throw std::invalid_argument("grid needs at least one column");
    cols_ = static_cast<std::size_t>(cols);
    for (auto& r : cells_) r.resize(cols_);
  }
  void setFixedRows(std::int32_t fixedRows) override { fixedRows_ = fixedRows; }
  void setRow(std::int32_t row) override { check(row, rows()); row_ = row; }
  void setCol(std::int32_t col) override { check(col, static_cast<std::int32_t>(cols_)); col_ = col; }
  std::string text() const override { return cell(row_, col_); }
  void setText(const std::string& text) override {
    cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col_)] = text;
  }
  void setColWidth(std::int32_t col, std::int32_t twips) override { widths_[col] = twips; }
  void clear() override {
    for (auto& r : cells_) std::fill(r.begin(), r.end(), std::string());
  }

  // Inspection.
  std::string cell(std::int32_t row, std::int32_t col) const {
    return cells_.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(col));
  }
  std::int32_t currentRow() const { return row_; }
  std::int32_t currentCol() const { return col_; }
  std::int32_t fixedRows() const { return fixedRows_; }
  std::int32_t colWidth(std::int32_t col) const {
    auto it = widths_.find(col);
    return it == widths_.end() ? -1 : it->second;
  }
  std::vector<std::string> column0() const {
    std::vector<std::string> out;
    for (auto& r : cells_) out.push_back(r[0]);
    return out;
  }

 private:
  static void check(std::int32_t index, std::int32_t count) {
    if (index < 0 || index >= count) throw std::out_of_range("grid index out of range");
  }
  std::vector<std::vector<std::string>> cells_;
  std::size_t cols_ = 1;
  std::int32_t row_ = 0, col_ = 0, fixedRows_ = 0;
  std::map<std::int32_t, std::int32_t> widths_;
};

class FakeLabel : public platform::Label {
 public:
  explicit FakeLabel(std::string caption = {}) : caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override { caption_ = caption; history.push_back(caption); }
  std::vector<std::string> history;

 private:
  std::string caption_;
};

class FakeButton : public platform::Button {
 public:
  explicit FakeButton(bool enabled = true) : enabled_(enabled) {}
  bool enabled() const override { return enabled_; }
  void setEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  bool enabled_;
};

class FakeProgressBar : public platform::ProgressBar {
 public:
  void setMin(float min) override { min_ = min; }
  void setMax(float max) override { max_ = max; }
  float value() const override { return value_; }
  void setValue(float value) override { value_ = value; history.push_back(value); }
  float min() const { return min_; }
  float max() const { return max_; }
  std::vector<float> history;

 private:
  float min_ = 0, max_ = 100, value_ = 0;
};

// Answers message boxes from a script and records every box shown.
class ScriptedMessageBox : public platform::MessageBox {
 public:
  struct Shown {
    std::string text;
    platform::MessageButtons buttons;
    platform::MessageIcon icon;
    std::string title;
  };
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override {
    shown.push_back({text, buttons, icon, title});
    if (answers.empty()) {
      return buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok
                                                     : platform::MessageAnswer::No;
    }
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<platform::MessageAnswer> answers;
  std::vector<Shown> shown;
};

// Returns a scripted result string, or raises a scripted failure.
class FakeOpenFileDialog : public platform::OpenFileDialog {
 public:
  void setFileName(const std::string& name) override { fileName_ = name; }
  void setFilter(const std::string& f) override { filter = f; }
  void setFlags(std::int32_t f) override { flags = f; }
  void setMaxFileSize(std::int32_t size) override { maxFileSize = size; }
  void showOpen() override {
    ++shownCount;
    if (failCode) throw platform::PlatformError(failCode, failDescription);
    fileName_ = result;
  }
  std::string fileName() const override { return fileName_; }

  std::string result;  // what the user "chose"
  std::int32_t failCode = 0;
  std::string failDescription;
  std::string filter;
  std::int32_t flags = 0, maxFileSize = 0;
  int shownCount = 0;

 private:
  std::string fileName_;
};

class FakeFolderDialog : public platform::FolderDialog {
 public:
  std::string browse(std::intptr_t owner, const std::string& title) override {
    titles.push_back(title);
    owners.push_back(owner);
    if (fail) throw std::runtime_error("folder dialog failed");
    if (results.empty()) return {};
    auto r = results.front();
    results.pop_front();
    return r;
  }
  std::deque<std::string> results;
  bool fail = false;
  std::vector<std::string> titles;
  std::vector<std::intptr_t> owners;
};

class FakeDesktop : public platform::Desktop {
 public:
  void setBusyPointer(bool b) override { busy = b; pointerChanges.push_back(b); }
  void yield() override {
    ++yields;
    if (onYield) onYield();
  }
  std::intptr_t mainWindowHandle() const override { return 0x1234; }
  bool busy = false;
  std::vector<bool> pointerChanges;
  int yields = 0;
  std::function<void()> onYield;  // runs "clicks" that arrive during a yield
};

}  // namespace parvane::testing
