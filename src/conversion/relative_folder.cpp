#include "conversion/relative_folder.h"

#include "conversion/conversion_error.h"
#include "platform/folder_paths.h"

namespace parvane::conversion {

namespace {

[[noreturn]] void rootError(const std::string& rowText) {
  throw ConversionError("The file lies directly in the root folder: " + rowText);
}

// The folder part of `path` (components separated by `separator`) without its
// closing separator; a file with no folder part raises.
std::string folderWithoutClosingSeparator(const std::string& path, char separator,
                                          const std::string& rowText) {
  if (path.empty()) rootError(rowText);
  std::string folder = platform::GetFolderPart(path, separator);
  if (folder.empty()) rootError(rowText);
  folder.pop_back();
  if (folder.empty()) rootError(rowText);
  return folder;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string RelativeFolderWindows(const std::string& rowText) {
  const std::string trimmed = TrimBlanks(rowText);
  const auto colon = trimmed.find(':');
  if (colon == std::string::npos) {
    throw ConversionError("The path names no drive: " + rowText);
  }
  const auto next = trimmed.find(':', colon + 1);
  std::string piece =
      TrimBlanks(trimmed.substr(colon + 1, next == std::string::npos ? std::string::npos
                                                                     : next - colon - 1));
  if (!piece.empty()) piece.erase(0, 1);
  return folderWithoutClosingSeparator(piece, '\\', rowText);
}

std::string RelativeFolderPosix(const std::string& rowText) {
  const auto first = rowText.find_first_not_of(' ');
  if (first == std::string::npos || rowText[first] != '/') {
    throw ConversionError("The path does not start at the root folder: " + rowText);
  }
  const auto last = rowText.find_last_not_of(' ');
  // Below the root, with repeated separators read as one and each written as
  // the store's; built in place, as this runs for every row. A backslash that
  // is part of a name stays as it is.
  std::string folder(last - first, '\0');
  std::size_t length = 0, lastSeparator = std::string::npos;
  bool afterSeparator = true;
  for (std::size_t k = first + 1; k <= last; ++k) {
    char c = rowText[k];
    if (c == '/') {
      if (afterSeparator) continue;
      afterSeparator = true;
      lastSeparator = length;
      c = '\\';
    } else {
      afterSeparator = false;
    }
    folder[length++] = c;
  }
  // The folder part, without its closing separator.
  if (lastSeparator == std::string::npos || lastSeparator == 0) rootError(rowText);
  folder.resize(lastSeparator);
  return folder;
}

}  // namespace parvane::conversion
