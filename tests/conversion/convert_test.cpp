// The conversion run against a store held in memory: what the store holds
// afterwards and what the user was told. One test pins the order and the
// arguments of the store operations, which other stores rely on.
#include "conversion/convert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "conversion/failure_report.h"
#include "conversion/folder_lookup.h"
#include "conversion/store_file_name.h"
#include "support/memory_store_service.h"
#include "support/path_lists.h"

namespace parvane::conversion {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using List = std::vector<std::string>;

constexpr const char* kStore = "Ostrel Software : Created - 6.12.26 9.5.07";

// Writes down what a window would show, and stops when told to.
class NotingObserver : public RunObserver {
 public:
  void runStarted() override { events.push_back("started"); }
  void progressRangeSet() override { events.push_back("range"); }
  void idle() override { ++idles; }
  void preparationFailed(const PreparationError& error) override {
    events.push_back("preparation failed: " + PreparationCause(error));
  }
  void fileStarted(std::size_t index) override {
    events.push_back("file " + std::to_string(index));
  }
  void fileDone(const FileProgress& progress) override {
    events.push_back(progress.frameCaption + " | " + progress.folderCaption + " | " +
                     std::to_string(progress.percent));
  }
  void runEnded(const RunResult& result) override {
    events.push_back("ended, " + std::to_string(result.converted) + " converted");
  }
  bool stopRequested() override { return ++questions > stopAfterQuestions; }

  List events;
  int idles = 0;
  int questions = 0;
  int stopAfterQuestions = 1 << 30;
};

class ConvertTest : public ::testing::Test {
 protected:
  RunResult run(List files, PathRules rules = kPosixPathRules) {
    request.files = parvane::testing::Listed(files);
    request.pathRules = rules;
    return convert(request, store, observer);
  }

