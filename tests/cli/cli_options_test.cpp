// Reading the command line, and the progress line.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_line.h"

namespace parvane::cli {
namespace {

using Args = std::vector<std::string>;

TEST(ParseCommandLine, ReadsOutputSourcesAndFlagsInAnyOrder) {
  auto options = ParseCommandLine({"a.msg", "-o", "out", "--quiet", "dir"});
  EXPECT_EQ(options.output, "out");
  EXPECT_EQ(options.sources, (Args{"a.msg", "dir"}));
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(ParseCommandLine({"-oout", "a"}).output, "out");
  EXPECT_EQ(ParseCommandLine({"--output=x.pst", "a"}).output, "x.pst");
  EXPECT_EQ(ParseCommandLine({"--output", "x.pst", "a"}).output, "x.pst");
  EXPECT_EQ(ParseCommandLine({"-o", "o", "--", "-q", "-"}).sources, (Args{"-q", "-"}));
  EXPECT_EQ(ParseCommandLine({"-o", "o", "a"}).report, "");
  EXPECT_EQ(ParseCommandLine({"--report", "r.jsonl", "-o", "o", "a"}).report, "r.jsonl");
  EXPECT_EQ(ParseCommandLine({"-o", "o", "--report=-q", "a"}).report, "-q");
}

TEST(ParseCommandLine, HelpAndVersionNeedNothingElse) {
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"-h"}).help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
}

TEST(ParseCommandLine, RefusesIncompleteOrUnknownCommandLines) {
  for (const Args& args : std::vector<Args>{{},
                                            {"a.msg"},
                                            {"-o", "out"},
                                            {"-o"},
                                            {"a.msg", "-o"},
                                            {"-o", "x", "-o", "y", "a"},
                                            {"--output=", "a"},
                                            {"-x", "-o", "out", "a"},
                                            {"--outputs", "out", "a"},
                                            {"-o", "o", "a", "--report"},
                                            {"-o", "o", "--report=", "a"},
                                            {"-o", "o", "--report", "r", "--report=s", "a"}}) {
    EXPECT_THROW(ParseCommandLine(args), UsageError) << ::testing::PrintToString(args);
  }
}

TEST(ParseStoreSize, ReadsBytesAndPowersOf1024WithOrWithoutB) {
  EXPECT_EQ(ParseStoreSize("500M"), 500ull << 20);
  EXPECT_EQ(ParseStoreSize("20G"), 20ull << 30);
  EXPECT_EQ(ParseStoreSize("20g"), 20ull << 30);
  EXPECT_EQ(ParseStoreSize("20GB"), 20ull << 30);
  EXPECT_EQ(ParseStoreSize("20GiB"), 20ull << 30);
  EXPECT_EQ(ParseStoreSize("1.5G"), 3ull << 29);
  EXPECT_EQ(ParseStoreSize("2048K"), 2ull << 20);
  EXPECT_EQ(ParseStoreSize("1T"), 1ull << 40);
  EXPECT_EQ(ParseStoreSize("1048576"), 1ull << 20);
  EXPECT_EQ(ParseCommandLine({"--max-store-size=3M", "-o", "o", "a"}).maxStoreSize, 3ull << 20);
  EXPECT_EQ(ParseCommandLine({"-o", "o", "a"}).maxStoreSize, 0u);
}

TEST(ParseStoreSize, RefusesWhatIsNotASizeAndSizesBelowOneMegabyte) {
  for (const char* text : {"", "M", "5 M", "5MBB", "5Q", "-1G", "1.5", "0x10M", "1048575", "0.9M",
                           "16777216T", "18446744073709551616"}) {
    EXPECT_THROW(ParseStoreSize(text), UsageError) << text;
  }
}

TEST(ShowSize, OneDecimalInTheLargestUnitBelow1024) {
  EXPECT_EQ(ShowSize(1000), "1000 bytes");
  EXPECT_EQ(ShowSize(1536), "1.5 KB");
  EXPECT_EQ(ShowSize(20ull << 30), "20 GB");
  EXPECT_EQ(ShowSize(48640ull << 20), "47.5 GB");
}

TEST(ProgressLine, FillsTwentyMarksByPercent) {
  EXPECT_EQ(ProgressLine(50.0f, 2, 4), "[##########          ]  50%  2 of 4");
  EXPECT_EQ(ProgressLine(100.0f, 3, 3), "[####################] 100%  3 of 3");
  EXPECT_EQ(ProgressLine(33.333f, 1, 3), "[######              ]  33%  1 of 3");
}

TEST(ProgressLine, RateAndTimeLeftFollowTheAverageSoFar) {
  EXPECT_EQ(RateAndTimeLeft(2, 4, 1.0), "  2.0 files/s  0:01 left");
  EXPECT_EQ(RateAndTimeLeft(300, 1200, 2.0), "  150 files/s  0:06 left");
  EXPECT_EQ(RateAndTimeLeft(1, 10000, 2.0), "  0.5 files/s  5:33:18 left");
  EXPECT_EQ(RateAndTimeLeft(3, 3, 0.25), "  12 files/s  0:00 left");
  // Part of a second left still shows as a second, so 0:00 only at the end.
  EXPECT_EQ(RateAndTimeLeft(100, 101, 10.0), "  10 files/s  0:01 left");
  // Nothing measurable yet: no rate rather than an endless or infinite one.
  EXPECT_EQ(RateAndTimeLeft(0, 4, 3.0), "");
  EXPECT_EQ(RateAndTimeLeft(1, 4, 0.0), "");
}

TEST(ProgressLine, RedrawnLineBlanksWhatALongerOneLeft) {
  std::ostringstream terminal;
  double now = 50.0;  // the run starts here; each file takes a second
  ProgressDisplay display(terminal, 601, [&] { return now; });
  now += 1;
  display.update(0.2f);
  const std::string first = terminal.str();
  EXPECT_EQ(first, "\r[                    ]   0%  1 of 601  1.0 files/s  10:00 left");
  now += 1;
  display.update(0.3f);
  display.finish();
  EXPECT_EQ(terminal.str().substr(first.size()),
            "\r[                    ]   0%  2 of 601  1.0 files/s  9:59 left \n");
}

}  // namespace
}  // namespace parvane::cli
