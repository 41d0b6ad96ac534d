// The form of a path that the Windows file calls take at any length (Windows
// only). Paths stay the user's text everywhere else; this is applied at the
// last step, where a UTF-16 path is handed to CreateFileW and its kin.
#pragma once

#ifdef _WIN32
#include <cstddef>
#include <string>
#include <string_view>

namespace parvane::core {

// From this length on a path is given in its extended-length form: the plain
// calls refuse MAX_PATH (260) characters, and folders already MAX_PATH - 12
// (room for an 8.3 name), which also leaves room for a listing's "\*".
inline constexpr std::size_t kLongWindowsPath = 248;

// `path` made absolute (against the current folder, as Windows itself would)
// and, when that is kLongWindowsPath characters or more, given the prefix
// "\\?\" ("\\?\UNC\server\share\..." for "\\server\share\..."). Shorter
// paths come back as given, so that the common case reaches Windows exactly as
// before, with its usual reading of names (trailing dots, device names). Paths
// already in the "\\?\" or "\\.\" form, and paths Windows cannot make
// absolute, are left alone: the call they are passed to reports what is wrong.
std::wstring WindowsFilePath(std::wstring_view path);

}  // namespace parvane::core
#endif  // _WIN32
