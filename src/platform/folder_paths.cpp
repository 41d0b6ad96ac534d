#include "platform/folder_paths.h"

namespace parvane::platform {

namespace {

// A root keeps its closing separator: "/" on POSIX, "C:\" (a drive letter, a
// colon and the separator) or "\" on Windows-style paths.
bool isRoot(const std::string& path, char separator) {
  if (path.size() == 1 && path[0] == separator) return true;
  return path.size() == 3 && path[1] == ':' && path[2] == separator;
}

}  // namespace

std::string ChooseFolder(FolderDialog& dialog, std::intptr_t owner, const std::string& title,
                         char separator) {
  try {
    std::string path = dialog.browse(owner, title);
    // Step 6: the result ends at the first NUL of the path buffer.
    if (auto nul = path.find('\0'); nul != std::string::npos) path.resize(nul);
    // Step 7: the shell's form, no closing separator except for a root.
    while (path.size() > 1 && path.back() == separator && !isRoot(path, separator)) {
      path.pop_back();
    }
    return path;
  } catch (...) {
    return {};
  }
}

std::string GetFolderPart(const std::string& path, char separator) {
  if (path.empty()) throw PlatformError(5, "Invalid procedure call or argument");
  auto last = path.rfind(separator);
  if (last == std::string::npos) return {};
  return path.substr(0, last + 1);
}

}  // namespace parvane::platform