  ConversionRequest request{{}, "/out", {}, kPosixPathRules,
                            [] { return LocalTime{2026, 12, 6, 9, 5, 7}; }};
  testing::MemoryStoreService store;
  NotingObserver observer;
};

TEST_F(ConvertTest, ThreeRowsOverTwoDrivesCallTheStoreInOrderWithItsArguments) {
  request.destinationFolder = "C:\\Out";
  run({"C:\\Mail\\A\\x.msg", " C:\\Mail\\A\\y.msg ", "D:\\Mail\\B\\z.msg"}, kWindowsPathRules);
  const std::string at = std::string("\\\\") + kStore + "\\Mail\\";
  EXPECT_THAT(store.calls,
              ElementsAre(std::string("createStore C:\\Out\\OstrelMSGMessages6.12.26 9.5.07.pst 1 ") +
                              kStore,
                          "expectImports 3",
                          // Mail under the top folder, unless it is there already
                          "topFolder", "subfolderNames <top>", "addFolder <top> Mail 6",
                          // A and B under the folder the lookup finds for Mail
                          std::string("storeFolder ") + kStore, "subfolder <top> Mail",
                          "addFolder Mail A 6", std::string("storeFolder ") + kStore,
                          "subfolder <top> Mail", "addFolder Mail B 6",
                          // each file: its folder, a new item, the import, the flags, saved
                          "folderAtPath " + at + "A", "addItem A", "importMessage C:\\Mail\\A\\x.msg",
                          "setFlags 17", "save", "folderAtPath " + at + "A", "addItem A",
                          "importMessage C:\\Mail\\A\\y.msg", "setFlags 17", "save",
                          "folderAtPath " + at + "B", "addItem B",
                          "importMessage D:\\Mail\\B\\z.msg", "setFlags 17", "save",
                          "removeStore", "endSession"));
}

TEST_F(ConvertTest, FilesLandInTheFoldersOfTheirPathsAndAreMarkedRead) {
  const auto result = run({"/m/Work/2010/a.msg", "/m/Work/b.msg", "/m/Work/2010/a.msg", "/n/c.msg"});
  EXPECT_EQ(result.stage, RunResult::Stage::Completed);
  EXPECT_EQ(result.converted, 4u);
  EXPECT_THAT(result.failures, IsEmpty());
  EXPECT_THAT(store.folderPaths(), ElementsAre("m", "m\\Work", "m\\Work\\2010", "n"));
  // a file listed twice is imported twice, into one folder
  EXPECT_THAT(store.filesIn("m\\Work\\2010"), ElementsAre("/m/Work/2010/a.msg", "/m/Work/2010/a.msg"));
  EXPECT_THAT(store.filesIn("n"), ElementsAre("/n/c.msg"));
  for (const auto& message : store.allMessages()) EXPECT_EQ(message.flags, 17u);
  EXPECT_FALSE(store.attached);
  EXPECT_TRUE(store.sessionEnded);
}

TEST_F(ConvertTest, TheStampNamesFileAndStoreEachWithItsOwnReadingOfTheClock) {
  int second = 7;
  request.clock = [&] { return LocalTime{2026, 12, 6, 9, 5, second++}; };
  request.destinationFolder = "/";
  const auto result = run({"/m/a.msg"});
  EXPECT_EQ(result.storeFilePath, "/OstrelMSGMessages6.12.26 9.5.07.pst");
  EXPECT_EQ(result.storeDisplayName, "Ostrel Software : Created - 6.12.26 9.5.08");
  EXPECT_EQ(store.displayName, result.storeDisplayName);
  // A named file replaces the stamped one.
  testing::MemoryStoreService other;
  request.storeFilePath = "/else/x.pst";
  EXPECT_EQ(convert(request, other, observer).storeFilePath, "/else/x.pst");
  EXPECT_EQ(other.path, "/else/x.pst");
}

TEST_F(ConvertTest, FoldersDifferingInLetterCaseShareTheFirstOne) {
  const auto result = run({"/m/Work/a.msg", "/m/work/b.msg"});
  EXPECT_EQ(result.converted, 2u);
  EXPECT_THAT(store.folderPaths(), ElementsAre("m", "m\\Work"));
  EXPECT_THAT(store.filesIn("m\\Work"), ElementsAre("/m/Work/a.msg", "/m/work/b.msg"));
}

TEST_F(ConvertTest, AFileThatCannotBeImportedLeavesNoMessageAndIsNamedWithItsCause) {
  store.unreadable = {"/m/b.msg"};
  const auto result = run({"/m/a.msg", "/m/b.msg", "/m/c.msg"});
  EXPECT_EQ(result.converted, 2u);
  ASSERT_EQ(result.failures.size(), 1u);
  EXPECT_EQ(result.failures[0].index, 1u);
  EXPECT_EQ(result.failures[0].path, "/m/b.msg");
  EXPECT_EQ(result.failures[0].cause.cause, StoreFailure::DamagedMessage);
  EXPECT_EQ(FailureLine(result.failures[0]), "Cannot import \"/m/b.msg\": not a message file");
  EXPECT_THAT(store.filesIn("m"), ElementsAre("/m/a.msg", "/m/c.msg"));
  // the captions and the bar advance for every file, converted or not
  EXPECT_THAT(observer.events,
              ElementsAre("started", "range", "file 0",
                          "Details : Converting - (1 of 3) file(s) | Importing Messages... from (m) | 33.333332",
                          "file 1",
                          "Details : Converting - (2 of 3) file(s) | Importing Messages... from (m) | 66.666664",
                          "file 2",
                          "Details : Converting - (3 of 3) file(s) | Importing Messages... from (m) | 100.000000",
                          "ended, 2 converted"));
}

TEST_F(ConvertTest, FailedPreparationsNameTheirCauseAndUndoNothing) {
  struct Case {
    List files;
    std::optional<StoreError> createFails;
    PreparationFailure cause;
    std::string line;
    bool storeMade;
  };
  const std::vector<Case> cases = {
      {{""}, {}, PreparationFailure::NoFiles, "The list holds no message file.", true},
      {{"/m/a.msg", "relative/b.msg"}, {}, PreparationFailure::NoFolder,
       "The file \"relative/b.msg\" lies in no folder below its drive.", true},
      {{"/a.msg"}, {}, PreparationFailure::NoFolder,
       "The file \"/a.msg\" lies in no folder below its drive.", true},
      {{"/m/a.msg"}, StoreError{StoreFailure::NotWritable, "Read-only file system"},
       PreparationFailure::StoreNotCreated,
       "The destination folder cannot be written: Read-only file system", false},
      // (a stamped name would take the next free number; a given one is kept)
      {{"/m/a.msg"}, StoreError{StoreFailure::AlreadyExists, "File exists"},
       PreparationFailure::StoreNotCreated, "The file \"/out/given.pst\" exists already.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    testing::MemoryStoreService fresh;
    if (c.createFails) fresh.createFails = [&](const std::string&) { return c.createFails; };
    NotingObserver noted;
    request.files = parvane::testing::Listed(c.files);
    request.storeFilePath =
        c.createFails && c.createFails->cause == StoreFailure::AlreadyExists ? "/out/given.pst" : "";
    const auto result = convert(request, fresh, noted);
    EXPECT_EQ(result.stage, RunResult::Stage::PreparationFailed);
    ASSERT_TRUE(result.preparation.has_value());
    EXPECT_EQ(result.preparation->cause, c.cause);
    EXPECT_EQ(PreparationCause(*result.preparation), c.line);
    EXPECT_EQ(fresh.attached, c.storeMade);  // a store made stays attached
    EXPECT_FALSE(fresh.sessionEnded);
    EXPECT_THAT(noted.events, ElementsAre("started", "range", "preparation failed: " + c.line,
                                          "ended, 0 converted"));
  }
}

TEST_F(ConvertTest, ThePreparationBoxKeepsItsFirstAndLastLinesAndNamesTheCause) {
  const PreparationError error{PreparationFailure::StoreNotCreated,
                               {StoreFailure::NotWritable, "Permission denied"}, "/ro/x.pst"};
  EXPECT_EQ(PreparationErrorText(error),
            "Outlook Session Creation Error !\r\n"
            "The destination folder cannot be written: Permission denied\r\n"
            "For more details visit this link : https://support.microsoft.com/en-us/office/"
            "create-an-outlook-profile-f544c1ba-3352-4b3b-be0b-8d42a540459d");
  EXPECT_STREQ(kPreparationErrorTitle, "Outlook Error");
}

TEST_F(ConvertTest, AStopLeavesTheRestOutAndFinishesTheStore) {
  // Asked before the one folder and the first file; at the second it says stop.
  observer.stopAfterQuestions = 2;
  const auto result = run({"/m/a.msg", "/m/b.msg", "/m/c.msg"});
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.converted, 1u);
  EXPECT_THAT(store.filesIn("m"), ElementsAre("/m/a.msg"));
  EXPECT_FALSE(store.attached);
  EXPECT_TRUE(store.sessionEnded);
}

// A stop that comes while a large message is written gives that message up:
// it is left out with the files after it, not reported as refused.
TEST_F(ConvertTest, AMessageGivenUpForAStopIsLeftOutNotRefused) {
  store.abandoned = {"/m/b.msg"};
  const auto result = run({"/m/a.msg", "/m/b.msg", "/m/c.msg"});
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.converted, 1u);
  EXPECT_THAT(result.failures, IsEmpty());
  EXPECT_THAT(store.filesIn("m"), ElementsAre("/m/a.msg"));
  EXPECT_FALSE(store.attached);
  EXPECT_TRUE(store.sessionEnded);
}

