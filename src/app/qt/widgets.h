// Qt implementations of the window-side interfaces over the widgets of the main
// window. Each adapter refers to a widget it does not own.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>

#include "platform/ui.h"

namespace parvane::app {

// Pixels at 96 dots per inch for a length in twips.
constexpr int TwipsToPixels(int twips) {
  return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15);
}

// The file-list grid over a QTableWidget: one current cell, cell texts, row
// and column counts, column widths in twips.
class QtGrid : public platform::Grid {
 public:
  explicit QtGrid(QTableWidget* table);
  std::int32_t rows() const override;
  void setRows(std::int32_t rows) override;
  void setCols(std::int32_t cols) override;
  void setFixedRows(std::int32_t fixedRows) override;
  void setRow(std::int32_t row) override;
  void setCol(std::int32_t col) override;
  std::string text() const override;
  void setText(const std::string& text) override;
  void setColWidth(std::int32_t col, std::int32_t twips) override;
  void clear() override;

  std::int32_t currentRow() const { return row_; }
  std::int32_t currentCol() const { return col_; }
  std::int32_t fixedRows() const { return fixedRows_; }

 private:
  void showCurrent();
  QPointer<QTableWidget> table_;
  std::int32_t row_ = 0, col_ = 0, fixedRows_ = 0;
};

class QtLabel : public platform::Label {
 public:
  explicit QtLabel(QLabel* label) : label_(label) {}
  std::string caption() const override;
  void setCaption(const std::string& caption) override;

 private:
  QPointer<QLabel> label_;
};

// A frame's caption, as a label.
class QtFrameCaption : public platform::Label {
 public:
  explicit QtFrameCaption(QGroupBox* frame) : frame_(frame) {}
  std::string caption() const override;
  void setCaption(const std::string& caption) override;

 private:
  QPointer<QGroupBox> frame_;
};

class QtButton : public platform::Button {
 public:
  explicit QtButton(QPushButton* button) : button_(button) {}
  bool enabled() const override;
  void setEnabled(bool enabled) override;

 private:
  QPointer<QPushButton> button_;
};

// Keeps the fractional range and value as set; the bar shows them rounded,
// the value held within the range.
class QtProgressBar : public platform::ProgressBar {
 public:
  explicit QtProgressBar(QProgressBar* bar);
  void setMin(float min) override;
  void setMax(float max) override;
  float value() const override { return value_; }
  void setValue(float value) override;

 private:
  void show();
  QPointer<QProgressBar> bar_;
  float min_ = 0, max_ = 100, value_ = 0;
};

}  // namespace parvane::app
