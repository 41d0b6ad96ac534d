// The folder click: chooser, walk, the ".msg" test, yields, the conversion
// button, the count box and unreadable folders.
#include "filelist/add_folder.h"

#include <gtest/gtest.h>

#include "support/fake_ui.h"

namespace parvane::filelist {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;
using testing::FakeButton;
using testing::FakeDesktop;
using testing::FakeFolderDialog;
using testing::FakeGrid;
using testing::FakeLabel;
using testing::MemoryFileSystem;
using testing::ScriptedMessageBox;

TEST(IsMessageFile, CaseInsensitiveEndWithSpacesTrimmed) {
  EXPECT_TRUE(IsMessageFile("C:\\a.msg"));
  EXPECT_TRUE(IsMessageFile("C:\\b.MSG"));
  EXPECT_TRUE(IsMessageFile("C:\\b.Msg"));
  EXPECT_TRUE(IsMessageFile(".msg"));
  EXPECT_TRUE(IsMessageFile("C:\\a.msg  "));
  EXPECT_TRUE(IsMessageFile("  a.msg"));
  EXPECT_FALSE(IsMessageFile("C:\\a.msgx"));
  EXPECT_FALSE(IsMessageFile("C:\\a.txt"));
  EXPECT_FALSE(IsMessageFile("C:\\amsg"));
  EXPECT_FALSE(IsMessageFile("msg"));
  EXPECT_FALSE(IsMessageFile(""));
  EXPECT_FALSE(IsMessageFile("    "));
  EXPECT_FALSE(IsMessageFile("a.msg\t"));  // only blanks are trimmed
}

TEST(FilesAddedMessage, Text) {
  EXPECT_EQ(FilesAddedMessage(0), "0 Files Added to List.");
  EXPECT_EQ(FilesAddedMessage(2), "2 Files Added to List.");
}

struct AddFolderTest : ::testing::Test {
  FakeGrid grid;
  FakeLabel counter{"0 files"};
  FakeButton convert{false};
  ScriptedMessageBox messages;
  FakeFolderDialog dialog;
  FakeDesktop desktop;
  MemoryFileSystem fs{'\\'};

  std::int32_t Click() {
    return AddFolderTree(dialog, {desktop, fs, {grid, counter}, convert, messages, '\\'});
  }
};

TEST_F(AddFolderTest, CancelChangesNothingAndShowsNothing) {
  EXPECT_EQ(Click(), 0);
  ASSERT_EQ(dialog.titles.size(), 1u);
  EXPECT_EQ(dialog.titles[0], "Choose Source Folder...");
  EXPECT_EQ(dialog.owners[0], desktop.mainWindowHandle());
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(desktop.pointerChanges.empty());
  EXPECT_FALSE(convert.enabled());
  EXPECT_EQ(grid.cell(0, 0), "");
}

TEST_F(AddFolderTest, AddsMessageFilesOnlyAndReportsTheCount) {
  fs.addFolder("C:\\Mail");
  fs.addFile("C:\\Mail", "a.msg");
  fs.addFile("C:\\Mail", "b.MSG");
  fs.addFile("C:\\Mail", "c.txt");
  dialog.results.push_back("C:\\Mail");
  EXPECT_EQ(Click(), 2);
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"C:\\Mail\\a.msg", "C:\\Mail\\b.MSG"}));
  EXPECT_EQ(counter.caption(), "2 files");
  EXPECT_TRUE(convert.enabled());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "2 Files Added to List.");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(desktop.pointerChanges, (std::vector<bool>{true, false}));
  // one yield before every entry and one more before every append
  EXPECT_EQ(desktop.yields, 3 + 2);
}

TEST_F(AddFolderTest, DriveRootGetsExactlyOneSeparator) {
  fs.addFolder("C:\\");
  fs.addFile("C:\\", "r.msg");
  dialog.results.push_back("C:\\");
  Click();
  EXPECT_EQ(grid.column0(), std::vector<std::string>{"C:\\r.msg"});
}

TEST_F(AddFolderTest, WalkOrderIsBreadthFirstNotSorted) {
  fs.addFolder("R");
  fs.addSubFolder("R", "Z");
  fs.addSubFolder("R", "A");
  fs.addFile("R", "y.msg");
  fs.addFile("R", "b.msg");
  fs.addFile("R\\Z", "z.msg");
  fs.addFile("R\\A", "a.msg");
  dialog.results.push_back("R");
  Click();
  EXPECT_EQ(grid.column0(),
            (std::vector<std::string>{"R\\y.msg", "R\\b.msg", "R\\Z\\z.msg", "R\\A\\a.msg"}));
}

