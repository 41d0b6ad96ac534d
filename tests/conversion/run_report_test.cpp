// The report's lines: JSON that any reader takes, whatever the names hold.
#include "conversion/run_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "support/memory_store_service.h"
#include "support/path_lists.h"

namespace parvane::conversion {
namespace {

TEST(JsonString, EscapesWhatJsonReservesAndKeepsOtherText) {
  EXPECT_EQ(JsonString(R"(C:\Mail\"Q3".msg)"), R"("C:\\Mail\\\"Q3\".msg")");
  EXPECT_EQ(JsonString("a\tb\nc\rd\x01" "e\x1f"), R"("a\tb\nc\rd\u0001e\u001f")");
  EXPECT_EQ(JsonString("/m/\xE4\xB8\xAD\xE6\x96\x87/\xF0\x9F\x93\xA7.msg"),
            "\"/m/\xE4\xB8\xAD\xE6\x96\x87/\xF0\x9F\x93\xA7.msg\"");
  EXPECT_EQ(JsonString(""), "\"\"");
}

TEST(JsonString, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  // A Latin-1 name on a POSIX disk, a lone continuation byte, a cut sequence.
  EXPECT_EQ(JsonString("caf\xE9.msg"), "\"caf\xEF\xBF\xBD.msg\"");
  EXPECT_EQ(JsonString("\x80" "x"), "\"\xEF\xBF\xBDx\"");
  EXPECT_EQ(JsonString("x\xE4\xB8"), "\"x\xEF\xBF\xBD\"");
}

TEST(RunReport, LinesNameEveryFieldWithNullForWhatIsMissing) {
  EXPECT_EQ(ReportLine({"/m/a.msg", "m", true, "", 20480, "/out/x.pst"}),
            R"({"path":"/m/a.msg","folder":"m","store":"/out/x.pst","outcome":"converted","reason":null,"size":20480})");
  EXPECT_EQ(ReportLine({"/a.msg", "", false, "no folder", std::nullopt, {}}),
            R"({"path":"/a.msg","folder":null,"store":null,"outcome":"refused","reason":"no folder","size":null})");
  RunSummary summary{"/out/x.pst", {"/out/x.pst", "/out/x (2).pst"}, 2, 1, true, "No space left on device", {"/m/locked", "/m/x"},
                     {"/m/gone.msg"}, 1.5, 143};
  EXPECT_EQ(SummaryLine(summary),
            R"({"summary":true,"store":"/out/x.pst","stores":["/out/x.pst","/out/x (2).pst"],"listed":3,"converted":2,"refused":1,)"
            R"("stopped":true,"store_failure":"No space left on device",)"
            R"("unreadable_folders":["/m/locked","/m/x"],"skipped_links":["/m/gone.msg"],)"
            R"("seconds":1.500,"exit_status":143})");
  // A window's run has no exit status.
  EXPECT_EQ(SummaryLine({}),
            R"({"summary":true,"store":null,"stores":[],"listed":0,"converted":0,"refused":0,)"
            R"("stopped":false,"store_failure":null,"unreadable_folders":[],"skipped_links":[],)"
            R"("seconds":0.000,"exit_status":null})");
}


// The outcomes of real runs over the store held in memory: the files the
// report calls converted are exactly those the store holds, however the run ended.
class RunOutcomesTest : public ::testing::Test {
 protected:
  class StopAfter : public RunObserver {
   public:
    bool stopRequested() override { return ++questions > stopAfterQuestions; }
    int questions = 0;
    int stopAfterQuestions = 1 << 30;
  };

  std::vector<FileOutcome> run(const std::vector<std::string>& files) {
    request.files = parvane::testing::Listed(files);
    result = convert(request, store, observer);
    return RunOutcomes(request, result, [](const std::string& path) -> std::optional<std::uint64_t> {
      if (path.find("fifo") != std::string::npos) return std::nullopt;
      return path.size();
    });
  }
  static std::vector<std::string> convertedOf(const std::vector<FileOutcome>& files) {
    std::vector<std::string> converted;
    for (const auto& file : files) {
      if (file.converted) converted.push_back(file.path);
    }
    return converted;
  }
  static std::vector<std::string> sorted(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  std::vector<std::string> inTheStore() const {
    std::vector<std::string> held;
    for (const auto& message : store.allMessages()) held.push_back(message.file);
    std::sort(held.begin(), held.end());
    return held;
  }

  ConversionRequest request{{}, "/out", {}, kPosixPathRules,
                            [] { return LocalTime{2026, 12, 6, 9, 5, 7}; }};
  testing::MemoryStoreService store;
  StopAfter observer;
  RunResult result;
};

TEST_F(RunOutcomesTest, EachFileHasItsFolderSizeAndTheReasonItWasRefused) {
  store.unreadable = {"/m/fifo.msg"};
  const auto files = run({"/m/a.msg", " /m/W/fifo.msg", "/m/fifo.msg"});
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(ReportLine(files[0]),
            R"({"path":"/m/a.msg","folder":"m","store":"/out/OstrelMSGMessages6.12.26 9.5.07.pst","outcome":"converted","reason":null,"size":8})");
  // blanks trimmed, as the run reads the path
  EXPECT_EQ(ReportLine(files[1]),
            R"({"path":"/m/W/fifo.msg","folder":"m\\W","store":"/out/OstrelMSGMessages6.12.26 9.5.07.pst","outcome":"converted","reason":null,"size":null})");
  EXPECT_EQ(ReportLine(files[2]),
            R"({"path":"/m/fifo.msg","folder":"m","store":null,"outcome":"refused","reason":"not a message file","size":null})");
  const RunSummary summary = SummaryOf(result, files);
  EXPECT_EQ(summary.store, "/out/OstrelMSGMessages6.12.26 9.5.07.pst");
  EXPECT_EQ(summary.converted, 2u);
  EXPECT_EQ(summary.refused, 1u);
  EXPECT_FALSE(summary.stopped);
  EXPECT_EQ(sorted(convertedOf(files)), inTheStore());
}

TEST_F(RunOutcomesTest, AStoppedRunLeavesTheRestOutAfterItsFailures) {
  store.unreadable = {"/m/b.msg"};
  observer.stopAfterQuestions = 4;  // the folder, a, b and c; d is not tried
  const auto files = run({"/m/a.msg", "/m/b.msg", "/m/c.msg", "/m/d.msg", "/m/e.msg"});
  std::vector<std::string> reasons;
  for (const auto& file : files) reasons.push_back(file.converted ? "converted" : file.reason);
  EXPECT_THAT(reasons, ::testing::ElementsAre("converted", "not a message file", "converted",
                                              kLeftOutReason, kLeftOutReason));
  EXPECT_EQ(sorted(convertedOf(files)), inTheStore());
  EXPECT_TRUE(SummaryOf(result, files).stopped);
}

TEST_F(RunOutcomesTest, AFailedStoreCountsOnlyWhatItsFileKeeps) {
  store.commitEvery = 3;
  store.saveFailsFrom = 5;  // a, c, d and e saved, the first three durably; f fails
  store.unreadable = {"/m/b.msg"};
  const auto files =
      run({"/m/a.msg", "/m/b.msg", "/m/c.msg", "/m/d.msg", "/m/e.msg", "/m/f.msg", "/m/g.msg"});
  EXPECT_THAT(convertedOf(files), ::testing::ElementsAre("/m/a.msg", "/m/c.msg", "/m/d.msg"));
  EXPECT_EQ(files[4].reason, "the store failed: No space left on device");
  EXPECT_EQ(files[6].reason, "the store failed: No space left on device");
  const RunSummary summary = SummaryOf(result, files);
  EXPECT_EQ(summary.storeFailure, "No space left on device");
  EXPECT_EQ(summary.converted, 3u);
  EXPECT_EQ(summary.refused, 4u);
  // The memory store keeps what was saved; its file keeps the durable part.
  ASSERT_GE(store.savedFiles.size(), 3u);
  EXPECT_EQ(convertedOf(files), std::vector<std::string>(store.savedFiles.begin(), store.savedFiles.begin() + 3));
}

// A size limit spreads the run over numbered stores: each file names the one
// that holds its message.
TEST_F(RunOutcomesTest, EachConvertedFileNamesTheStoreThatHoldsIt) {
  request.maxStoreSize = 1300;  // three messages of 100 a store
  store.unreadable = {"/m/B/3.msg"};
  const auto files = run({"/m/A/1.msg", "/m/A/2.msg", "/m/B/3.msg", "/m/B/4.msg", "/m/A/5.msg",
                          "/m/A/6.msg", "/m/C/7.msg"});
  ASSERT_EQ(result.stores.size(), 2u);
  std::map<std::string, std::vector<std::string>> reported, held;
  for (const auto& file : files) {
    if (file.converted) reported[file.store].push_back(file.path);
  }
  for (const auto& finished : store.finished) {
    for (const auto& [folder, paths] : finished.files) {
      held[finished.path].insert(held[finished.path].end(), paths.begin(), paths.end());
    }
  }
  for (auto* side : {&reported, &held}) {
    for (auto& [path, paths] : *side) std::sort(paths.begin(), paths.end());
  }
  EXPECT_EQ(reported, held);
  EXPECT_EQ(files[2].store, "");
  const RunSummary summary = SummaryOf(result, files);
  EXPECT_THAT(summary.stores, ::testing::ElementsAre(result.stores[0].path, result.stores[1].path));
  EXPECT_EQ(summary.store, result.stores[0].path);
}

TEST_F(RunOutcomesTest, AStoreNotMadeRefusesEveryFileWithTheCause) {
  store.createFails = [](const std::string&) {
    return std::optional<StoreError>(StoreError{StoreFailure::NotWritable, "Read-only file system"});
  };
  const auto files = run({"/m/a.msg", "/m/b.msg"});
  ASSERT_EQ(files.size(), 2u);
  for (const auto& file : files) {
    EXPECT_FALSE(file.converted);
    EXPECT_EQ(file.reason, "The destination folder cannot be written: Read-only file system");
  }
  const RunSummary summary = SummaryOf(result, files);
  EXPECT_EQ(summary.store, "");
  std::ostringstream written;
  WriteReport(written, files, summary);
  const std::string text = written.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  EXPECT_NE(text.find(R"({"summary":true,"store":null,"stores":[],"listed":2,"converted":0,"refused":2,)"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace parvane::conversion
