// The relative folder of a listed file: its folder without the drive (or the
// POSIX root) and without leading or trailing separators, written with the
// store's "\" separator. C:\Mail\Work\a.msg gives Mail\Work on Windows;
// /srv/ann/Mail/Work/a.msg gives srv\ann\Mail\Work on POSIX.
#pragma once

#include <string>

namespace parvane::conversion {

// Windows: blanks trimmed, split at ":" and the second piece taken, trimmed, its
// first character dropped, cut after its last "\" and that "\" dropped. Raises
// ConversionError for a text without ":" and for a file lying directly in a
// drive's root (an empty folder part).
std::string RelativeFolderWindows(const std::string& rowText);

// POSIX: blanks trimmed, the path must start at "/"; repeated "/" count as one;
// the folder part below "/" with every "/" written as "\". Raises
// ConversionError for a path that does not start with "/" and for a file lying
// directly in "/".
std::string RelativeFolderPosix(const std::string& rowText);

// How paths are written on one platform: the separator that closes a chosen
// destination folder, and the rule above that turns a row into its folder.
struct PathRules {
  char separator;
  std::string (*relativeFolder)(const std::string& rowText);
};

inline constexpr PathRules kWindowsPathRules{'\\', &RelativeFolderWindows};
inline constexpr PathRules kPosixPathRules{'/', &RelativeFolderPosix};
#ifdef _WIN32
inline constexpr PathRules kNativePathRules = kWindowsPathRules;
#else
inline constexpr PathRules kNativePathRules = kPosixPathRules;
#endif

// Leading and trailing blanks (spaces) removed, as the list rows are read.
std::string TrimBlanks(const std::string& text);

}  // namespace parvane::conversion
