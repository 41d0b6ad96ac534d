// The folder chooser and the path helper.
#include "platform/folder_paths.h"

#include <gtest/gtest.h>

#include "support/fake_ui.h"

namespace parvane::platform {
namespace {

using parvane::testing::FakeFolderDialog;

TEST(ChooseFolder, PassesOwnerAndTitleAndReturnsThePath) {
  FakeFolderDialog dialog;
  dialog.results.push_back("/srv/user/Mail");
  EXPECT_EQ(ChooseFolder(dialog, 0x1234, "Choose Source Folder...", '/'), "/srv/user/Mail");
  ASSERT_EQ(dialog.titles.size(), 1u);
  EXPECT_EQ(dialog.titles[0], "Choose Source Folder...");
  EXPECT_EQ(dialog.owners[0], 0x1234);
}

TEST(ChooseFolder, CancelGivesEmpty) {
  FakeFolderDialog dialog;  // no scripted result: the user cancelled
  EXPECT_EQ(ChooseFolder(dialog, 1, "t"), "");
}

TEST(ChooseFolder, AnyFailureGivesEmptyAndNeverRaises) {
  FakeFolderDialog dialog;
  dialog.fail = true;
  EXPECT_EQ(ChooseFolder(dialog, 1, "t"), "");
}

TEST(ChooseFolder, RootKeepsItsSeparator) {
  FakeFolderDialog dialog;
  dialog.results = {"/", "C:\\", "C:\\\\"};
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '/'), "/");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '\\'), "C:\\");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '\\'), "C:\\");
}

TEST(ChooseFolder, OrdinaryFolderLosesAClosingSeparator) {
  FakeFolderDialog dialog;
  dialog.results = {"/srv/user/", "C:\\Mail\\Inbox\\", "C:\\Mail\\Inbox", "/srv//"};
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '/'), "/srv/user");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '\\'), "C:\\Mail\\Inbox");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '\\'), "C:\\Mail\\Inbox");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '/'), "/srv");
}

TEST(ChooseFolder, EndsAtTheFirstNul) {
  FakeFolderDialog dialog;
  dialog.results = {std::string("/tmp/a\0junk", 11), std::string(260, '\0')};
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '/'), "/tmp/a");
  EXPECT_EQ(ChooseFolder(dialog, 1, "t", '/'), "");  // a buffer left all NUL
}

TEST(GetFolderPart, WindowsStylePaths) {
  EXPECT_EQ(GetFolderPart("C:\\Mail\\Inbox\\a.msg", '\\'), "C:\\Mail\\Inbox\\");
  EXPECT_EQ(GetFolderPart("a.msg", '\\'), "");
  EXPECT_EQ(GetFolderPart("C:\\Mail\\", '\\'), "C:\\Mail\\");
  EXPECT_EQ(GetFolderPart("\\\\server\\share\\a.msg", '\\'), "\\\\server\\share\\");
  EXPECT_EQ(GetFolderPart("C:\\a.msg", '\\'), "C:\\");
}

TEST(GetFolderPart, OnlyTheGivenSeparatorCounts) {
  EXPECT_EQ(GetFolderPart("C:\\Mail/Inbox/a.msg", '\\'), "C:\\");
  EXPECT_EQ(GetFolderPart("dir/a.msg", '\\'), "");
  EXPECT_EQ(GetFolderPart("/srv/u/Mail/a.msg", '/'), "/srv/u/Mail/");
  EXPECT_EQ(GetFolderPart("/a.msg", '/'), "/");
  EXPECT_EQ(GetFolderPart("/", '/'), "/");
}

TEST(GetFolderPart, DefaultSeparatorIsThePlatforms) {
  std::string path = std::string("x") + kPathSeparator + "y";
  EXPECT_EQ(GetFolderPart(path), std::string("x") + kPathSeparator);
}

TEST(GetFolderPart, EmptyPathIsRefused) {
  try {
    GetFolderPart("");
    FAIL() << "no error raised";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.code(), 5);
  }
}

}  // namespace
}  // namespace parvane::platform
