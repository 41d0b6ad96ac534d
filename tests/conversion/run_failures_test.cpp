// The run's two failure rules: the error box while preparing, skipping
// afterwards; and the closing report of rows that could not be converted.
#include <gtest/gtest.h>

#include "run_fixture.h"

namespace parvane::conversion {
namespace {

const char* const kPst = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";

class PreparationTest : public RunTest {
 protected:
  void expectErrorBoxAndNothingUndone(const RunOutcome& outcome) {
    EXPECT_EQ(outcome.stage, RunOutcome::Stage::PreparationFailed);
    EXPECT_FALSE(outcome.preparationError.empty());
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].text.rfind("Outlook Session Creation Error !\r\n"
                                      "Check if Outlook is installed and configured.\r\n"
                                      "For more details visit this link : https://",
                                      0),
              0u);
    EXPECT_EQ(box.shown[0].title, "Outlook Error");
    EXPECT_EQ(box.shown[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(box.shown[0].buttons, platform::MessageButtons::Ok);
    EXPECT_TRUE(profile.callTexts({"RDOStore.Remove", "RDOSession.Logoff"}).empty());
    EXPECT_TRUE(frame.history.empty() && label.history.empty() && bar1.history.empty());
    EXPECT_EQ(bar1.max(), 100.0f);
    // The buttons are as before the run.
    EXPECT_TRUE(extract.enabled() && add.enabled() && addFolder.enabled() && clear.enabled());
  }
};

TEST_F(PreparationTest, EmptyListCreatesTheStoreThenShowsTheBox) {
  const auto outcome = run();  // the grid's single empty row
  expectErrorBoxAndNothingUndone(outcome);
  ASSERT_NE(profile.storeAt(kPst), nullptr);
  EXPECT_TRUE(profile.storeAt(kPst)->attached);
  EXPECT_NE(values.MailSession, nullptr);
  EXPECT_EQ(outcome.pstFilePath, kPst);
}

TEST_F(PreparationTest, RowWithoutDriveOrInTheRootFailsAfterTheStoreIsMade) {
  options.pathRules = kWindowsPathRules;
  setList({"C:\\Mail\\a.msg", "\\\\server\\share\\b.msg"});
  expectErrorBoxAndNothingUndone(run("C:\\Out"));
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}).size(), 1u);
  EXPECT_TRUE(profile.callTexts({"RDOFolders.Add", "RDOItems.Add"}).empty());
}

TEST_F(PreparationTest, FileDirectlyInTheRootFails) {
  setList({"/m/a.msg", "/b.msg"});
  expectErrorBoxAndNothingUndone(run());
  EXPECT_NE(values.MailSession, nullptr);
}

TEST_F(PreparationTest, MissingLibraryFailsBeforeAnyStore) {
  profile.failOn("CreateObject", "Redemption.RDOSession");
  setList({"/m/a.msg"});
  expectErrorBoxAndNothingUndone(run());
  EXPECT_EQ(profile.allCallTexts(), (List{"CreateObject(Redemption.RDOSession)"}));
}

TEST_F(PreparationTest, FailingLogonOrStoreCreationShowsTheBox) {
  setList({"/m/a.msg"});
  profile.failOn("RDOSession.Logon", "", 1);
  expectErrorBoxAndNothingUndone(run());
  EXPECT_TRUE(profile.callTexts({"RDOStores.AddPSTStore"}).empty());

  box.shown.clear();
  profile.failOn("RDOStores.AddPSTStore", "", 1);
  expectErrorBoxAndNothingUndone(run());
  EXPECT_TRUE(profile.stores.empty());
  EXPECT_TRUE(profile.callTexts({"RDOStore.EntryID"}).empty());
}

TEST_F(PreparationTest, ExistingFileIsNotOverwritten) {
  setList({"/m/a.msg"});
  run();
  box.shown.clear();
  frame.history.clear();
  label.history.clear();
  bar1.history.clear();
  profile.calls.clear();
  extract.setEnabled(true);
  // The same path again, given by name: the file is there already and stays.
  options.pstFilePath = kPst;
  expectErrorBoxAndNothingUndone(run());
  EXPECT_EQ(messagesIn(kPst, "m"), List{"/m/a.msg"});
}

