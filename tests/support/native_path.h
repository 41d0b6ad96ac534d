// Test paths are written POSIX-style ("/m/a.msg") and turned into the form the
// program meets on the platform it runs on: on Windows an absolute path sits on
// drive C: and every "/" is the "\" the file list and the store folders split
// at ("C:\m\a.msg"); elsewhere the text stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace parvane::testing {

inline std::string NativePath(std::string_view posixPath) {
#ifdef _WIN32
  std::string path = posixPath.empty() || posixPath.front() != '/' ? "" : "C:";
  for (const char c : posixPath) path.push_back(c == '/' ? '\\' : c);
  return path;
#else
  return std::string(posixPath);
#endif
}

}  // namespace parvane::testing