TEST_F(AddFolderTest, NoMessageFileDisablesConversionEvenWithAListedFile) {
  AppendToList({grid, counter}, "C:\\old.msg");
  convert.setEnabled(true);
  fs.addFolder("C:\\Empty");
  fs.addFile("C:\\Empty", "note.txt");
  dialog.results.push_back("C:\\Empty");
  EXPECT_EQ(Click(), 0);
  EXPECT_FALSE(convert.enabled());
  EXPECT_EQ(grid.column0(), std::vector<std::string>{"C:\\old.msg"});
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "0 Files Added to List.");
}

TEST_F(AddFolderTest, CountIsThisClicksOnly) {
  AppendToList({grid, counter}, "C:\\old.msg");
  fs.addFolder("C:\\M");
  fs.addFile("C:\\M", "n.msg");
  dialog.results.push_back("C:\\M");
  Click();
  EXPECT_EQ(messages.shown[0].text, "1 Files Added to List.");
  EXPECT_EQ(counter.caption(), "2 files");
}

TEST_F(AddFolderTest, AClearDuringAYieldKeepsTheListConsistent) {
  fs.addFolder("C:\\M");
  fs.addFile("C:\\M", "1.msg");
  fs.addFile("C:\\M", "2.msg");
  fs.addFile("C:\\M", "3.msg");
  dialog.results.push_back("C:\\M");
  int yields = 0;
  desktop.onYield = [&] {
    if (++yields == 4) {  // before the second file's append
      EmptyList({grid, counter});
    }
  };
  EXPECT_EQ(Click(), 3);
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"C:\\M\\2.msg", "C:\\M\\3.msg"}));
  EXPECT_EQ(counter.caption(), "2 files");
  EXPECT_EQ(messages.shown[0].text, "3 Files Added to List.");
}

TEST_F(AddFolderTest, UnreadableFolderIsSkippedAndNamedAfterTheCount) {
  fs.addFolder("C:\\M");
  fs.addSubFolder("C:\\M", "Locked");
  fs.addSubFolder("C:\\M", "Open");
  fs.addFile("C:\\M\\Locked", "hidden.msg");
  fs.addFile("C:\\M\\Open", "seen.msg");
  fs.makeUnreadable("C:\\M\\Locked");
  dialog.results.push_back("C:\\M");
  EXPECT_EQ(Click(), 1);
  EXPECT_EQ(grid.column0(), std::vector<std::string>{"C:\\M\\Open\\seen.msg"});
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "1 Files Added to List.");
  EXPECT_NE(messages.shown[1].text.find("C:\\M\\Locked\\"), std::string::npos);
  EXPECT_EQ(messages.shown[1].icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.shown[1].title, "Parvane");
  EXPECT_FALSE(desktop.busy);
}

TEST_F(AddFolderTest, FailureRestoresThePointerAndKeepsWhatWasAdded) {
  struct FailingGrid : FakeGrid {
    void setText(const std::string& text) override {
      if (text.find("bad") != std::string::npos) throw std::runtime_error("grid broke");
      FakeGrid::setText(text);
    }
  } failing;
  fs.addFolder("C:\\M");
  fs.addFile("C:\\M", "a.msg");
  fs.addFile("C:\\M", "bad.msg");
  dialog.results.push_back("C:\\M");
  EXPECT_EQ(AddFolderTree(dialog, {desktop, fs, {failing, counter}, convert, messages, '\\'}), 1);
  EXPECT_FALSE(desktop.busy);
  EXPECT_EQ(desktop.pointerChanges, (std::vector<bool>{true, false}));
  EXPECT_EQ(failing.cell(0, 0), "C:\\M\\a.msg");
  EXPECT_TRUE(convert.enabled());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "51:grid broke");
}

TEST_F(AddFolderTest, ChooserFailureEndsSilently) {
  dialog.fail = true;
  EXPECT_EQ(Click(), 0);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(desktop.pointerChanges.empty());
}

TEST_F(AddFolderTest, FolderThatVanishedAddsNothing) {
  dialog.results.push_back("C:\\Gone");
  EXPECT_EQ(Click(), 0);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "0 Files Added to List.");
  EXPECT_FALSE(convert.enabled());
}

}  // namespace
}  // namespace parvane::filelist