TEST_F(ConvertTest, AStopBeforeTheFoldersLeavesAnEmptyFinishedStore) {
  observer.stopAfterQuestions = 0;
  const auto result = run({"/m/a.msg"});
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.converted, 0u);
  EXPECT_THAT(store.folderPaths(), IsEmpty());
  EXPECT_FALSE(store.attached);
}

// The store fails in the middle of a run (a full disk): the run stops at
// once, and every file the store's file lacks is named.
TEST_F(ConvertTest, AStoreThatFailsStopsTheRunAndNamesEveryFileNotInIt) {
  store.commitEvery = 3;
  store.saveFailsFrom = 5;  // a, c, d and e are saved, the first three durably; f fails
  store.unreadable = {"/m/b.msg"};
  const List files = {"/m/a.msg", "/m/b.msg", "/m/c.msg", "/m/d.msg", "/m/e.msg",
                      "/m/f.msg", "/m/g.msg"};
  const auto result = run(files);
  ASSERT_TRUE(result.storeFailure.has_value());
  EXPECT_EQ(result.storeFailure->cause, StoreFailure::NoSpace);
  EXPECT_EQ(result.converted, 3u);
  List named;
  for (const auto& failure : result.failures) {
    named.push_back(failure.path + (failure.cause.cause == StoreFailure::StoreFailed ? " lost" : ""));
  }
  EXPECT_THAT(named, ElementsAre("/m/b.msg", "/m/e.msg lost", "/m/f.msg lost", "/m/g.msg lost"));
  EXPECT_EQ(result.converted + result.failures.size(), files.size());
  // nothing after the failure was tried
  EXPECT_EQ(std::count(store.calls.begin(), store.calls.end(), "importMessage /m/g.msg"), 0);
  // started, the range, five files done, f started, ended
  EXPECT_EQ(observer.events.size(), 2u + 2 * 5 + 1 + 1);
  // the cause once, at the top
  EXPECT_EQ(FailureReportText(result),
            "4 file(s) could not be converted:\r\n"
            "The store failed: No space left on device\r\n"
            "Cannot import \"/m/b.msg\": not a message file\r\n"
            "Not converted: \"/m/e.msg\"\r\n"
            "Not converted: \"/m/f.msg\"\r\n"
            "Not converted: \"/m/g.msg\"");
}

