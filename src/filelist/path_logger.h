// pathLogger: walks a folder and every folder below it, breadth first and
// without recursion, and collects the paths of all files it finds. The list of
// visited folders (pathNames) doubles as the work queue.
//
// Keys: pathNames has K0 for the starting folder and K<p> for the folder at
// position p >= 2; the n-th logged file has the key K<n> in fullFileNames,
// fileNames and pathPointers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "filelist/keyed_collection.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace parvane::filelist {

using StringCollection = KeyedCollection<std::string>;
using IntCollection = KeyedCollection<std::int32_t>;

class PathLogger {
 public:
  // `fileSystem` stands for the file-system service that PathLogInit makes
  // available and Terminate releases; it must outlive the walker. Folder paths
  // carry `separator` as their closing character.
  explicit PathLogger(const platform::FileSystem& fileSystem,
                      char separator = platform::kPathSeparator);

  // Makes the file-system service available, sets fullFileNamesOnly to true and
  // drops the four collections. The file counter is left as it was.
  void PathLogInit();

  // Walks `path` and all folders below it. A path that is not an existing
  // folder changes nothing. A folder that cannot be read raises PlatformError
  // (the walk stops; what was logged stays), unless skipUnreadableFolders is
  // set: then it is noted in unreadableFolders and the walk goes on. Raises
  // PlatformError(91) without PathLogInit, PlatformError(457) when called a
  // second time without PathLogInit in between.
  void LogPath(const std::string& path);

  // The file counter: 0 on a new walker, the number of files logged plus one
  // after a walk.
  std::int32_t Count() const { return counter_; }

  // Releases the file-system service and the collections; the counter and
  // fullFileNamesOnly keep their values.
  void Terminate();

  bool fullFileNamesOnly() const { return fullFileNamesOnly_; }
  void fullFileNamesOnly(bool only) { fullFileNamesOnly_ = only; }

  // Skip folders that cannot be read instead of stopping (false on a new walker
  // and after PathLogInit).
  bool skipUnreadableFolders() const { return skipUnreadable_; }
  void skipUnreadableFolders(bool skip) { skipUnreadable_ = skip; }

  // The walker's own collections (not copies): a caller that holds one keeps it,
  // with its contents, after Terminate. Each is created empty on first use.
  std::shared_ptr<StringCollection> fileNames();
  std::shared_ptr<StringCollection> pathNames();
  std::shared_ptr<IntCollection> pathPointers();
  std::shared_ptr<StringCollection> fullFileNames();
  // The folders skipped as unreadable, in the order met (closing separator on).
  std::shared_ptr<StringCollection> unreadableFolders();

 private:
  std::string AddBackslash(const std::string& path) const;
  void readFolder(const std::string& folder, std::int32_t position, std::int32_t& queueLength);

  const platform::FileSystem& fileSystemSource_;
  const platform::FileSystem* fileSystem_ = nullptr;
  char separator_;
  std::int32_t counter_ = 0;
  bool fullFileNamesOnly_ = false;
  bool skipUnreadable_ = false;
  std::shared_ptr<StringCollection> fileNames_, pathNames_, fullFileNames_, unreadable_;
  std::shared_ptr<IntCollection> pathPointers_;
};

}  // namespace parvane::filelist
