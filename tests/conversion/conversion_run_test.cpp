// The conversion run driven against the recording profile: the calls it makes,
// in order and with their arguments, and what it shows.
#include <gtest/gtest.h>

#include <stdexcept>

#include "run_fixture.h"

namespace parvane::conversion {
namespace {

const char* const kPst = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";

TEST_F(RunTest, CancelledChooserChangesNothing) {
  setList({"/m/a.msg"});
  const auto outcome = CmdExtractDBX_Click(values, controls, profile, options);
  EXPECT_EQ(outcome.stage, RunOutcome::Stage::Cancelled);
  EXPECT_EQ(dialog.titles, (List{"Choose Folder to Save..."}));
  EXPECT_EQ(dialog.owners, (std::vector<std::intptr_t>{0x1234}));
  EXPECT_TRUE(profile.calls.empty());
  EXPECT_EQ(desktop.yields, 0);
  EXPECT_TRUE(frame.history.empty() && label.history.empty() && bar1.history.empty());
  EXPECT_TRUE(extract.enabled() && add.enabled() && addFolder.enabled() && clear.enabled());
  EXPECT_EQ(values.SavePath, "");
  EXPECT_TRUE(box.shown.empty());
}

TEST_F(RunTest, StampNamesTheFileAndTheStore) {
  setList({"/m/a.msg"});
  run("/out");
  EXPECT_EQ(values.SavePath, "/out/");
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}),
            (List{std::string("RDOStores.AddPSTStore(") + kPst + ", int32 1, " + kStore + ")"}));
  EXPECT_EQ(values.StoreDisplayName, kStore);
}

TEST_F(RunTest, WindowsDestinationsGetTheirClosingBackslashOnce) {
  options.pathRules = kWindowsPathRules;
  setList({"C:\\Mail\\a.msg"});
  run("C:\\Out");
  run("C:\\");
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}),
            (List{std::string("RDOStores.AddPSTStore(C:\\Out\\OstrelMSGMessages6.12.26 9.5.07.pst, "
                              "int32 1, ") + kStore + ")",
                  std::string("RDOStores.AddPSTStore(C:\\OstrelMSGMessages6.12.26 9.5.07.pst, "
                              "int32 1, ") + kStore + ")"}));
}

TEST_F(RunTest, ClockIsReadSeparatelyForFileAndDisplayName) {
  int reads = 0;
  options.clock = [&reads] { return LocalTime{2026, 12, 6, 9, 5, 7 + reads++}; };
  setList({"/m/a.msg"});
  run();
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}),
            (List{"RDOStores.AddPSTStore(/out/OstrelMSGMessages6.12.26 9.5.07.pst, int32 1, "
                  "Ostrel Software : Created - 6.12.26 9.5.08)"}));
}

