// Reading the command line, and the progress line.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

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
                                            {"--outputs", "out", "a"}}) {
    EXPECT_THROW(ParseCommandLine(args), UsageError) << ::testing::PrintToString(args);
  }
}

TEST(ProgressLine, FillsTwentyMarksByPercent) {
  EXPECT_EQ(ProgressLine(50.0f, 2, 4), "[##########          ]  50%  2 of 4");
  EXPECT_EQ(ProgressLine(100.0f, 3, 3), "[####################] 100%  3 of 3");
  EXPECT_EQ(ProgressLine(33.333f, 1, 3), "[######              ]  33%  1 of 3");
}

}  // namespace
}  // namespace parvane::cli
