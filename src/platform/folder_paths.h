// Folders and paths: asking the user for a folder, and the folder part of a
// path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace parvane::platform {

// The separator between path components on this platform: "\" on Windows, "/"
// elsewhere. On POSIX "/" is the root as "C:\" is on Windows.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Asks the user for a file-system folder through `dialog`, modal to `owner`,
// showing `title`. Returns the chosen folder's path without a closing separator
// (except for a root, "/" or "C:\", which keeps it), or "" when the user
// cancelled or anything failed: it never raises. The path ends at its first
// NUL character, if it holds one.
std::string ChooseFolder(FolderDialog& dialog, std::intptr_t owner, const std::string& title,
                         char separator = kPathSeparator);

// The path up to and including its last separator: "C:\Mail\Inbox\a.msg" gives
// "C:\Mail\Inbox\", "a.msg" gives "", "C:\Mail\" is returned unchanged. Only
// `separator` separates components. An empty path raises PlatformError
// (code 5, "Invalid procedure call or argument").
std::string GetFolderPart(const std::string& path, char separator = kPathSeparator);

}  // namespace parvane::platform