TEST_F(RunTest, ThreeRowsOverTwoDrivesMakeTheExpectedCalls) {
  options.pathRules = kWindowsPathRules;
  setList({"C:\\Mail\\A\\x.msg", "C:\\Mail\\A\\y.msg", "D:\\Mail\\B\\z.msg"});
  const auto outcome = run("C:\\Out");
  const std::string pst = "C:\\Out\\OstrelMSGMessages6.12.26 9.5.07.pst";
  const std::string top = std::string("\\") + kStore;
  const std::string path = std::string("\\\\") + kStore;
  ASSERT_EQ(outcome.stage, RunOutcome::Stage::Completed);
  EXPECT_EQ(values.FolderList, (List{"Mail", "Mail\\A", "Mail\\B"}));

  List expected = {
      "CreateObject(Redemption.RDOSession)", "RDOSession.Logon", "RDOSession.Stores",
      "RDOStores.AddPSTStore(" + pst + ", int32 1, " + kStore + ")", "RDOStore.EntryID",
      // Mail: a top-level folder, through the store found again by its entry ID.
      "RDOSession.Stores", "RDOStores.GetStoreFromID(STORE-1)", "RDOStore.IPMRootFolder",
      "RDOFolder.Folders", "RDOFolders.Count", "RDOFolders.Add(Mail, int16 6)",
      // A and B: under the folder Outlook finds for Mail.
      "CreateObject(Outlook.Application)", "OutlookApplication.GetNamespace(MAPI)",
      "OutlookNamespace.Folders", "OutlookFolders.Item(" + std::string(kStore) + ")",
      "OutlookFolder.Folders", "OutlookFolders.Item(Mail)", "OutlookFolder.Folders",
      "OutlookFolders.Add(A, int16 6)",
      "CreateObject(Outlook.Application)", "OutlookApplication.GetNamespace(MAPI)",
      "OutlookNamespace.Folders", "OutlookFolders.Item(" + std::string(kStore) + ")",
      "OutlookFolder.Folders", "OutlookFolders.Item(Mail)", "OutlookFolder.Folders",
      "OutlookFolders.Add(B, int16 6)"};
  for (const auto& [file, folder] : std::vector<std::pair<std::string, std::string>>{
           {"C:\\Mail\\A\\x.msg", "Mail\\A"},
           {"C:\\Mail\\A\\y.msg", "Mail\\A"},
           {"D:\\Mail\\B\\z.msg", "Mail\\B"}}) {
    List row = {"RDOSession.GetFolderFromPath(" + path + "\\" + folder + ")", "RDOFolder.Items",
                "RDOItems.Add(int16 0)", "RDOMail.Import(" + file + ", int32 3)",
                "CreateObject(Redemption.MAPIUtils)", "RDOMail.MAPIOBJECT",
                "MAPIUtils.HrSetOneProp(MAPIOBJECT, int32 235339779, int16 17, bool true)",
                "RDOMail.Save"};
    expected.insert(expected.end(), row.begin(), row.end());
  }
  expected.insert(expected.end(), {"RDOStore.Remove", "RDOSession.Logoff"});
  EXPECT_EQ(profile.allCallTexts(), expected);

  EXPECT_EQ(foldersOf(pst), (List{"Mail", "Mail\\A", "Mail\\B"}));
  EXPECT_EQ(messagesIn(pst, "Mail\\A"), (List{"C:\\Mail\\A\\x.msg", "C:\\Mail\\A\\y.msg"}));
  EXPECT_EQ(messagesIn(pst, "Mail\\B"), (List{"D:\\Mail\\B\\z.msg"}));
  for (const auto& m : profile.storeAt(pst)->root->find("Mail\\A")->messages) {
    EXPECT_EQ(m->properties.at(0x0E070003), "int16 17");
  }
  EXPECT_FALSE(profile.storeAt(pst)->attached);
  EXPECT_EQ(profile.sessionsLoggedOn, 0);
  EXPECT_EQ(profile.mapiUtilsAlive, 0);
  EXPECT_EQ(values.MailSession, nullptr);
  EXPECT_TRUE(box.shown.empty());
  EXPECT_EQ(outcome.rowsConverted, 3);
}

TEST_F(RunTest, PosixFoldersBecomeStoreFoldersBelowTheRoot) {
  setList({"/home/ann/Mail/A/x.msg", "/home/ann/Mail/B/z.msg", "  /home/ann/Notes/n.msg "});
  run();
  EXPECT_EQ(foldersOf(kPst), (List{"home", "home\\ann", "home\\ann\\Mail", "home\\ann\\Mail\\A",
                                   "home\\ann\\Mail\\B", "home\\ann\\Notes"}));
  EXPECT_EQ(messagesIn(kPst, "home\\ann\\Notes"), (List{"/home/ann/Notes/n.msg"}));
  EXPECT_EQ(profile.callTexts({"RDOFolders.Add"}), (List{"RDOFolders.Add(home, int16 6)"}));
}

TEST_F(RunTest, RowsFilesAreAnnouncedBeforeTheFoldersAreMadeAndTheAnnouncementEndsAfterTheLastImport) {
  setList({"/m/b.msg", " /m/a.msg ", "/n/c.msg"});
  run();
  ASSERT_EQ(profile.announcements.size(), 2u);
  EXPECT_EQ(profile.announcements[0].files, (List{"/m/b.msg", "/m/a.msg", "/n/c.msg"}));
  EXPECT_EQ(profile.callTexts({"RDOMail.Import"}),
            (List{"RDOMail.Import(/m/b.msg, int32 3)", "RDOMail.Import(/m/a.msg, int32 3)",
                  "RDOMail.Import(/n/c.msg, int32 3)"}));
  // After the store is made, before its folders.
  const auto all = profile.allCallTexts();
  EXPECT_EQ(all.at(profile.announcements[0].afterCalls - 1), "RDOStore.EntryID");
  EXPECT_EQ(all.at(profile.announcements[0].afterCalls), "RDOSession.Stores");
  EXPECT_TRUE(profile.announcements[1].files.empty());
  EXPECT_EQ(all.at(profile.announcements[1].afterCalls), "RDOStore.Remove");
}

