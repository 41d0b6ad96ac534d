// The long-path form of Windows paths: made absolute and prefixed from the
// length Windows' plain calls refuse on, and left as given below it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/windows_path.h"

namespace parvane::core {
namespace {

// A path of `total` characters: `head` followed by folder names of letters.
std::wstring Padded(const std::wstring& head, std::size_t total) {
  std::wstring path = head;
  while (path.size() < total) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += std::wstring(std::min<std::size_t>(40, total - path.size()), L'm');
  }
  path.resize(total);
  if (path.back() == L'\\') path.back() = L'x';
  return path;
}

std::wstring CurrentFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

TEST(WindowsFilePath, ShortPathsAreLeftAsGiven) {
  for (const std::wstring path : {L"C:\\mail\\a.msg", L"C:/mail/./b/../a.msg", L"mail\\a.msg",
                                  L"\\\\server\\share\\a.msg", L"C:\\mail\\"}) {
    EXPECT_EQ(WindowsFilePath(path), path);
  }
  const std::wstring lastShort = Padded(L"C:\\", kLongWindowsPath - 1);
  EXPECT_EQ(WindowsFilePath(lastShort), lastShort);
  EXPECT_EQ(WindowsFilePath(L""), L"");
}

TEST(WindowsFilePath, LongDrivePathsArePrefixed) {
  const std::wstring firstLong = Padded(L"C:\\", kLongWindowsPath);
  EXPECT_EQ(WindowsFilePath(firstLong), L"\\\\?\\" + firstLong);
  const std::wstring tail = Padded(L"", 300);
  // Windows reads neither "/" nor "." nor ".." after the prefix: they are resolved first.
  EXPECT_EQ(WindowsFilePath(L"D:/archive/./old/../" + tail + L"/a.msg"),
            L"\\\\?\\D:\\archive\\" + tail + L"\\a.msg");
  // A trailing separator stays, once.
  EXPECT_EQ(WindowsFilePath(L"D:\\archive\\" + tail + L"/"), L"\\\\?\\D:\\archive\\" + tail + L"\\");
}

TEST(WindowsFilePath, LongSharePathsTakeTheUncPrefix) {
  const std::wstring tail = Padded(L"", 300);
  EXPECT_EQ(WindowsFilePath(L"\\\\server\\share\\" + tail), L"\\\\?\\UNC\\server\\share\\" + tail);
  EXPECT_EQ(WindowsFilePath(L"//server/share/" + tail), L"\\\\?\\UNC\\server\\share\\" + tail);
}

TEST(WindowsFilePath, LongRelativePathsAreMadeAbsolute) {
  const std::wstring relative = Padded(L"", 300);
  EXPECT_EQ(WindowsFilePath(relative), L"\\\\?\\" + CurrentFolder() + L"\\" + relative);
  EXPECT_EQ(WindowsFilePath(L".\\" + relative + L"\\..\\a.msg"),
            L"\\\\?\\" + CurrentFolder() + L"\\" + relative.substr(0, relative.rfind(L'\\')) + L"\\a.msg");
}

TEST(WindowsFilePath, PrefixedAndDevicePathsAreLeftAlone) {
  const std::wstring tail = Padded(L"", 300);
  for (const std::wstring& path :
       {L"\\\\?\\C:\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail, std::wstring(L"\\\\?\\C:\\a\\..\\b"),
        L"\\\\.\\pipe\\" + tail, L"\\??\\C:\\" + tail}) {
    EXPECT_EQ(WindowsFilePath(path), path);
  }
}

}  // namespace
}  // namespace parvane::core
