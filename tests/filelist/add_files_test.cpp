// The open-dialog click: parsing the NUL-separated result, enabling the
// conversion button, and the failure boxes.
#include "filelist/add_files.h"

#include <gtest/gtest.h>

#include "support/fake_ui.h"

namespace parvane::filelist {
namespace {

using platform::MessageButtons;
using platform::MessageIcon;
using testing::FakeButton;
using testing::FakeGrid;
using testing::FakeLabel;
using testing::FakeOpenFileDialog;
using testing::ScriptedMessageBox;

std::string Nul(std::initializer_list<const char*> parts, bool closingNul) {
  std::string s;
  bool first = true;
  for (const char* p : parts) {
    if (!first) s.push_back('\0');
    s += p;
    first = false;
  }
  if (closingNul) s.push_back('\0');
  return s;
}

TEST(PathsFromDialogResult, EmptyGivesNothing) {
  EXPECT_TRUE(PathsFromDialogResult("", '\\').empty());
}

TEST(PathsFromDialogResult, SingleFullPathUnchanged) {
  EXPECT_EQ(PathsFromDialogResult("C:\\Mail\\a b.msg", '\\'),
            std::vector<std::string>{"C:\\Mail\\a b.msg"});
  // A single choice that already ends in NUL gives the same.
  EXPECT_EQ(PathsFromDialogResult(std::string("C:\\a.msg\0", 9), '\\'),
            std::vector<std::string>{"C:\\a.msg"});
}

TEST(PathsFromDialogResult, SeveralNamesJoinTheFolder) {
  const std::vector<std::string> expected{"C:\\Mail\\a.msg", "C:\\Mail\\b.msg", "C:\\Mail\\c.msg"};
  EXPECT_EQ(PathsFromDialogResult(Nul({"C:\\Mail", "a.msg", "b.msg", "c.msg"}, false), '\\'),
            expected);
  EXPECT_EQ(PathsFromDialogResult(Nul({"C:\\Mail", "a.msg", "b.msg", "c.msg"}, true), '\\'),
            expected);
}

TEST(PathsFromDialogResult, DriveRootGetsNoDoubledSeparator) {
  EXPECT_EQ(PathsFromDialogResult(Nul({"C:\\", "a.msg", "b.msg"}, false), '\\'),
            (std::vector<std::string>{"C:\\a.msg", "C:\\b.msg"}));
  EXPECT_EQ(PathsFromDialogResult(Nul({"/", "a.msg", "b.msg"}, true), '/'),
            (std::vector<std::string>{"/a.msg", "/b.msg"}));
}

TEST(TooManyFilesMessage, Text) {
  EXPECT_EQ(TooManyFilesMessage(37), "Please select only 37 files at a time");
}

TEST(ErrorText, CodeColonDescription) {
  EXPECT_EQ(ErrorText(platform::PlatformError(-5, "bad")), "-5:bad");
  EXPECT_EQ(ErrorText(platform::PlatformError(32755, "Cancel")), "32755:Cancel");
  EXPECT_EQ(ErrorText(std::runtime_error("boom")), "51:boom");
}

struct AddFilesTest : ::testing::Test {
  FakeGrid grid;
  FakeLabel counter{"0 files"};
  FileListControls list{grid, counter};
  FakeButton convert{false};
  ScriptedMessageBox messages;
  FakeOpenFileDialog dialog;

  void Click() { AddFilesFromDialog(dialog, list, convert, messages, '\\'); }
};

TEST_F(AddFilesTest, ConfiguresTheDialogEachTime) {
  dialog.setFilter("junk");
  Click();
  EXPECT_EQ(dialog.filter, "Email Messages (*.msg)|*.msg");
  EXPECT_EQ(dialog.flags, 0x80200);
  EXPECT_EQ(dialog.maxFileSize, 1000);
  EXPECT_EQ(dialog.shownCount, 1);
}

TEST_F(AddFilesTest, CancelChangesNothing) {
  Click();
  EXPECT_FALSE(convert.enabled());
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.cell(0, 0), "");
  EXPECT_EQ(counter.caption(), "0 files");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(AddFilesTest, CancelAfterEarlierChoiceShowsNothing) {
  dialog.result = "C:\\a.msg";
  Click();
  dialog.result = "";
  Click();  // the initial file name is reset, so the earlier result does not come back
  EXPECT_EQ(grid.column0(), std::vector<std::string>{"C:\\a.msg"});
}

TEST_F(AddFilesTest, OneFileAddsItsPathOnceAndEnables) {
  dialog.result = "C:\\Mail\\a.msg";
  Click();
  EXPECT_TRUE(convert.enabled());
  EXPECT_EQ(grid.column0(), std::vector<std::string>{"C:\\Mail\\a.msg"});
  EXPECT_EQ(counter.caption(), "1 files");
}

TEST_F(AddFilesTest, ThreeFilesInTheDialogsOrder) {
  dialog.result = Nul({"C:\\Mail", "c.msg", "a.msg", "b.msg"}, false);
  Click();
  EXPECT_EQ(grid.column0(),
            (std::vector<std::string>{"C:\\Mail\\c.msg", "C:\\Mail\\a.msg", "C:\\Mail\\b.msg"}));
  EXPECT_EQ(counter.caption(), "3 files");
}

TEST_F(AddFilesTest, ChoosingListedFilesListsThemAgain) {
  dialog.result = "C:\\a.msg";
  Click();
  Click();
  EXPECT_EQ(grid.column0(), (std::vector<std::string>{"C:\\a.msg", "C:\\a.msg"}));
  EXPECT_EQ(counter.caption(), "2 files");
}

TEST_F(AddFilesTest, SelectionTooLongAddsNothingAndSaysHowMany) {
  struct TooLongDialog : FakeOpenFileDialog {
    void showOpen() override { throw SelectionTooLongError(12); }
  } tooLong;
  AddFilesFromDialog(tooLong, list, convert, messages, '\\');
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Please select only 12 files at a time");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_FALSE(convert.enabled());  // keeps its previous state
  EXPECT_EQ(grid.cell(0, 0), "");
}

TEST_F(AddFilesTest, BufferTooSmallWithoutCountSaysZero) {
  dialog.failCode = 20476;
  dialog.failDescription = "buffer too small";
  convert.setEnabled(true);
  Click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Please select only 0 files at a time");
  EXPECT_TRUE(convert.enabled());
}

TEST_F(AddFilesTest, OtherFailureShowsCodeAndDescription) {
  dialog.failCode = -2147467259;
  dialog.failDescription = "Unspecified error";
  Click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "-2147467259:Unspecified error");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
}

TEST_F(AddFilesTest, FailingAppendKeepsEarlierRowsAndTheEnabledButton) {
  struct FailingGrid : FakeGrid {
    void setText(const std::string& text) override {
      if (text.find("bad") != std::string::npos) throw platform::PlatformError(7, "Out of memory");
      FakeGrid::setText(text);
    }
  } failing;
  FileListControls failingList{failing, counter};
  dialog.result = Nul({"C:\\M", "a.msg", "bad.msg", "c.msg"}, true);
  AddFilesFromDialog(dialog, failingList, convert, messages, '\\');
  EXPECT_TRUE(convert.enabled());
  EXPECT_EQ(failing.cell(0, 0), "C:\\M\\a.msg");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "7:Out of memory");
}

}  // namespace
}  // namespace parvane::filelist
