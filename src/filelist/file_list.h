// The file list: the ordered full paths of the message files to convert, held
// only in the window's grid (one path per row, no header row) with a counter
// label beside it. The empty list is one row whose only cell is empty.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::filelist {

// The caption of the window and the title of its message boxes.
inline constexpr const char* kAppTitle = "Parvane";

// Column 0 is this wide (twips) at start-up, and this wide once a path is listed.
inline constexpr std::int32_t kStartColumnWidth = 50000;
inline constexpr std::int32_t kListColumnWidth = 10000;

inline constexpr const char* kClearQuestion =
    "Do you want to clear all the files in the list\r\n Proceed?";

// The grid that holds the list and the label that counts it.
struct FileListControls {
  platform::Grid& grid;
  platform::Label& counter;
};

// "N files", N being the grid's row count (no singular form: "1 files").
std::string CountCaption(std::int32_t rows);

// True when the list holds no path: one row whose cell (0, 0) is empty. Makes
// cell (0, 0) current to read it.
bool IsListEmpty(platform::Grid& grid);

// Appends `path`, exactly as given, as the list's last row. The first path of an
// empty list goes into row 0 and narrows column 0 to kListColumnWidth.
void AppendToList(const FileListControls& list, const std::string& path);

// Empties the list: one row, every cell emptied (widths stay), counter "0 files".
void EmptyList(const FileListControls& list);

// The "Clear File(s)..." click: on a non-empty list asks kClearQuestion (Yes/No,
// question icon) and clears on Yes; on an empty list does nothing.
void AskAndClearList(const FileListControls& list, platform::MessageBox& messages);

// The full paths of the list, row by row; an empty list gives no path.
std::vector<std::string> ListedPaths(platform::Grid& grid);

}  // namespace parvane::filelist
