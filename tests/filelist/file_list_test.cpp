// The list in the grid: append, clear, the clear click and the counter.
#include "filelist/file_list.h"

#include <gtest/gtest.h>

#include "support/fake_ui.h"

namespace parvane::filelist {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;
using testing::FakeGrid;
using testing::FakeLabel;
using testing::ScriptedMessageBox;

struct ListFixture : ::testing::Test {
  FakeGrid grid;
  FakeLabel counter{"0 files"};
  FileListControls list{grid, counter};
  ScriptedMessageBox messages;
};

using FileListTest = ListFixture;

TEST_F(FileListTest, FirstAppendGoesIntoRowZero) {
  grid.setColWidth(0, kStartColumnWidth);
  AppendToList(list, "C:\\Mail\\a.msg");
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "C:\\Mail\\a.msg");
  EXPECT_EQ(counter.caption(), "1 files");
  EXPECT_EQ(grid.colWidth(0), kListColumnWidth);
  EXPECT_EQ(grid.fixedRows(), 0);
  EXPECT_EQ(grid.currentRow(), 0);
}

TEST_F(FileListTest, SecondAppendAddsARowAndStaysOnIt) {
  AppendToList(list, "a");
  grid.setColWidth(0, 1234);  // only a path going into an empty list narrows the column
  AppendToList(list, "b");
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(counter.caption(), "2 files");
  EXPECT_EQ(grid.currentRow(), 1);
  EXPECT_EQ(grid.currentCol(), 0);
  EXPECT_EQ(grid.colWidth(0), 1234);
}

TEST_F(FileListTest, DuplicatesAndBlanksAreKept) {
  AppendToList(list, " a.msg ");
  AppendToList(list, " a.msg ");
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{" a.msg ", " a.msg "}));
  EXPECT_EQ(counter.caption(), "2 files");
}

TEST_F(FileListTest, AppendWhenCurrentCellIsElsewhere) {
  AppendToList(list, "a");
  AppendToList(list, "b");
  grid.setRow(0);
  AppendToList(list, "c");
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(FileListTest, ClearResetsGridAndCounter) {
  AppendToList(list, "a");
  AppendToList(list, "b");
  EmptyList(list);
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "");
  EXPECT_EQ(counter.caption(), "0 files");
  EXPECT_EQ(grid.colWidth(0), kListColumnWidth);  // widths stay
}

TEST_F(FileListTest, AfterClearTheNextAppendGoesIntoRowZeroAgain) {
  AppendToList(list, "a");
  AppendToList(list, "b");
  EmptyList(list);
  grid.setColWidth(0, kStartColumnWidth);
  AppendToList(list, "c");
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "c");
  EXPECT_EQ(counter.caption(), "1 files");
  EXPECT_EQ(grid.colWidth(0), kListColumnWidth);
}

TEST_F(FileListTest, ClearOnEmptyListAsksNothing) {
  AskAndClearList(list, messages);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FileListTest, ClearAnsweredNoChangesNothing) {
  AppendToList(list, "a");
  AppendToList(list, "b");
  messages.answers.push_back(MessageAnswer::No);
  AskAndClearList(list, messages);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text,
            "Do you want to clear all the files in the list\r\n Proceed?");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Question);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(counter.caption(), "2 files");
}

TEST_F(FileListTest, ClearAnsweredYesClears) {
  AppendToList(list, "a");
  messages.answers.push_back(MessageAnswer::Yes);
  AskAndClearList(list, messages);
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "");
  EXPECT_EQ(counter.caption(), "0 files");
}

TEST_F(FileListTest, ListedPathsReadsEveryRow) {
  EXPECT_TRUE(ListedPaths(grid).empty());
  AppendToList(list, "a");
  AppendToList(list, "b");
  EXPECT_EQ(ListedPaths(grid), (std::vector<std::string>{"a", "b"}));
}

TEST(CountCaption, HasNoSingularForm) {
  EXPECT_EQ(CountCaption(0), "0 files");
  EXPECT_EQ(CountCaption(1), "1 files");
  EXPECT_EQ(CountCaption(12345), "12345 files");
}

}  // namespace
}  // namespace parvane::filelist
