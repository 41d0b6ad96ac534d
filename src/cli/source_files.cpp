#include "cli/source_files.h"
#include "engine/core/forwarding_file_system.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_text.h"
#include "filelist/add_folder.h"
#include "filelist/folder_walker.h"
#include "platform/folder_paths.h"
#include "platform/native_files.h"

namespace parvane::cli {

namespace {

constexpr char kSeparator = platform::kPathSeparator;

// "C:\" keeps its separator, as "/" does.
bool IsDriveRoot([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
  return path.size() == 3 && path[1] == ':';
#else
  return false;
#endif
}

// A set of positions in the run's list of paths that is searched with a path:
// the hash and the comparison read the list's own parts, so the set holds no
// second copy of any path.
struct PositionHash {
  using is_transparent = void;
  const conversion::PathList* list;
  std::size_t operator()(std::size_t i) const { return list->hashOf(i); }
  std::size_t operator()(std::string_view path) const { return conversion::PathList::hashOf(path); }
};
struct SamePath {
  using is_transparent = void;
  const conversion::PathList* list;
  bool operator()(std::size_t a, std::size_t b) const {
    return list->folder(a) == list->folder(b) && list->name(a) == list->name(b);
  }
  bool operator()(std::string_view path, std::size_t i) const { return list->is(i, path); }
  bool operator()(std::size_t i, std::string_view path) const { return list->is(i, path); }
};

// The files found so far, so that a file named twice is taken once: each
// file and link is added through here. One walk never meets a path twice (a
// folder's names differ, and so do the folders' paths), so nothing is looked
// up before a second source comes.
class SeenFiles {
 public:
  explicit SeenFiles(SourceFiles& found)
      : found_(found), files_(0, PositionHash{&found.files}, SamePath{&found.files}) {}
  void nextSource() {
    if (++sources_ == 2) {
      files_.reserve(found_.files.size());
      for (std::size_t i = 0; i < found_.files.size(); ++i) files_.insert(i);
      links_.insert(found_.folderLinks.begin(), found_.folderLinks.end());
      links_.insert(found_.danglingLinks.begin(), found_.danglingLinks.end());
    }
  }
  // Each adds `path` unless a source before found it (as any of the three).
  void addFile(std::string_view path) {
    if (seen(path)) return;
    found_.files.append(path);
    if (sources_ >= 2) files_.insert(found_.files.size() - 1);
  }
  void addFolderLink(const std::string& path) { addLink(path, found_.folderLinks); }
  void addDanglingLink(const std::string& path) { addLink(path, found_.danglingLinks); }

 private:
  bool seen(std::string_view path) const {
    return sources_ >= 2 && (files_.find(path) != files_.end() || links_.count(std::string(path)) != 0);
  }
  void addLink(const std::string& path, std::vector<std::string>& links) {
    if (seen(path)) return;
    links.push_back(path);
    if (sources_ >= 2) links_.insert(path);
  }

  SourceFiles& found_;
  int sources_ = 0;
  std::unordered_set<std::size_t, PositionHash, SamePath> files_;  // positions in found_.files
  std::unordered_set<std::string> links_;
};

// The folders read while the sources are collected, each read once: a walk
// and the files named in the same folder share one listing, and so do the
// thousands of files a shell's "DIR/*.msg" names. Held until the sources are
// collected; a folder that cannot be read raises the same error every time.
class ListingCache final : public core::ForwardingFileSystem {
 public:
  explicit ListingCache(core::FileSystem& files) : files_(files) {}
  // Only listings are cached: the walk does nothing else.
  core::FolderListing listFolder(const std::string& path) override { return listing(path); }

  // Whether `folder` lists a file `name`; false when it cannot be read.
  bool lists(const std::string& folder, const std::string& name) const {
    Entry& read = entry(folder);
    if (read.error) return false;
    if (read.files.empty() && !read.fileNames.empty()) {
      forEachName(read.fileNames, [&](std::string_view file) { read.files.insert(file); });
    }
    return read.files.count(name) != 0;
  }

 private:
  core::FileSystem& target() override { return files_; }
  // The walks pass every folder through here, so a folder's file names are
  // kept in one text rather than a string each: a walk of a million files
  // then holds a few bytes a name.
  struct Entry {
    core::FolderListing listing;  // without its files
    std::string fileNames;        // each file's name followed by a NUL, which no name holds
    std::exception_ptr error;
    std::unordered_set<std::string_view> files;  // into fileNames, built when first asked
  };
  template <class Visit>
  static void forEachName(std::string_view names, Visit visit) {
    for (std::size_t at = 0; at < names.size();) {
      const std::size_t end = names.find('\0', at);
      visit(names.substr(at, end - at));
      at = end + 1;
    }
  }
  static void keepNamesCompact(Entry& read) {
    std::size_t length = 0;
    for (const std::string& file : read.listing.files) length += file.size() + 1;
    read.fileNames.reserve(length);
    for (const std::string& file : read.listing.files) read.fileNames.append(file).push_back('\0');
    std::vector<std::string>().swap(read.listing.files);
  }
  // "/a/b/" and "/a/b" are one folder.
  static std::string key(std::string path) {
    while (path.size() > 1 && path.back() == kSeparator && !IsDriveRoot(path)) path.pop_back();
    return path;
  }
  Entry& entry(const std::string& path) const {
    auto [at, added] = entries_.try_emplace(key(path));
    if (added) {
      try {
        at->second.listing = files_.listFolder(path);
        keepNamesCompact(at->second);
      } catch (...) {
        at->second.error = std::current_exception();
      }
    }
    return at->second;
  }
  core::FolderListing listing(const std::string& path) const {
    const Entry& read = entry(path);
    if (read.error) std::rethrow_exception(read.error);
    core::FolderListing whole = read.listing;
    forEachName(read.fileNames, [&](std::string_view file) { whole.files.emplace_back(file); });
    return whole;
  }

  core::FileSystem& files_;
  mutable std::unordered_map<std::string, Entry> entries_;  // nodes stay put as it grows
};

// Whether `path` names a file its folder lists.
bool ListedFile(const ListingCache& listings, const std::string& path) {
  const std::string folder = ParentFolder(path);
  return !folder.empty() && listings.lists(folder, path.substr(path.rfind(kSeparator) + 1));
}

void walkFolder(core::FileSystem& fileSystem, const std::string& folder, SourceFiles& found,
                SeenFiles& seen) {
  filelist::FolderWalker walker(fileSystem, kSeparator);
  walker.prepare();
  walker.fullPathsOnly(true);
  walker.skipUnreadableFolders(true);
  // Straight into the list: the walk holds no path of its own.
  std::string path;
  walker.sendFilesTo([&](const std::string& in, const std::string& name) {
    path.assign(in).append(name);
    if (filelist::IsMessageFile(path)) seen.addFile(path);
  });
  walker.walk(folder.back() == kSeparator ? folder : folder + kSeparator);
  for (const std::string& unreadable : *walker.unreadableFolders()) {
    found.unreadableFolders.push_back(unreadable);
  }
  // A walk taken twice meets its links twice; they are named once.
  for (const std::string& link : walker.folderLinks()) seen.addFolderLink(link);
  for (const std::string& link : walker.danglingLinks()) {
    if (filelist::IsMessageFile(link)) seen.addDanglingLink(link);
  }
  walker.release();
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& currentDirectory) {
  std::filesystem::path full = platform::FileSystemPath(path);
  if (!full.is_absolute()) full = platform::FileSystemPath(currentDirectory) / full;
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

bool FileExists(core::FileSystem& fileSystem, const std::string& path) {
  try {
    const std::string folder = ParentFolder(path);
    if (folder.empty() || !fileSystem.folderExists(folder)) return false;
    const std::string name = path.substr(path.rfind(kSeparator) + 1);
    for (const auto& file : fileSystem.listFolder(folder).files) {
      if (file == name) return true;
    }
  } catch (...) {
  }
  return false;
}

SourceFiles CollectSourceFiles(const std::vector<std::string>& sources,
                               core::FileSystem& fileSystem,
                               const std::string& currentDirectory) {
  SourceFiles found;
  SeenFiles seen(found);
  ListingCache listings(fileSystem);
  for (const auto& source : sources) {
    const std::string path = AbsolutePath(source, currentDirectory);
    seen.nextSource();
    if (listings.folderExists(path)) {
      walkFolder(listings, path, found, seen);
    } else if (ListedFile(listings, path)) {
      seen.addFile(path);
    } else {
      throw UsageError("no such file or folder: " + source);
    }
  }
  return found;
}

void ReportSkippedLinks(const SourceFiles& sources, std::ostream& err) {
  for (const std::string& link : sources.folderLinks) {
    err << "parvane-cli: skipped link to a folder (links are not followed): " << TerminalSafe(link)
        << '\n';
  }
  for (const std::string& link : sources.danglingLinks) {
    err << "parvane-cli: skipped dangling link: " << TerminalSafe(link) << '\n';
  }
  const std::size_t skipped = sources.folderLinks.size() + sources.danglingLinks.size();
  if (skipped > 0) err << "parvane-cli: " << skipped << (skipped == 1 ? " link" : " links") << " skipped\n";
}

}  // namespace parvane::cli