// The same stamp again (two runs within a second): the next free name is
// taken, the display name keeps the stamp, and the first store is untouched.
TEST_F(RunTest, TheSameStampAgainTakesTheNextFreeName) {
  setList({"/m/a.msg"});
  EXPECT_EQ(run().pstFilePath, kPst);
  setList({"/m/b.msg"});
  const RunOutcome again = run();
  EXPECT_EQ(again.stage, RunOutcome::Stage::Completed);
  EXPECT_EQ(again.pstFilePath, "/out/OstrelMSGMessages6.12.26 9.5.07 (2).pst");
  EXPECT_EQ(messagesIn(kPst, "m"), List{"/m/a.msg"});
  EXPECT_EQ(messagesIn(again.pstFilePath, "m"), List{"/m/b.msg"});
  EXPECT_EQ(profile.storeAt(again.pstFilePath)->displayName, "Ostrel Software : Created - 6.12.26 9.5.07");
  EXPECT_TRUE(box.shown.empty());
}

TEST_F(RunTest, FailedImportLeavesNoMessageAndIsReportedOnce) {
  profile.failOn("RDOMail.Import", "/m/bad.msg");
  setList({"/m/a.msg", "/m/bad.msg", "/m/c.msg"});
  const auto outcome = run();
  ASSERT_EQ(outcome.stage, RunOutcome::Stage::Completed);
  EXPECT_EQ(messagesIn(kPst, "m"), (List{"/m/a.msg", "/m/c.msg"}));
  EXPECT_EQ(profile.callTexts({"RDOMail.Save"}).size(), 2u);
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].row, 1);
  EXPECT_EQ(outcome.failures[0].file, "/m/bad.msg");
  EXPECT_EQ(outcome.rowsConverted, 2);
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].title, "Parvane");
  EXPECT_EQ(box.shown[0].icon, platform::MessageIcon::Exclamation);
  EXPECT_EQ(box.shown[0].text.rfind("1 file(s) could not be converted:\r\n", 0), 0u);
  EXPECT_NE(box.shown[0].text.find("/m/bad.msg"), std::string::npos);
  // The failed row still advances the captions and the bar.
  EXPECT_EQ(frame.history.size(), 3u);
  EXPECT_EQ(bar1.history.back(), 100.0f);
  EXPECT_EQ(profile.callTexts({"RDOStore.Remove", "RDOSession.Logoff"}).size(), 2u);
}

TEST_F(RunTest, ReportCanBeLeftToTheCaller) {
  options.reportFailures = false;
  profile.failOn("RDOMail.Import");
  setList({"/m/a.msg"});
  const auto outcome = run();
  EXPECT_EQ(outcome.failures.size(), 1u);
  EXPECT_TRUE(box.shown.empty());
}

TEST_F(RunTest, WithoutOutlookSubfoldersAreMissingAndTheirRowsReported) {
  profile.failOn("CreateObject", "Outlook.Application");
  setList({"/top/a.msg", "/top/sub/b.msg"});
  const auto outcome = run();
  EXPECT_EQ(foldersOf(kPst), (List{"top"}));
  EXPECT_EQ(messagesIn(kPst, "top"), (List{"/top/a.msg"}));
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].file, "/top/sub/b.msg");
  EXPECT_NE(outcome.failures[0].reason.find("top\\sub"), std::string::npos);
  EXPECT_EQ(profile.callTexts({"RDOStore.Remove", "RDOSession.Logoff"}).size(), 2u);
}

TEST_F(RunTest, FailingFlagsStillSaveTheMessage) {
  profile.failOn("MAPIUtils.HrSetOneProp");
  setList({"/m/a.msg"});
  const auto outcome = run();
  EXPECT_EQ(messagesIn(kPst, "m"), (List{"/m/a.msg"}));
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(profile.mapiUtilsAlive, 0);
}

TEST_F(RunTest, FailingFinishStepsAreSkipped) {
  profile.failOn("RDOStore.Remove");
  profile.failOn("RDOSession.Logoff");
  setList({"/m/a.msg"});
  const auto outcome = run();
  EXPECT_EQ(outcome.stage, RunOutcome::Stage::Completed);
  EXPECT_EQ(profile.allCallTexts().back(), "RDOSession.Logoff");
  EXPECT_EQ(values.MailSession, nullptr);
  EXPECT_TRUE(box.shown.empty());
}

TEST_F(RunTest, FailingStoreLookupSkipsTopLevelFolderCreation) {
  profile.failOn("RDOStores.GetStoreFromID");
  setList({"/m/a.msg"});
  const auto outcome = run();
  EXPECT_TRUE(profile.callTexts({"RDOFolders.Add"}).empty());
  EXPECT_EQ(outcome.failures.size(), 1u);  // its folder was never made
  EXPECT_EQ(frame.history.size(), 1u);
}

}  // namespace
}  // namespace parvane::conversion
