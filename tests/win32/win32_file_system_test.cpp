#include "engine/core/file_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/io_error.h"
#include "platform/win32_text.h"
#include "remove_tree.h"

namespace parvane::platform {
namespace {

using Names = std::vector<std::string>;

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    path_ = WideToUtf8(base) + "parvane-fs-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64());
    EXPECT_TRUE(CreateDirectoryW(Utf8ToWide(path_).c_str(), nullptr));
  }
  ~TempFolder() { testing::RemoveTree(Utf8ToWide(path_)); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  void folder(const std::string& name) const {
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(*this / name).c_str(), nullptr)) << name;
  }
  void file(const std::string& name) const {
    HANDLE h = CreateFileW(Utf8ToWide(*this / name).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    CloseHandle(h);
  }

 private:
  std::string path_;
};

TEST(Win32FileSystem, ListsFilesAndFoldersApartInNtfsOrder) {
  TempFolder root;
  for (const char* name : {"b.msg", "A.msg", "c.MSG", "_x.msg", "zz.msg", "\xC3\xBC.msg"}) {
    root.file(name);
  }
  for (const char* name : {"Sub", "alpha", "\xCE\xA9mega"}) root.folder(name);
  root.file("Sub\\inner.msg");

  core::FileSystem& fs = core::FileSystem::native();
  // Upper-cased code units: A < B < C < Z < _ (0x5F) < U+00DC.
  EXPECT_EQ(fs.listFolder(root.path()).files,
            (Names{"A.msg", "b.msg", "c.MSG", "zz.msg", "_x.msg", "\xC3\xBC.msg"}));
  EXPECT_EQ(fs.listFolder(root.path()).folders, (Names{"alpha", "Sub", "\xCE\xA9mega"}));
  // A closing separator changes nothing.
  EXPECT_EQ(fs.listFolder(root.path() + "\\").folders, fs.listFolder(root.path()).folders);
  EXPECT_EQ(fs.listFolder(root / "Sub").files, Names{"inner.msg"});
  EXPECT_EQ(fs.listFolder(root / "alpha").files, Names{});
  EXPECT_EQ(fs.listFolder(root / "alpha").folders, Names{});
}

TEST(Win32FileSystem, FolderExists) {
  TempFolder root;
  root.folder("d");
  root.file("f.msg");
  core::FileSystem& fs = core::FileSystem::native();
  EXPECT_TRUE(fs.folderExists(root.path()));
  EXPECT_TRUE(fs.folderExists(root / "d"));
  EXPECT_TRUE(fs.folderExists(root / "D"));  // case-insensitive, as Windows is
  EXPECT_FALSE(fs.folderExists(root / "f.msg"));
  EXPECT_FALSE(fs.folderExists(root / "missing"));
  EXPECT_FALSE(fs.folderExists(""));
}

TEST(Win32FileSystem, MissingFolderRaisesPathNotFound) {
  TempFolder root;
  root.file("f.msg");
  core::FileSystem& fs = core::FileSystem::native();
  for (const std::string& path : {root / "missing", root / "missing\\deeper", root / "f.msg"}) {
    try {
      (void)fs.listFolder(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const core::IoError& e) {
      EXPECT_EQ(e.cause(), core::IoError::Cause::NotFound) << path << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
  }
  EXPECT_THROW(fs.listFolder(""), core::IoError);
}

TEST(Win32FileSystem, LinkedFoldersAreNotFollowed) {
  TempFolder root;
  root.folder("real");
  root.file("real\\a.msg");
  if (!CreateSymbolicLinkW(Utf8ToWide(root / "loop").c_str(), Utf8ToWide(root.path()).c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "symbolic links to folders cannot be made here (error " << GetLastError()
                 << ")";
  }
  core::FileSystem& fs = core::FileSystem::native();
  EXPECT_EQ(fs.listFolder(root.path()).folders, Names{"real"});
  EXPECT_EQ(fs.listFolder(root.path()).files, Names{});
}

TEST(Win32ListingOrder, FoldsCaseThenBreaksTiesOrdinally) {
  EXPECT_TRUE(core::listingOrderLess("a", "B"));
  EXPECT_FALSE(core::listingOrderLess("B", "a"));
  EXPECT_TRUE(core::listingOrderLess("B", "b"));  // equal folded: ordinal, upper first
  EXPECT_FALSE(core::listingOrderLess("b", "b"));
  EXPECT_TRUE(core::listingOrderLess("ab", "ABC"));
  EXPECT_TRUE(core::listingOrderLess("zz", "_x"));  // 'Z' 0x5A before '_' 0x5F
  EXPECT_TRUE(core::listingOrderLess("\xC3\xA4", "\xC3\x84x"));  // a-umlaut folds to A-umlaut
}

}  // namespace
}  // namespace parvane::platform
