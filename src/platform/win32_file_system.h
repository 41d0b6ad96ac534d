// Folder listing through the Windows API, for the folder walker (Windows only).
//
// Paths and names are UTF-8 on this side and UTF-16 towards Windows, so names
// outside the system code page survive. Names come back in the order NTFS lists
// them: case-insensitively by upper-cased UTF-16 code units, with an ordinal
// tie-break. A reparse point (junction, symbolic link) to a folder is neither a
// subfolder nor a file, so the walk never follows it and a loop cannot hang it
// (listFolder names it among the links); any other non-folder entry is a file.
#pragma once

#ifdef _WIN32
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::platform {

class Win32FileSystem : public FileSystem {
 public:
  // Error codes raised, in the numbering of the Windows scripting runtime.
  static constexpr std::int32_t kPermissionDenied = 70;
  static constexpr std::int32_t kPathFileAccessError = 75;
  static constexpr std::int32_t kPathNotFound = 76;

  bool folderExists(const std::string& path) const override;
  std::vector<std::string> subFolderNames(const std::string& path) const override;
  std::vector<std::string> fileNames(const std::string& path) const override;
  FolderListing listFolder(const std::string& path) const override;  // one pass
};

// The order of names in a Windows listing: true when `a` comes before `b`.
bool Win32ListingOrderLess(const std::string& a, const std::string& b);

}  // namespace parvane::platform
#endif  // _WIN32
