// The report's lines: JSON that any reader takes, whatever the names hold.
#include "cli/run_report.h"

#include <gtest/gtest.h>

namespace parvane::cli {
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
  EXPECT_EQ(ReportLine({"/m/a.msg", "m", true, "", 20480}),
            R"({"path":"/m/a.msg","folder":"m","outcome":"converted","reason":null,"size":20480})");
  EXPECT_EQ(ReportLine({"/a.msg", "", false, "no folder", std::nullopt}),
            R"({"path":"/a.msg","folder":null,"outcome":"refused","reason":"no folder","size":null})");
  RunSummary summary{"/out/x.pst", 2, 1, true, {"/m/locked"}, 1.5, 143};
  EXPECT_EQ(SummaryLine(summary),
            R"({"summary":true,"store":"/out/x.pst","listed":3,"converted":2,"refused":1,)"
            R"("stopped":true,"unreadable_folders":["/m/locked"],"seconds":1.500,"exit_status":143})");
  EXPECT_EQ(SummaryLine({}),
            R"({"summary":true,"store":null,"listed":0,"converted":0,"refused":0,)"
            R"("stopped":false,"unreadable_folders":[],"seconds":0.000,"exit_status":0})");
}

}  // namespace
}  // namespace parvane::cli
