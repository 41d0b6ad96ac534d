// The window's controller over in-memory controls and a store in memory: the
// load step, each click handler reaching its operation, the run shown on the
// window, clicks that arrive while a run yields, failures that escape an
// operation, and the exit question.
#include "app/main_window_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/folder_paths.h"
#include "support/memory_store_service.h"
#include "support/fake_ui.h"
#include "support/native_path.h"

namespace parvane::app {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;
using List = std::vector<std::string>;
using testing::NativePath;

struct ControllerTest : ::testing::Test {
  ControllerTest() {
    settings.clock = [] { return conversion::LocalTime{2026, 12, 6, 9, 5, 7}; };
    settings.pathRules = conversion::kNativePathRules;
    files.addFolder(NativePath("/m"));
    files.addFile(NativePath("/m"), "a.msg");
    files.addFile(NativePath("/m"), "notes.txt");
    files.addSubFolder(NativePath("/m"), "Work");
    files.addFile(NativePath("/m/Work"), "b.MSG");
  }

  MainWindowController& window() {
    if (!controller) {
      controller = std::make_unique<MainWindowController>(controls, store, settings);
      controller->load();
    }
    return *controller;
  }
  // Lists the files of /m through the folder add.
  void listFolder() {
    folders.results.push_back(NativePath("/m"));
    window().addFolder();
    messages.shown.clear();
  }

  testing::FakeGrid grid;
  testing::FakeLabel count{"0 files"}, frame{"Details"}, current{"Converting Messages..."};
  testing::FakeProgressBar bar1, bar2;
  testing::FakeButton add{true}, addFolder{true}, clear{true}, convert{false}, end{true};
  testing::ScriptedMessageBox messages;
  testing::FakeOpenFileDialog openDialog;
  testing::FakeFolderDialog folders;
  testing::FakeDesktop desktop;
  testing::MemoryFileSystem files{platform::kPathSeparator};
  testing::MemoryStoreService store;
  ConversionSettings settings;
  MainWindowControls controls{grid,       count,     frame,   current, bar1, bar2,
                              add,        addFolder, clear,   convert, end,  messages,
                              openDialog, folders,   desktop, files};
  std::unique_ptr<MainWindowController> controller;
};

TEST_F(ControllerTest, LoadStepWidensTheColumn) {
  window().load();
  EXPECT_EQ(grid.colWidth(0), 50000);
  EXPECT_FALSE(window().lastRun());
}

TEST_F(ControllerTest, AddClickListsTheChosenFiles) {
  openDialog.result = NativePath("/m") + '\0' + "a.msg" + '\0' + "b.msg" + '\0';
  window().addFiles();
  EXPECT_EQ(grid.column0(), (List{NativePath("/m/a.msg"), NativePath("/m/b.msg")}));
  EXPECT_EQ(count.caption(), "2 files");
  EXPECT_TRUE(convert.enabled());
  EXPECT_EQ(openDialog.filter, "Email Messages (*.msg)|*.msg");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ControllerTest, AddFolderClickListsEveryMessageFileOfTheTree) {
  folders.results.push_back(NativePath("/m"));
  window().addFolder();
  EXPECT_EQ(grid.column0(), (List{NativePath("/m/a.msg"), NativePath("/m/Work/b.MSG")}));
  EXPECT_EQ(folders.titles, List{"Choose Source Folder..."});
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "2 Files Added to List.");
  EXPECT_TRUE(convert.enabled());
  EXPECT_FALSE(desktop.busy);
}

