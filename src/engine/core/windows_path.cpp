#ifdef _WIN32
#include "engine/core/windows_path.h"

#include <windows.h>

namespace parvane::core {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// \\?\..., \\.\... (with either separator) and the NT form \??\...: Windows
// takes these past its own path rules, so they are not rewritten.
bool IsDeviceOrExtended(std::wstring_view path) {
  if (path.size() < 4 || !IsSeparator(path[3])) return false;
  if (IsSeparator(path[0]) && IsSeparator(path[1])) return path[2] == L'?' || path[2] == L'.';
  return path[0] == L'\\' && path[1] == L'?' && path[2] == L'?';
}

// The absolute form Windows itself gives the path: separators made
// backslashes, "." and ".." resolved, trailing dots and spaces dropped.
// Empty when Windows refuses it.
std::wstring FullPath(std::wstring_view path) {
  const std::wstring given(path);
  std::wstring full(given.size() + MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length =
        GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the size asked for counts the terminating zero
  }
  return {};
}

}  // namespace

std::wstring WindowsFilePath(std::wstring_view path) {
  if (path.empty() || IsDeviceOrExtended(path) || path.find(L'\0') != std::wstring_view::npos) {
    return std::wstring(path);
  }
  std::wstring full = FullPath(path);
  if (full.size() < kLongWindowsPath) return std::wstring(path);
  if (IsDeviceOrExtended(full)) return full;  // a device name such as "C:\folder\CON"
  if (full[0] == L'\\' && full[1] == L'\\') return L"\\\\?\\UNC\\" + full.substr(2);
  if (full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return std::wstring(path);
}

}  // namespace parvane::core
#endif  // _WIN32
