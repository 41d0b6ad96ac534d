// POSIX only; Windows lists folders in win32_file_system.cpp.
#ifndef _WIN32
#include "platform/posix_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <filesystem>
#include <memory>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>

#include "engine/core/text.h"

namespace parvane::platform {

namespace fs = std::filesystem;

namespace {

// Upper-cases with the C.UTF-8 locale's tables when the system has them,
// otherwise ASCII only. Independent of the process's own locale.
char32_t Upper(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return cp;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
}

int CompareFolded(const std::string& a, const std::string& b) {
  // Names in one folder often share a long beginning, and equal bytes fold
  // alike: the comparison starts where they differ, moved back to just after
  // an ASCII byte (or to the start), as no character runs across one.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t start = 0;
  while (start < common && a[start] == b[start]) ++start;
  while (start > 0 && static_cast<unsigned char>(a[start - 1]) >= 0x80) --start;
  std::size_t i = start, j = start;
  while (i < a.size() && j < b.size()) {
    // Names are mostly ASCII: those bytes are compared without decoding.
    const auto ba = static_cast<unsigned char>(a[i]), bb = static_cast<unsigned char>(b[j]);
    if (ba < 0x80 && bb < 0x80) {
      const int ua = (ba >= 'a' && ba <= 'z') ? ba - 0x20 : ba;
      const int ub = (bb >= 'a' && bb <= 'z') ? bb - 0x20 : bb;
      if (ua != ub) return ua < ub ? -1 : 1;
      ++i, ++j;
      continue;
    }
    // A broken part of a name compares as U+FFFD; the byte-wise tie-break
    // of ListingOrderLess still tells such names apart.
    const core::Utf8Char ua = core::readUtf8Char(a, i), ub = core::readUtf8Char(b, j);
    const char32_t ca = Upper(ua.codePoint), cb = Upper(ub.codePoint);
    if (ca != cb) return ca < cb ? -1 : 1;
    i += ua.length, j += ub.length;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

[[noreturn]] void Raise(const std::error_code& error, const std::string& path) {
  std::int32_t code = PosixFileSystem::kPathFileAccessError;
  std::string description = "Path/File access error";
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    code = PosixFileSystem::kPermissionDenied;
    description = "Permission denied";
  } else if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
    code = PosixFileSystem::kPathNotFound;
    description = "Path not found";
  }
  throw PlatformError(code, description + ": " + path);
}

enum class Kind { Folder, File, FolderLink, DanglingLink, Neither };

// The kind of a link, or of an entry whose type the directory does not give:
// a link to a file is File; a link whose target cannot be reached (gone, a
// loop, out of reach) is DanglingLink.
Kind KindByStat(int folder, const char* name) {
  struct stat own {};
  if (::fstatat(folder, name, &own, AT_SYMLINK_NOFOLLOW) != 0) return Kind::Neither;
  if (!S_ISLNK(own.st_mode)) return S_ISDIR(own.st_mode) ? Kind::Folder : Kind::File;
  struct stat target {};
  if (::fstatat(folder, name, &target, 0) != 0) return Kind::DanglingLink;
  return S_ISDIR(target.st_mode) ? Kind::FolderLink : Kind::File;
}

// The directory entry's own type when the file system gives it; a stat only
// for links and unknown types.
Kind KindOf(int folder, const struct dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR: return Kind::Folder;
    case DT_LNK:
    case DT_UNKNOWN: return KindByStat(folder, entry.d_name);
    default: return Kind::File;
  }
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

PosixFileSystem::Listing PosixFileSystem::read(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) Raise(std::error_code(errno, std::generic_category()), path);
  const int fd = ::dirfd(dir.get());
  Listing listing;
  listing.path = path;
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) Raise(std::error_code(errno, std::generic_category()), path);
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    switch (KindOf(fd, *entry)) {
      case Kind::Folder: listing.folders.emplace_back(name); break;
      case Kind::File: listing.files.emplace_back(name); break;
      case Kind::FolderLink: listing.folderLinks.emplace_back(name); break;
      case Kind::DanglingLink: listing.danglingLinks.emplace_back(name); break;
      case Kind::Neither: break;
    }
  }
  for (auto* names : {&listing.folders, &listing.files, &listing.folderLinks, &listing.danglingLinks}) {
    std::sort(names->begin(), names->end(), ListingOrderLess);
  }
  return listing;
}

// One read of the folder serves a call for its subfolders and the call for its
// files that follows it: the walker asks for both, one after the other. Any
// other call reads the folder afresh.
std::vector<std::string> PosixFileSystem::take(const std::string& path, bool folders) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<Listing> held = std::move(held_);
  held_.reset();
  if (held && held->path == path && held->heldFolders == folders) {
    return std::move(folders ? held->folders : held->files);
  }
  Listing listing = read(path);
  std::vector<std::string> wanted = std::move(folders ? listing.folders : listing.files);
  listing.heldFolders = !folders;
  held_ = std::move(listing);
  return wanted;
}

bool ListingOrderLess(const std::string& a, const std::string& b) {
  const int folded = CompareFolded(a, b);
  if (folded != 0) return folded < 0;
  return a < b;
}

bool PosixFileSystem::folderExists(const std::string& path) const {
  if (path.empty()) return false;
  std::error_code error;
  return fs::is_directory(fs::path(path), error);
}

std::vector<std::string> PosixFileSystem::subFolderNames(const std::string& path) const {
  return take(path, true);
}

std::vector<std::string> PosixFileSystem::fileNames(const std::string& path) const {
  return take(path, false);
}

FolderListing PosixFileSystem::listFolder(const std::string& path) const {
  return read(path);  // one read, whatever came before
}

}  // namespace parvane::platform
#endif  // _WIN32