TEST_F(ControllerTest, ConvertClickRunsOverTheListedFiles) {
  listFolder();
  folders.results.push_back(NativePath("/out"));
  window().convert();
  ASSERT_TRUE(window().lastRun());
  const auto& run = *window().lastRun();
  ASSERT_EQ(run.stage, conversion::RunResult::Stage::Completed);
  EXPECT_EQ(run.storeFilePath, NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst"));
  EXPECT_EQ(run.converted, 2u);
  EXPECT_EQ(run.storeDisplayName, "Ostrel Software : Created - 6.12.26 9.5.07");
  EXPECT_EQ(store.path, run.storeFilePath);
  EXPECT_EQ(store.displayName, run.storeDisplayName);
  EXPECT_FALSE(store.attached);
  EXPECT_EQ(store.folderPaths(), (List{"m", "m\\Work"}));
  EXPECT_EQ(store.filesIn("m\\Work"), List{NativePath("/m/Work/b.MSG")});
  EXPECT_EQ(frame.caption(), "Details : Converting - (2 of 2) file(s)");
  EXPECT_EQ(current.caption(), "Importing Messages... from (m\\Work)");
  EXPECT_FLOAT_EQ(bar1.value(), 100.0f);
  EXPECT_FALSE(convert.enabled());  // disabled once a row is imported
  EXPECT_TRUE(add.enabled() && addFolder.enabled() && clear.enabled());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ControllerTest, FilesThatCannotBeImportedAreNamedInOneBoxAtTheEnd) {
  listFolder();
  store.unreadable.insert(NativePath("/m/a.msg"));
  folders.results.push_back(NativePath("/out"));
  window().convert();
  ASSERT_TRUE(window().lastRun());
  EXPECT_EQ(window().lastRun()->converted, 1u);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.shown[0].text, "1 file(s) could not be converted:\r\nCannot import \"" +
                                        NativePath("/m/a.msg") + "\": not a message file");
  EXPECT_EQ(frame.caption(), "Details : Converting - (2 of 2) file(s)");
  EXPECT_TRUE(store.filesIn("m").empty());
  EXPECT_EQ(grid.currentRow(), 1);  // the last file's row
}

