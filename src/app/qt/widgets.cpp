#include "app/qt/widgets.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace parvane::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void CheckIndex(std::int32_t index, int count) {
  if (index < 0 || index >= count) throw platform::PlatformError(381, "Subscript out of range");
}

}  // namespace

QtGrid::QtGrid(QTableWidget* table) : table_(table) {}

std::int32_t QtGrid::rows() const { return table_->rowCount(); }

void QtGrid::setRows(std::int32_t rows) {
  if (rows < 1) throw platform::PlatformError(30009, "Invalid Row value");
  table_->setRowCount(rows);
  if (row_ >= rows) row_ = rows - 1;
}

void QtGrid::setCols(std::int32_t cols) {
  if (cols < 1) throw platform::PlatformError(30010, "Invalid Col value");
  table_->setColumnCount(cols);
  if (col_ >= cols) col_ = cols - 1;
}

void QtGrid::setFixedRows(std::int32_t fixedRows) {
  // The list never has header rows; the count is kept for readers only.
  fixedRows_ = fixedRows;
}

void QtGrid::setRow(std::int32_t row) {
  CheckIndex(row, table_->rowCount());
  row_ = row;
  showCurrent();
}

void QtGrid::setCol(std::int32_t col) {
  CheckIndex(col, table_->columnCount());
  col_ = col;
  showCurrent();
}

std::string QtGrid::text() const {
  const QTableWidgetItem* item = table_->item(row_, col_);
  return item ? item->text().toStdString() : std::string();
}

void QtGrid::setText(const std::string& text) {
  QTableWidgetItem* item = table_->item(row_, col_);
  if (item == nullptr) {
    item = new QTableWidgetItem();
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table_->setItem(row_, col_, item);
  }
  item->setText(Q(text));
}

void QtGrid::setColWidth(std::int32_t col, std::int32_t twips) {
  CheckIndex(col, table_->columnCount());
  table_->setColumnWidth(col, TwipsToPixels(twips));
}

void QtGrid::clear() { table_->clearContents(); }

void QtGrid::showCurrent() {
  // The current cell is the highlighted one, as in the grid control.
  table_->setCurrentCell(row_, col_);
}

std::string QtLabel::caption() const { return label_->text().toStdString(); }
void QtLabel::setCaption(const std::string& caption) { label_->setText(Q(caption)); }

std::string QtFrameCaption::caption() const { return frame_->title().toStdString(); }
void QtFrameCaption::setCaption(const std::string& caption) { frame_->setTitle(Q(caption)); }

bool QtButton::enabled() const { return button_->isEnabled(); }
void QtButton::setEnabled(bool enabled) { button_->setEnabled(enabled); }

QtProgressBar::QtProgressBar(QProgressBar* bar) : bar_(bar) {
  min_ = static_cast<float>(bar->minimum());
  max_ = static_cast<float>(bar->maximum());
  value_ = static_cast<float>(bar->value());
}

void QtProgressBar::setMin(float min) {
  min_ = min;
  show();
}

void QtProgressBar::setMax(float max) {
  max_ = max;
  show();
}

void QtProgressBar::setValue(float value) {
  value_ = value;
  show();
}

void QtProgressBar::show() {
  const auto round = [](float v) { return static_cast<int>(std::lround(v)); };
  const int low = round(min_);
  const int high = std::max(round(max_), low + 1);  // an empty range would animate
  bar_->setRange(low, high);
  bar_->setValue(std::clamp(round(value_), low, high));
}

}  // namespace parvane::app
