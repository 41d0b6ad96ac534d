// The closing message naming the rows that could not be converted.
#include "conversion/failure_report.h"

#include <gtest/gtest.h>

namespace parvane::conversion {
namespace {

TEST(FailureReportText, NamesEachFileWithItsReason) {
  const std::string text = FailureReportText({{0, "/m/a.msg", "not a message file"},
                                              {2, "/m/c.msg", "Cannot import /m/c.msg: truncated"}});
  EXPECT_EQ(text,
            "2 file(s) could not be converted:\r\n"
            "/m/a.msg - not a message file\r\n"
            "Cannot import /m/c.msg: truncated");
}

TEST(FailureReportText, ListsTheFirstOnesAndCountsTheRest) {
  std::vector<RowFailure> failures;
  for (int n = 0; n < 12; ++n) failures.push_back({n, "/m/" + std::to_string(n) + ".msg", "bad"});
  const std::string text = FailureReportText(failures, 10);
  EXPECT_EQ(text.rfind("12 file(s) could not be converted:", 0), 0u);
  EXPECT_NE(text.find("/m/9.msg - bad"), std::string::npos);
  EXPECT_EQ(text.find("/m/10.msg"), std::string::npos);
  EXPECT_NE(text.find("\r\n... and 2 more."), std::string::npos);
}

}  // namespace
}  // namespace parvane::conversion
