#include "cli/source_files.h"

#include <filesystem>
#include <unordered_set>

#include "cli/cli_options.h"
#include "filelist/add_folder.h"
#include "filelist/path_logger.h"

namespace parvane::cli {

namespace {

constexpr char kSeparator = '/';

void walkFolder(const platform::FileSystem& fileSystem, const std::string& folder,
                SourceFiles& found, std::unordered_set<std::string>& seen) {
  filelist::PathLogger walker(fileSystem, kSeparator);
  walker.PathLogInit();
  walker.fullFileNamesOnly(true);
  walker.skipUnreadableFolders(true);
  walker.LogPath(folder.back() == kSeparator ? folder : folder + kSeparator);
  for (const std::string& file : *walker.fullFileNames()) {
    if (filelist::IsMessageFile(file) && seen.insert(file).second) found.files.push_back(file);
  }
  for (const std::string& unreadable : *walker.unreadableFolders()) {
    found.unreadableFolders.push_back(unreadable);
  }
  walker.Terminate();
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& currentDirectory) {
  std::filesystem::path full(path);
  if (!full.is_absolute()) full = std::filesystem::path(currentDirectory) / full;
  std::string text = full.lexically_normal().generic_string();
  while (text.size() > 1 && text.back() == kSeparator) text.pop_back();
  return text;
}

std::string ParentFolder(const std::string& path) {
  const auto sep = path.rfind(kSeparator);
  if (sep == std::string::npos) return {};
  if (sep == 0) return std::string(1, kSeparator);
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
  std::unordered_set<std::string> seen;
  for (const auto& source : sources) {
    const std::string path = AbsolutePath(source, currentDirectory);
    if (fileSystem.folderExists(path)) {
      walkFolder(fileSystem, path, found, seen);
    } else if (FileExists(fileSystem, path)) {
      if (seen.insert(path).second) found.files.push_back(path);
    } else {
      throw UsageError("no such file or folder: " + source);
    }
  }
  return found;
}

}  // namespace parvane::cli
