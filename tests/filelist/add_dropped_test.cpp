// Paths dropped onto the list: the same rows as the two add buttons give, the
// folder click's boxes, and one box for what was left out.
#include "filelist/add_dropped.h"

#include <gtest/gtest.h>

#include "filelist/add_folder.h"
#include "support/fake_ui.h"

namespace parvane::filelist {
namespace {

using platform::MessageIcon;
using testing::FakeButton;
using testing::FakeDesktop;
using testing::FakeFolderDialog;
using testing::FakeGrid;
using testing::FakeLabel;
using testing::MemoryFileSystem;
using testing::ScriptedMessageBox;
using Paths = std::vector<std::string>;

struct AddDroppedTest : ::testing::Test {
  FakeGrid grid;
  FakeLabel counter{"0 files"};
  FakeButton convert{false};
  ScriptedMessageBox messages;
  FakeDesktop desktop;
  MemoryFileSystem fs{'\\'};

  AddDroppedTest() {
    fs.addFolder("C:\\M");
    fs.addFile("C:\\M", "a.msg");
    fs.addFile("C:\\M", "notes.txt");
    fs.addSubFolder("C:\\M", "Sub");
    fs.addFile("C:\\M\\Sub", "B.MSG");
  }
  std::int32_t Drop(const Paths& paths) {
    return AddDroppedPaths({desktop, fs, {grid, counter}, convert, messages, '\\'}, paths);
  }
};

TEST_F(AddDroppedTest, AFolderGivesTheRowsAndTheBoxOfTheFolderClick) {
  // The same tree through the folder click, in a second list.
  FakeGrid clickGrid;
  FakeLabel clickCounter{"0 files"};
  FakeButton clickConvert{false};
  ScriptedMessageBox clickMessages;
  FakeFolderDialog dialog;
  dialog.results.push_back("C:\\M");
  AddFolderTree(dialog, {desktop, fs, {clickGrid, clickCounter}, clickConvert, clickMessages, '\\'});

  EXPECT_EQ(Drop({"C:\\M"}), 2);
  EXPECT_EQ(grid.column0(), clickGrid.column0());
  EXPECT_EQ(grid.column0(), (Paths{"C:\\M\\a.msg", "C:\\M\\Sub\\B.MSG"}));
  EXPECT_EQ(counter.caption(), "2 files");
  EXPECT_TRUE(convert.enabled());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, clickMessages.shown[0].text);
  EXPECT_EQ(messages.shown[0].icon, clickMessages.shown[0].icon);
  EXPECT_FALSE(desktop.busy);
}

TEST_F(AddDroppedTest, MessageFilesAreAppendedAsGivenWithoutABox) {
  EXPECT_EQ(Drop({"C:\\M\\a.msg", "C:\\Elsewhere\\Q3 report.MSG", "C:\\M\\a.msg"}), 3);
  // As the file click: appended as given, a name twice stays twice (the run
  // takes each file once).
  EXPECT_EQ(grid.column0(), (Paths{"C:\\M\\a.msg", "C:\\Elsewhere\\Q3 report.MSG", "C:\\M\\a.msg"}));
  EXPECT_EQ(counter.caption(), "3 files");
  EXPECT_TRUE(convert.enabled());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AddDroppedTest, WhatCannotBeAddedIsNamedInOneBoxAfterTheRest) {
  EXPECT_EQ(Drop({"C:\\M\\notes.txt", "C:\\M", "C:\\M\\a.msg", "C:\\photo.jpg"}), 3);
  EXPECT_EQ(grid.column0(), (Paths{"C:\\M\\a.msg", "C:\\M\\Sub\\B.MSG", "C:\\M\\a.msg"}));
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "3 Files Added to List.");
  EXPECT_EQ(messages.shown[1].text,
            "Only .msg files and folders can be added; these were not:\r\n"
            "C:\\M\\notes.txt\r\nC:\\photo.jpg");
  EXPECT_EQ(messages.shown[1].icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.shown[1].title, "Parvane");
}

TEST_F(AddDroppedTest, NothingAddedLeavesTheListAndItsButtonAsTheyWere) {
  Drop({"C:\\M\\a.msg"});
  messages.shown.clear();
  fs.addFolder("C:\\Empty");
  EXPECT_EQ(Drop({"C:\\Empty", "C:\\x.txt"}), 0);
  EXPECT_EQ(grid.column0(), Paths{"C:\\M\\a.msg"});
  // Unlike the folder click, which disables it when the chosen folder had no file.
  EXPECT_TRUE(convert.enabled());
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "0 Files Added to List.");
  EXPECT_EQ(messages.shown[1].text,
            "Only .msg files and folders can be added; these were not:\r\nC:\\x.txt");
}

TEST_F(AddDroppedTest, UnreadableFoldersAreNamedOnceForTheWholeDrop) {
  fs.addSubFolder("C:\\M", "Locked");
  fs.makeUnreadable("C:\\M\\Locked");
  fs.addFolder("D:\\N");
  fs.addSubFolder("D:\\N", "Shut");
  fs.makeUnreadable("D:\\N\\Shut");
  EXPECT_EQ(Drop({"C:\\M", "D:\\N"}), 2);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "2 Files Added to List.");
  EXPECT_EQ(messages.shown[1].text, UnreadableFoldersMessage({"C:\\M\\Locked\\", "D:\\N\\Shut\\"}));
}

TEST_F(AddDroppedTest, AFailureEndsTheDropAndKeepsWhatWasAdded) {
  struct FailingGrid : FakeGrid {
    void setText(const std::string& text) override {
      if (text.find("Sub") != std::string::npos) throw std::runtime_error("grid broke");
      FakeGrid::setText(text);
    }
  } failing;
  EXPECT_EQ(AddDroppedPaths({desktop, fs, {failing, counter}, convert, messages, '\\'},
                            {"C:\\M", "C:\\later.msg"}),
            1);
  // The row of the failed append is there, empty, as after the folder click.
  EXPECT_EQ(failing.column0(), (Paths{"C:\\M\\a.msg", ""}));
  EXPECT_TRUE(convert.enabled());
  EXPECT_FALSE(desktop.busy);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "51:grid broke");
}

}  // namespace
}  // namespace parvane::filelist
