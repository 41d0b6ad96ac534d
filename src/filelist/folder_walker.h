// The folder walker: walks a folder and every folder below it, breadth first
// and without recursion, and collects the paths of all files it finds. The list
// of visited folders (visitedFolders) doubles as the work queue.
//
// Keys: visitedFolders has K0 for the starting folder and K<p> for the folder at
// position p >= 2; the n-th logged file has the key K<n> in filePaths,
// fileNames and folderPositions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/file_system.h"
#include "filelist/keyed_collection.h"
#include "platform/folder_paths.h"
#include "platform/ui.h"

namespace parvane::filelist {

using StringCollection = KeyedCollection<std::string>;
using IntCollection = KeyedCollection<std::int32_t>;

class FolderWalker {
 public:
  // `fileSystem` is the folder listing that prepare() makes available and
  // release() lets go of; it must outlive the walker. Folder paths carry
  // `separator` as their closing character.
  explicit FolderWalker(core::FileSystem& fileSystem,
                        char separator = platform::kPathSeparator);

  // Makes the file-system service available, sets fullPathsOnly to true and
  // drops the four collections. The file counter is left as it was.
  void prepare();

  // Walks `path` and all folders below it. A path that is not an existing
  // folder changes nothing. A folder that cannot be read raises core::IoError
  // (the walk stops; what was logged stays), unless skipUnreadableFolders is
  // set: then it is noted in unreadableFolders and the walk goes on. Raises
  // PlatformError(91) without prepare, PlatformError(457) when called a
  // second time without prepare in between.
  void walk(const std::string& path);

  // The number the next file found gets: 0 on a new walker, the number of
  // files logged plus one after a walk.
  std::int32_t nextFileNumber() const { return counter_; }

  // Releases the file-system service and the collections; the counter and
  // fullPathsOnly keep their values.
  void release();

  bool fullPathsOnly() const { return fullPathsOnly_; }
  void fullPathsOnly(bool only) { fullPathsOnly_ = only; }

  // Hands each file found to `sink` (its folder, closing separator on, and
  // its name) instead of logging it in the collections, so that a walk of a
  // million files holds none of them; the file counter still counts them.
  // prepare() takes the sink away again.
  using FileSink = std::function<void(const std::string& folder, const std::string& name)>;
  void sendFilesTo(FileSink sink) { sink_ = std::move(sink); }

  // Skip folders that cannot be read instead of stopping (false on a new walker
  // and after prepare).
  bool skipUnreadableFolders() const { return skipUnreadable_; }
  void skipUnreadableFolders(bool skip) { skipUnreadable_ = skip; }

  // The walker's own collections (not copies): a caller that holds one keeps it,
  // with its contents, after release. Each is created empty on first use.
  // fileNames: each file's bare name (only when fullPathsOnly is off).
  // visitedFolders: every folder walked, closing separator on, in walking order.
  // folderPositions: for each file, its folder's position in visitedFolders
  // (only when fullPathsOnly is off).
  // filePaths: each file's full path, its folder followed by its name.
  std::shared_ptr<StringCollection> fileNames();
  std::shared_ptr<StringCollection> visitedFolders();
  std::shared_ptr<IntCollection> folderPositions();
  std::shared_ptr<StringCollection> filePaths();
  // The folders skipped as unreadable, in the order met (closing separator on).
  std::shared_ptr<StringCollection> unreadableFolders();
  // The links passed over, as full paths in the order met: links to folders
  // (never followed) and links whose target cannot be reached. Emptied as the
  // collections are.
  const std::vector<std::string>& folderLinks() const { return folderLinks_; }
  const std::vector<std::string>& danglingLinks() const { return danglingLinks_; }

 private:
  std::string WithClosingSeparator(const std::string& path) const;
  void readFolder(const std::string& folder, std::int32_t position, std::int32_t& queueLength);

  core::FileSystem& fileSystemSource_;
  core::FileSystem* fileSystem_ = nullptr;
  char separator_;
  std::int32_t counter_ = 0;
  bool fullPathsOnly_ = false;
  bool skipUnreadable_ = false;
  std::shared_ptr<StringCollection> fileNames_, visitedFolders_, filePaths_, unreadable_;
  std::shared_ptr<IntCollection> folderPositions_;
  std::vector<std::string> folderLinks_, danglingLinks_;
  FileSink sink_;
};

}  // namespace parvane::filelist