TEST_F(RunTest, FileListedTwiceIsImportedTwiceIntoOneFolder) {
  setList({"/m/a.msg", "/m/a.msg"});
  const auto outcome = run();
  EXPECT_EQ(foldersOf(kPst), (List{"m"}));
  EXPECT_EQ(messagesIn(kPst, "m"), (List{"/m/a.msg", "/m/a.msg"}));
  EXPECT_EQ(profile.callTexts({"RDOFolders.Add", "OutlookFolders.Add"}).size(), 1u);
  EXPECT_EQ(outcome.rowsConverted, 2);
}

TEST_F(RunTest, CaseDifferentFoldersAreBothAttemptedAndTheSecondIsSkipped) {
  setList({"/d/mail/y.msg", "/d/Mail/x.msg"});
  const auto outcome = run();
  EXPECT_EQ(values.FolderList, (List{"d", "d\\Mail", "d\\mail"}));
  EXPECT_EQ(profile.callTexts({"OutlookFolders.Add"}),
            (List{"OutlookFolders.Add(Mail, int16 6)", "OutlookFolders.Add(mail, int16 6)"}));
  EXPECT_EQ(foldersOf(kPst), (List{"d", "d\\Mail"}));
  // The store finds folders without regard to case: both rows land in Mail.
  EXPECT_EQ(messagesIn(kPst, "d\\Mail"), (List{"/d/mail/y.msg", "/d/Mail/x.msg"}));
  EXPECT_TRUE(outcome.failures.empty());
}

TEST_F(RunTest, TopLevelFolderTheStoreHasAlreadyIsNotCreatedAgain) {
  profile.newStoreFolders = {"Inbox"};
  setList({"/Inbox/a.msg", "/inbox/b.msg"});
  run();
  // "Inbox" exists under that exact name; "inbox" does not, so its Add is
  // attempted, fails and is skipped.
  EXPECT_EQ(profile.callTexts({"RDOFolders.Add"}), (List{"RDOFolders.Add(inbox, int16 6)"}));
  EXPECT_EQ(foldersOf(kPst), (List{"Inbox"}));
  EXPECT_EQ(messagesIn(kPst, "Inbox"), (List{"/Inbox/a.msg", "/inbox/b.msg"}));
}

TEST_F(RunTest, ThreeRowsAdvanceCaptionsAndBar) {
  setList({"/m/A/x.msg", "/m/A/y.msg", "/m/B/z.msg"});
  run();
  EXPECT_EQ(frame.history, (List{"Details : Converting - (1 of 3) file(s)",
                                 "Details : Converting - (2 of 3) file(s)",
                                 "Details : Converting - (3 of 3) file(s)"}));
  EXPECT_EQ(label.history, (List{"Importing Messages... from (m\\A)",
                                 "Importing Messages... from (m\\A)",
                                 "Importing Messages... from (m\\B)"}));
  EXPECT_EQ(bar1.history, (std::vector<float>{static_cast<float>(1.0 / 3.0 * 100.0),
                                              static_cast<float>(2.0 / 3.0 * 100.0), 100.0f}));
  EXPECT_EQ(bar1.min(), 0.0f);
  EXPECT_EQ(bar1.max(), 100.0f);
  EXPECT_EQ(bar2.max(), 100.0f);
  EXPECT_TRUE(bar2.history.empty());  // the second bar is never moved
  EXPECT_EQ(grid.currentRow(), 2);
}

TEST_F(RunTest, YieldsAtEachListedPoint) {
  setList({"/d/Mail/x.msg"});
  run();
  // Destination 1, progress 1, first sort 1, second sort 2, folder "d" 1,
  // folder "d\Mail" 2, one row 1, finish 2.
  EXPECT_EQ(desktop.yields, 11);
}

TEST_F(RunTest, ButtonsAreHeldDuringTheRunAndASecondStartIsRefused) {
  setList({"/m/a.msg", "/m/b.msg"});
  int heldYields = 0;
  RunOutcome::Stage nested = RunOutcome::Stage::Completed;
  desktop.onYield = [&] {
    if (!add.enabled() && !addFolder.enabled() && !clear.enabled() && !extract.enabled()) {
      ++heldYields;
    }
    if (desktop.yields == 3) {
      nested = CmdExtractDBX_Click(values, controls, profile, options).stage;
    }
  };
  const auto outcome = run();
  EXPECT_EQ(outcome.stage, RunOutcome::Stage::Completed);
  EXPECT_EQ(heldYields, desktop.yields);
  EXPECT_EQ(nested, RunOutcome::Stage::Busy);
  EXPECT_EQ(dialog.titles.size(), 1u);  // the refused start asked nothing
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}).size(), 1u);
  EXPECT_TRUE(add.enabled() && addFolder.enabled() && clear.enabled());
  EXPECT_FALSE(extract.enabled());  // disabled by the first imported row, as before
}