// The lookup steps over what it cannot find.
TEST(FindFolderByPath, ReturnsTheDeepestFolderReached) {
  testing::MemoryStoreService store;
  ASSERT_TRUE(store.createStore("/x.pst", StoreFormat::Default, "Store"));
  const auto top = store.topFolder().value();
  const auto mail = store.addFolder(top, "Mail", FolderKind::Mail).value();
  const auto work = store.addFolder(mail, "Work", FolderKind::Mail).value();
  const auto other = store.addFolder(top, "Work", FolderKind::Mail).value();
  EXPECT_EQ(FindFolderByPath(store, "\\Store"), top);
  EXPECT_EQ(FindFolderByPath(store, "\\store\\MAIL\\Work"), work);
  EXPECT_EQ(FindFolderByPath(store, "\\Store\\Mail\\"), mail);      // a closing "\" adds no name
  EXPECT_EQ(FindFolderByPath(store, "\\Store\\Missing\\Work"), other);  // one level higher
  EXPECT_EQ(FindFolderByPath(store, "\\Nobody\\Mail"), std::nullopt);
  EXPECT_EQ(FindFolderByPath(store, "\\"), std::nullopt);
  EXPECT_EQ(FindFolderByPath(store, "\\Store\\\\Work"), other);  // "\\" is an empty name, stepped over
}

// Another run may take a stamped name between two attempts: the run takes
// the first free number; any other refusal ends the search there.
TEST_F(ConvertTest, ATakenStampedNameGivesTheNextFreeNumberAndOtherRefusalsStop) {
  const std::string stamped = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";
  std::vector<std::string> tried;
  store.createFails = [&](const std::string& path) -> std::optional<StoreError> {
    tried.push_back(path);
    if (path == NumberedStorePath(stamped, 5)) return StoreError{StoreFailure::Io, "disk error"};
    if (tried.size() <= 3) return StoreError{StoreFailure::AlreadyExists, "File exists"};
    return std::nullopt;
  };
  RunResult result = run({"/m/a.msg"});
  EXPECT_EQ(result.storeFilePath, NumberedStorePath(stamped, 4));
  EXPECT_EQ(result.converted, 1u);
  EXPECT_THAT(tried, ElementsAre(stamped, NumberedStorePath(stamped, 2), NumberedStorePath(stamped, 3),
                                 NumberedStorePath(stamped, 4)));

  testing::MemoryStoreService busy;
  tried.clear();
  busy.createFails = [&](const std::string& path) -> std::optional<StoreError> {
    tried.push_back(path);
    if (path == NumberedStorePath(stamped, 3)) return StoreError{StoreFailure::Io, "disk error"};
    return StoreError{StoreFailure::AlreadyExists, "File exists"};
  };
  result = convert(request, busy, observer);
  ASSERT_TRUE(result.preparation.has_value());
  EXPECT_EQ(result.preparation->store.cause, StoreFailure::Io);
  EXPECT_EQ(result.storeFilePath, NumberedStorePath(stamped, 3));
  EXPECT_EQ(tried.size(), 3u);
}

