// Removes a test's scratch folder with everything in it, by the Win32 calls
// alone, so that the code under test plays no part in cleaning up after it.
// Links to folders are removed, not followed; read-only files are deleted too.
// `folder` may be in the "\\?\" form, for trees past MAX_PATH.
#pragma once

#include <windows.h>

#include <string>

namespace parvane::testing {

inline void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = folder + L"\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryW(full.c_str());
        DeleteFileW(full.c_str());
      } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace parvane::testing