TEST_F(RunTest, ListButtonsAlreadyDisabledStayDisabled) {
  setList({"/m/a.msg"});
  clear.setEnabled(false);
  run();
  EXPECT_FALSE(clear.enabled());
  EXPECT_TRUE(add.enabled());
}

TEST_F(RunTest, SecondRunMakesANewStoreAndKeepsTheOldProgressUntilItsFirstImport) {
  setList({"/m/A/x.msg", "/m/A/y.msg", "/m/B/z.msg"});
  run();
  options.clock = [] { return LocalTime{2026, 12, 6, 9, 6, 0}; };
  std::vector<std::string> seenCaptions;
  std::vector<float> seenBar;
  desktop.onYield = [&] {
    if (frame.history.size() == 3) {  // before the second run's first import
      seenCaptions.push_back(frame.caption());
      seenBar.push_back(bar1.value());
    }
  };
  run();
  EXPECT_EQ(dialog.titles.size(), 2u);
  EXPECT_EQ(profile.callTexts({"RDOStores.AddPSTStore"}).back(),
            "RDOStores.AddPSTStore(/out/OstrelMSGMessages6.12.26 9.6.00.pst, int32 1, "
            "Ostrel Software : Created - 6.12.26 9.6.00)");
  ASSERT_FALSE(seenCaptions.empty());
  for (const auto& caption : seenCaptions) {
    EXPECT_EQ(caption, "Details : Converting - (3 of 3) file(s)");
  }
  for (float value : seenBar) EXPECT_EQ(value, 100.0f);
  EXPECT_EQ(frame.history.size(), 6u);
  EXPECT_EQ(messagesIn("/out/OstrelMSGMessages6.12.26 9.6.00.pst", "m\\B"), (List{"/m/B/z.msg"}));
}

TEST_F(RunTest, StopRequestLeavesTheRestOutAndFinishesTheStore) {
  setList({"/m/A/w.msg", "/m/A/x.msg", "/m/B/y.msg", "/m/B/z.msg"});
  options.stopRequested = [&] { return profile.callTexts({"RDOMail.Save"}).size() >= 2; };
  const auto outcome = run();
  EXPECT_EQ(outcome.stage, RunOutcome::Stage::Completed);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.rowsConverted, 2);
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(messagesIn(kPst, "m\\A"), (List{"/m/A/w.msg", "/m/A/x.msg"}));
  EXPECT_EQ(messagesIn(kPst, "m\\B"), List{});
  // The store is finished as after every run.
  const List calls = profile.allCallTexts();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(List(calls.end() - 2, calls.end()), (List{"RDOStore.Remove", "RDOSession.Logoff"}));
  EXPECT_FALSE(profile.storeAt(kPst)->attached);
  EXPECT_EQ(frame.caption(), "Details : Converting - (2 of 4) file(s)");
  EXPECT_FALSE(values.runActive);
}

TEST_F(RunTest, StopBeforeTheFoldersLeavesAnEmptyFinishedStore) {
  setList({"/m/A/x.msg"});
  int asked = 0;
  options.stopRequested = [&] { return ++asked > 0; };
  const auto outcome = run();
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(asked, 1);  // asked once: the answer holds for the rest of the run
  EXPECT_EQ(outcome.rowsConverted, 0);
  EXPECT_EQ(foldersOf(kPst), List{});
  EXPECT_TRUE(profile.callTexts({"RDOFolders.Add", "OutlookFolders.Add", "RDOMail.Import"}).empty());
  EXPECT_EQ(profile.callTexts({"RDOStore.Remove", "RDOSession.Logoff"}),
            (List{"RDOStore.Remove", "RDOSession.Logoff"}));
  EXPECT_TRUE(frame.history.empty());
  EXPECT_TRUE(extract.enabled());  // no row was imported
}

TEST_F(RunTest, AFailingStopQuestionCountsAsGoOn) {
  setList({"/m/A/x.msg", "/m/A/y.msg"});
  options.stopRequested = []() -> bool { throw std::runtime_error("cannot tell"); };
  const auto outcome = run();
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.rowsConverted, 2);
}

}  // namespace
}  // namespace parvane::conversion
