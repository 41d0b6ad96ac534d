// Folder listing on a POSIX file system, for the folder walker.
//
// Names come back sorted the way the Windows file system lists a folder:
// case-insensitively (by upper-cased code points), with a byte-wise tie-break so
// that the order is deterministic on case-sensitive systems too. A symbolic link
// to a folder is neither a subfolder nor a file (the walk never follows it, so a
// link loop cannot hang it); a link to a file is listed as a file; a dangling
// link is not listed. listFolder names the links left out. A folder is read
// once for a call for its subfolders and the call for its files right after it.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::platform {

class PosixFileSystem : public FileSystem {
 public:
  // Error codes raised, in the numbering of the Windows scripting runtime.
  static constexpr std::int32_t kPermissionDenied = 70;
  static constexpr std::int32_t kPathFileAccessError = 75;
  static constexpr std::int32_t kPathNotFound = 76;

  bool folderExists(const std::string& path) const override;
  std::vector<std::string> subFolderNames(const std::string& path) const override;
  std::vector<std::string> fileNames(const std::string& path) const override;
  FolderListing listFolder(const std::string& path) const override;

 private:
  struct Listing : FolderListing {
    std::string path;
    bool heldFolders = false;  // which half is held for the next call
  };
  static Listing read(const std::string& path);
  std::vector<std::string> take(const std::string& path, bool folders) const;

  // The half of the last listing not yet returned: the walker asks for a
  // folder's subfolders and then for its files, and both come from one read.
  mutable std::mutex mutex_;
  mutable std::optional<Listing> held_;
};

// The order of names in a listing: true when `a` comes before `b`.
bool ListingOrderLess(const std::string& a, const std::string& b);

}  // namespace parvane::platform