// ---- a store-size limit: the memory store's file is 1000 bytes empty plus
// the sizes of the files saved in it (100 each unless told) ----

// The files of every finished store, "store: folder/file ..." in order.
List StoresAndFiles(const testing::MemoryStoreService& store) {
  List out;
  for (const auto& done : store.finished) {
    std::string line = done.path + ":";
    for (const auto& [folder, files] : done.files) {
      for (const auto& file : files) line += " " + folder + "=" + file;
    }
    out.push_back(line);
  }
  return out;
}

TEST_F(ConvertTest, ALimitFinishesAStoreBeforeTheMessageThatWouldPassItAndGoesOnInTheNextNumber) {
  request.maxStoreSize = 1300;  // exactly three messages of 100
  const std::string first = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";
  const auto result = run({"/m/A/1.msg", "/m/A/2.msg", "/m/B/3.msg", "/m/B/4.msg", "/m/A/5.msg",
                           "/m/A/Deep/6.msg", "/m/C/7.msg"});
  EXPECT_EQ(result.converted, 7u);
  EXPECT_THAT(result.failures, IsEmpty());
  // Each store holds only the folders its own messages need; the first was
  // made with every folder before the files.
  EXPECT_THAT(StoresAndFiles(store),
              ElementsAre(first + ": m\\A=/m/A/1.msg m\\A=/m/A/2.msg m\\B=/m/B/3.msg",
                          NumberedStorePath(first, 2) +
                              ": m\\A=/m/A/5.msg m\\A\\Deep=/m/A/Deep/6.msg m\\B=/m/B/4.msg",
                          NumberedStorePath(first, 3) + ": m\\C=/m/C/7.msg"));
  EXPECT_THAT(store.finished[0].folderPaths, ElementsAre("m", "m\\A", "m\\A\\Deep", "m\\B", "m\\C"));
  EXPECT_THAT(store.finished[1].folderPaths,
              ::testing::UnorderedElementsAre("m", "m\\A", "m\\A\\Deep", "m\\B"));
  ASSERT_EQ(result.stores.size(), 3u);
  EXPECT_EQ(result.storeFilePath, first);
  EXPECT_EQ(result.stores[0].path, first);
  EXPECT_EQ(result.stores[1].displayName, std::string(kStore) + " (2)");
  EXPECT_EQ(store.finished[1].displayName, result.stores[1].displayName);
  EXPECT_EQ(result.stores[0].messages + result.stores[1].messages + result.stores[2].messages, 7u);
  EXPECT_EQ(result.stores[0].bytes, 1300u);
  EXPECT_EQ(result.stores[2].bytes, 1100u);
  for (const auto& written : result.stores) EXPECT_FALSE(written.oversizedMessage);
  // Each file saved once; every item that was not saved (the ones that moved
  // on, those that asked for the size before their folder was made) dropped.
  EXPECT_EQ(std::count(store.calls.begin(), store.calls.end(), "save"), 7);
  EXPECT_EQ(store.pendingItems(), 0u);
  EXPECT_TRUE(store.sessionEnded);
  EXPECT_FALSE(store.attached);
}

TEST_F(ConvertTest, AMessageLargerThanTheLimitGoesAloneIntoAStoreOfItsOwn) {
  request.maxStoreSize = 1300;
  store.fileSizes = {{"/m/big.msg", 5000}, {"/m/first-big.msg", 400}};
  const auto result =
      run({"/m/first-big.msg", "/m/a.msg", "/m/b.msg", "/m/big.msg", "/m/c.msg", "/bad/d.msg"});
  EXPECT_EQ(result.converted, 6u);
  const std::string first = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";
  // A first message too large for an empty store stays in the first store, alone.
  EXPECT_THAT(StoresAndFiles(store),
              ElementsAre(first + ": m=/m/first-big.msg", NumberedStorePath(first, 2) + ": m=/m/a.msg m=/m/b.msg",
                          NumberedStorePath(first, 3) + ": m=/m/big.msg",
                          NumberedStorePath(first, 4) + ": bad=/bad/d.msg m=/m/c.msg"));
  ASSERT_EQ(result.stores.size(), 4u);
  EXPECT_TRUE(result.stores[0].oversizedMessage);
  EXPECT_FALSE(result.stores[1].oversizedMessage);
  EXPECT_TRUE(result.stores[2].oversizedMessage);
  EXPECT_EQ(result.stores[2].bytes, 6000u);
  EXPECT_FALSE(result.stores[3].oversizedMessage);
}

