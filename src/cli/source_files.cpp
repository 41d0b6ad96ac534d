#include "cli/source_files.h"

#include <filesystem>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "filelist/add_folder.h"
#include "filelist/folder_walker.h"
#include "platform/registry.h"

namespace parvane::cli {

namespace {

constexpr char kSeparator = platform::kPathSeparator;

// Paths are UTF-8 here; on Windows std::filesystem would read a plain string in
// the system code page.
std::filesystem::path NativePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// "C:\" keeps its separator, as "/" does.
bool IsDriveRoot([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
  return path.size() == 3 && path[1] == ':';
#else
  return false;
#endif
}

// The files found so far, so that a file named twice is taken once. One walk
// never meets a path twice (a folder's names differ, and so do the folders'
// paths), so the set is only built once a second source comes.
class SeenFiles {
 public:
  explicit SeenFiles(const SourceFiles& found) : found_(found) {}
  void nextSource() {
    if (++sources_ == 2) seen_.insert(found_.files.begin(), found_.files.end());
  }
  bool firstTime(const std::string& file) {
    return sources_ < 2 || seen_.insert(file).second;
  }

 private:
  const SourceFiles& found_;
  int sources_ = 0;
  std::unordered_set<std::string> seen_;
};

void walkFolder(const platform::FileSystem& fileSystem, const std::string& folder,
                SourceFiles& found, SeenFiles& seen) {
  filelist::FolderWalker walker(fileSystem, kSeparator);
  walker.prepare();
  walker.fullPathsOnly(true);
  walker.skipUnreadableFolders(true);
  walker.walk(folder.back() == kSeparator ? folder : folder + kSeparator);
  std::vector<std::string> files = walker.filePaths()->TakeValues();
  found.files.reserve(found.files.size() + files.size());
  for (std::string& file : files) {
    if (filelist::IsMessageFile(file) && seen.firstTime(file)) found.files.push_back(std::move(file));
  }
  for (const std::string& unreadable : *walker.unreadableFolders()) {
    found.unreadableFolders.push_back(unreadable);
  }
  walker.release();
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& currentDirectory) {
  std::filesystem::path full = NativePath(path);
  if (!full.is_absolute()) full = NativePath(currentDirectory) / full;
  const std::u8string normal = full.lexically_normal().make_preferred().u8string();
  std::string text(normal.begin(), normal.end());
  while (text.size() > 1 && text.back() == kSeparator && !IsDriveRoot(text)) text.pop_back();
  return text;
}

std::string ParentFolder(const std::string& path) {
  const auto sep = path.rfind(kSeparator);
  if (sep == std::string::npos) return {};
  if (sep == 0) return std::string(1, kSeparator);
#ifdef _WIN32
  if (sep == 2 && path[1] == ':') return path.substr(0, 3);  // a drive's root folder
#endif
  return path.substr(0, sep);
}

bool FileExists(const platform::FileSystem& fileSystem, const std::string& path) {
  try {
    const std::string folder = ParentFolder(path);
    if (folder.empty() || !fileSystem.folderExists(folder)) return false;
    const std::string name = path.substr(path.rfind(kSeparator) + 1);
    for (const auto& file : fileSystem.fileNames(folder)) {
      if (file == name) return true;
    }
  } catch (...) {
  }
  return false;
}

SourceFiles CollectSourceFiles(const std::vector<std::string>& sources,
                               const platform::FileSystem& fileSystem,
                               const std::string& currentDirectory) {
  SourceFiles found;
  SeenFiles seen(found);
  for (const auto& source : sources) {
    const std::string path = AbsolutePath(source, currentDirectory);
    seen.nextSource();
    if (fileSystem.folderExists(path)) {
      walkFolder(fileSystem, path, found, seen);
    } else if (FileExists(fileSystem, path)) {
      if (seen.firstTime(path)) found.files.push_back(path);
    } else {
      throw UsageError("no such file or folder: " + source);
    }
  }
  return found;
}

}  // namespace parvane::cli