// The report the window saves after a run: the lines parvane-cli --report
// writes, its converted files exactly those the store holds.
TEST_F(ControllerTest, TheLastRunsReportNamesEveryListedFileAndWhatTheStoreHolds) {
  EXPECT_FALSE(window().lastRunReport(nullptr));  // no run yet
  listFolder();
  store.unreadable.insert(NativePath("/m/a.msg"));
  folders.results.push_back(NativePath("/out"));
  window().convert();
  const auto sizeOf = [](const std::string& path) -> std::optional<std::uint64_t> { return path.size(); };
  const auto report = window().lastRunReport(sizeOf);
  ASSERT_TRUE(report);
  std::istringstream lines(*report);
  List read;
  for (std::string line; std::getline(lines, line);) read.push_back(line);
  ASSERT_EQ(read.size(), 3u) << *report;
  const std::string a = NativePath("/m/a.msg"), b = NativePath("/m/Work/b.MSG");
  EXPECT_EQ(read[0], conversion::ReportLine({a, "m", false, "not a message file", a.size(), {}}));
  EXPECT_EQ(read[1], conversion::ReportLine({b, "m\\Work", true, "", b.size(),
                                            NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst")}));
  EXPECT_EQ(store.filesIn("m\\Work"), List{b});
  EXPECT_TRUE(store.filesIn("m").empty());
  EXPECT_EQ(read[2].rfind(R"({"summary":true,"store":)" +
                              conversion::JsonString(NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst")) +
                              R"(,"stores":[)" +
                              conversion::JsonString(NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst")) +
                              R"(],"listed":2,"converted":1,"refused":1,"stopped":false,)",
                          0),
            0u)
      << read[2];
  EXPECT_NE(read[2].find(R"("exit_status":null})"), std::string::npos) << read[2];
  EXPECT_EQ(window().suggestedReportPath(), NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.jsonl"));

  // Saved as it reads, replacing a file there; a place that cannot be
  // written is named in a box.
  namespace fs = std::filesystem;
  const fs::path saved = fs::temp_directory_path() / ("parvane-report-" + std::to_string(
      ::testing::UnitTest::GetInstance()->random_seed()) + ".jsonl");
  { std::ofstream(saved) << "an older, longer file that the report replaces whole\n"; }
  window().saveReport(saved.string());
  std::stringstream file;
  file << std::ifstream(saved, std::ios::binary).rdbuf();
  const std::string written = file.str();
  // (the sizes are the real ones now: none of these paths exists)
  EXPECT_EQ(written.substr(0, written.find('\n')),
            conversion::ReportLine({a, "m", false, "not a message file", std::nullopt, {}}));
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3);
  EXPECT_EQ(messages.shown.size(), 1u);  // the run's box only
  const std::string nowhere = (saved.parent_path() / "no such folder" / "r.jsonl").string();
  window().saveReport(nowhere);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "The report could not be saved to \"" + nowhere + "\".");
  EXPECT_EQ(messages.shown[1].icon, MessageIcon::Exclamation);
  fs::remove(saved);

  // A cancelled choice of destination leaves no run to report.
  window().convert();
  EXPECT_FALSE(window().lastRunReport(sizeOf));
}

TEST_F(ControllerTest, TheClearEmptiesTheListARunConverted) {
  listFolder();
  folders.results.push_back(NativePath("/out"));
  window().convert();
  messages.answers.push_back(MessageAnswer::Yes);
  window().clearList();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Do you want to clear all the files in the list\r\n Proceed?");
  EXPECT_EQ(grid.column0(), List{""});
  EXPECT_EQ(count.caption(), "0 files");
}

TEST_F(ControllerTest, CancelledDestinationLeavesEverythingAsItWas) {
  listFolder();
  window().convert();  // the chooser answers nothing
  EXPECT_FALSE(window().lastRun());
  EXPECT_TRUE(store.calls.empty());
  EXPECT_TRUE(convert.enabled());
  EXPECT_EQ(frame.caption(), "Details");
}

TEST_F(ControllerTest, SecondStartDuringARunIsRefusedAndTheRunGoesOn) {
  listFolder();
  folders.results.push_back(NativePath("/out"));
  folders.results.push_back(NativePath("/elsewhere"));
  int nested = 0;
  desktop.onYield = [&] {
    if (nested++ == 0) window().convert();  // a click that arrives in a yield
  };
  window().convert();
  ASSERT_TRUE(window().lastRun());
  EXPECT_EQ(window().lastRun()->stage, conversion::RunResult::Stage::Completed);
  EXPECT_EQ(window().lastRun()->converted, 2u);
  EXPECT_EQ(std::count_if(store.calls.begin(), store.calls.end(),
                          [](const std::string& call) { return call.rfind("createStore", 0) == 0; }),
            1);
  // the refused start asked nothing
  EXPECT_EQ(List(folders.results.begin(), folders.results.end()), List{NativePath("/elsewhere")});
}

TEST_F(ControllerTest, WithoutAMailStoreTheRunShowsTheOutlookError) {
  listFolder();
  store.createFails = [](const std::string&) {
    return conversion::StoreError{conversion::StoreFailure::NotWritable, "Permission denied"};
  };
  folders.results.push_back(NativePath("/out"));
  window().convert();
  ASSERT_TRUE(window().lastRun());
  EXPECT_EQ(window().lastRun()->stage, conversion::RunResult::Stage::PreparationFailed);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "Outlook Error");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Information);
  EXPECT_EQ(messages.shown[0].text.rfind("Outlook Session Creation Error !\r\n", 0), 0u);
  EXPECT_NE(messages.shown[0].text.find("Permission denied"), std::string::npos);
  EXPECT_TRUE(convert.enabled());
  EXPECT_TRUE(add.enabled() && addFolder.enabled() && clear.enabled());
}

TEST_F(ControllerTest, FailureEscapingAnOperationIsShownWithItsCode) {
  listFolder();
  folders.results.push_back(NativePath("/out"));
  desktop.onYield = [] { throw platform::PlatformError(-2147221005, "Invalid class string"); };
  EXPECT_NO_THROW(window().convert());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "-2147221005:Invalid class string");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  // The run let go of the buttons on its way out, and a new run may start.
  EXPECT_TRUE(add.enabled() && addFolder.enabled() && clear.enabled() && convert.enabled());
  EXPECT_FALSE(window().running());

  desktop.onYield = [] { throw std::logic_error("broken"); };
  folders.results.push_back(NativePath("/out"));
  window().convert();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "51:broken");
}

TEST_F(ControllerTest, ExitAsksAndAnswersWhetherToEnd) {
  messages.answers = {MessageAnswer::No, MessageAnswer::Yes};
  EXPECT_FALSE(window().askToExit());
  EXPECT_TRUE(window().askToExit());
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "Are you sure you want to exit now?");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Question);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
}

}  // namespace
}  // namespace parvane::app