TEST_F(ConvertTest, FilesThatFailDoNotCountTowardsAStoreAndLeaveNoItem) {
  request.maxStoreSize = 1200;
  store.unreadable = {"/m/bad1.msg", "/m/bad2.msg"};
  const auto result = run({"/m/a.msg", "/m/bad1.msg", "/m/b.msg", "/m/bad2.msg", "/m/c.msg"});
  EXPECT_EQ(result.converted, 3u);
  ASSERT_EQ(result.failures.size(), 2u);
  EXPECT_EQ(result.stores.size(), 2u);
  EXPECT_EQ(result.stores[0].messages, 2u);
  EXPECT_EQ(store.pendingItems(), 0u);
}

// A numbered name taken already is passed over; a next store that cannot be
// created ends the run as a failed store, the finished ones keeping theirs.
TEST_F(ConvertTest, ANextStoreThatCannotBeCreatedEndsTheRunAndKeepsTheFinishedStores) {
  request.maxStoreSize = 1100;  // one message each
  const std::string first = "/out/OstrelMSGMessages6.12.26 9.5.07.pst";
  store.createFails = [&](const std::string& path) -> std::optional<StoreError> {
    if (path == NumberedStorePath(first, 2)) return StoreError{StoreFailure::AlreadyExists, "File exists"};
    if (path == NumberedStorePath(first, 4)) return StoreError{StoreFailure::NoSpace, "No space left on device"};
    return std::nullopt;
  };
  const auto result = run({"/m/a.msg", "/m/b.msg", "/m/c.msg", "/m/d.msg"});
  ASSERT_TRUE(result.storeFailure.has_value());
  EXPECT_EQ(result.storeFailure->cause, StoreFailure::NoSpace);
  EXPECT_NE(result.storeFailure->detail.find(NumberedStorePath(first, 4)), std::string::npos);
  EXPECT_EQ(result.converted, 2u);
  ASSERT_EQ(result.stores.size(), 2u);
  EXPECT_EQ(result.stores[1].path, NumberedStorePath(first, 3));
  EXPECT_EQ(result.stores[0].messages, 1u);
  EXPECT_EQ(result.stores[1].messages, 1u);
  List lost;
  for (const auto& failure : result.failures) lost.push_back(failure.path);
  EXPECT_THAT(lost, ElementsAre("/m/c.msg", "/m/d.msg"));
}

// Without a limit the run writes one store whatever its size, and tells
// which stores passed the size at which Outlook warns.
TEST_F(ConvertTest, OneStoreWithoutALimitAndThoseOutlookWarnsAboutAreNamed) {
  store.emptyStoreSize = kOutlookWarningStoreSize - 150;
  const auto result = run({"/m/a.msg", "/m/b.msg"});
  ASSERT_EQ(result.stores.size(), 1u);
  EXPECT_EQ(result.stores[0].bytes, kOutlookWarningStoreSize + 50);
  EXPECT_EQ(std::count(store.calls.begin(), store.calls.end(), "fitsWithin " + std::to_string(0)), 0);
  ASSERT_EQ(StoresPastOutlookWarning(result).size(), 1u);
  EXPECT_EQ(StoresPastOutlookWarning(result)[0]->path, result.storeFilePath);

  testing::MemoryStoreService small;
  small.emptyStoreSize = kOutlookWarningStoreSize - 200;
  EXPECT_THAT(StoresPastOutlookWarning(convert(request, small, observer)), IsEmpty());
}

}  // namespace
}  // namespace parvane::conversion
