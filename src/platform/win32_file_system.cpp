#ifdef _WIN32
#include "platform/win32_file_system.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "engine/core/windows_path.h"
#include "platform/win32_text.h"

namespace parvane::platform {

namespace {

[[noreturn]] void Raise(DWORD error, const std::string& path) {
  std::int32_t code = Win32FileSystem::kPathFileAccessError;
  std::string description = "Path/File access error";
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    code = Win32FileSystem::kPermissionDenied;
    description = "Permission denied";
  } else if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ||
             error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME ||
             error == ERROR_BAD_NETPATH || error == ERROR_NOT_READY) {
    code = Win32FileSystem::kPathNotFound;
    description = "Path not found";
  }
  throw PlatformError(code, description + ": " + path);
}

enum class Kind { Folder, File, FolderLink, Neither };

Kind KindOf(const WIN32_FIND_DATAW& entry) {
  const std::wstring_view name(entry.cFileName);
  if (name == L"." || name == L"..") return Kind::Neither;
  const DWORD attributes = entry.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Kind::FolderLink : Kind::Folder;
  }
  return Kind::File;
}

struct FindCloser {
  void operator()(HANDLE handle) const { FindClose(handle); }
};

FolderListing List(const std::string& path) {
  if (path.empty()) Raise(ERROR_PATH_NOT_FOUND, path);
  std::wstring pattern = core::WindowsFilePath(Utf8ToWide(path));
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';

  WIN32_FIND_DATAW entry{};
  HANDLE first = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
  FolderListing listing;
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // An empty drive root has no "." or ".." and so matches nothing at all.
    if (error == ERROR_FILE_NOT_FOUND && GetFileAttributesW(pattern.substr(0, pattern.size() - 1).c_str()) !=
                                             INVALID_FILE_ATTRIBUTES) {
      return listing;
    }
    Raise(error, path);
  }
  std::unique_ptr<void, FindCloser> search(first);
  do {
    switch (KindOf(entry)) {
      case Kind::Folder: listing.folders.push_back(WideToUtf8(entry.cFileName)); break;
      case Kind::File: listing.files.push_back(WideToUtf8(entry.cFileName)); break;
      case Kind::FolderLink: listing.folderLinks.push_back(WideToUtf8(entry.cFileName)); break;
      case Kind::Neither: break;
    }
  } while (FindNextFileW(first, &entry));
  if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) Raise(error, path);
  for (auto* names : {&listing.folders, &listing.files, &listing.folderLinks}) {
    std::sort(names->begin(), names->end(), Win32ListingOrderLess);
  }
  return listing;
}

}  // namespace

bool Win32ListingOrderLess(const std::string& a, const std::string& b) {
  const std::wstring wa = Utf8ToWide(a);
  const std::wstring wb = Utf8ToWide(b);
  const auto compare = [](const std::wstring& x, const std::wstring& y, BOOL ignoreCase) {
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                static_cast<int>(y.size()), ignoreCase);
  };
  const int folded = compare(wa, wb, TRUE);
  if (folded != CSTR_EQUAL) return folded == CSTR_LESS_THAN;
  return compare(wa, wb, FALSE) == CSTR_LESS_THAN;
}

bool Win32FileSystem::folderExists(const std::string& path) const {
  if (path.empty()) return false;
  const std::wstring wide = core::WindowsFilePath(Utf8ToWide(path));
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> Win32FileSystem::subFolderNames(const std::string& path) const {
  return List(path).folders;
}

std::vector<std::string> Win32FileSystem::fileNames(const std::string& path) const {
  return List(path).files;
}

FolderListing Win32FileSystem::listFolder(const std::string& path) const { return List(path); }

}  // namespace parvane::platform
#endif  // _WIN32
