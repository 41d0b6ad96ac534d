#include "conversion/relative_folder.h"

#include "conversion/conversion_error.h"
#include "platform/registry.h"

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
  // Below the root, with repeated separators read as one; built in place, as
  // this runs for every row.
  std::string folder;
  folder.reserve(last - first);
  for (std::size_t k = first + 1; k <= last; ++k) {
    const char c = rowText[k];
    if (c == '/' && (folder.empty() || folder.back() == '/')) continue;
    folder.push_back(c);
  }
  // The folder part without its closing separator.
  const auto separator = folder.rfind('/');
  if (separator == std::string::npos || separator == 0) rootError(rowText);
  folder.resize(separator);
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  return folder;
}

}  // namespace parvane::conversion
