#include "filelist/file_list.h"

namespace parvane::filelist {

std::string CountCaption(std::int32_t rows) { return std::to_string(rows) + " files"; }

bool IsListEmpty(platform::Grid& grid) {
  if (grid.rows() != 1) return false;
  grid.setRow(0);
  grid.setCol(0);
  return grid.text().empty();
}

void AppendToList(const FileListControls& list, const std::string& path) {
  platform::Grid& grid = list.grid;
  bool rowZeroFree = false;
  if (IsListEmpty(grid)) {
    grid.setRows(1);
    grid.setCols(1);
    grid.setFixedRows(0);
    grid.setColWidth(0, kListColumnWidth);
    rowZeroFree = true;
  }
  if (!rowZeroFree) grid.setRows(grid.rows() + 1);
  grid.setRow(grid.rows() - 1);
  grid.setCol(0);
  grid.setText(path);
  list.counter.setCaption(CountCaption(grid.rows()));
}

void EmptyList(const FileListControls& list) {
  list.grid.setRows(1);
  list.grid.clear();
  list.counter.setCaption(CountCaption(0));
}

void AskAndClearList(const FileListControls& list, platform::MessageBox& messages) {
  list.grid.setRow(0);
  list.grid.setCol(0);
  if (list.grid.text().empty()) return;
  auto answer = messages.show(kClearQuestion, platform::MessageButtons::YesNo,
                              platform::MessageIcon::Question, kAppTitle);
  if (answer == platform::MessageAnswer::Yes) EmptyList(list);
}

std::vector<std::string> ListedPaths(platform::Grid& grid) {
  std::vector<std::string> paths;
  if (IsListEmpty(grid)) return paths;
  const std::int32_t rows = grid.rows();
  paths.reserve(static_cast<std::size_t>(rows));
  for (std::int32_t r = 0; r < rows; ++r) {
    grid.setRow(r);
    grid.setCol(0);
    paths.push_back(grid.text());
  }
  return paths;
}

}  // namespace parvane::filelist
