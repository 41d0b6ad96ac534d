// The closing message naming the files that could not be converted.
#include "conversion/failure_report.h"

#include <gtest/gtest.h>

namespace parvane::conversion {
namespace {

TEST(FailureReportText, NamesEachFileWithWhatCouldNotBeDoneAndWhy) {
  const std::string text =
      FailureReportText({{0, "/m/a.msg", {StoreFailure::DamagedMessage, "not a message file"}},
                         {2, "/m/c.msg", {StoreFailure::NoSpace, "No space left on device"}}});
  EXPECT_EQ(text,
            "2 file(s) could not be converted:\r\n"
            "Cannot import \"/m/a.msg\": not a message file\r\n"
            "Cannot save the message imported from \"/m/c.msg\": No space left on device");
}

TEST(FailureReportText, ListsTheFirstOnesAndCountsTheRest) {
  std::vector<ImportError> failures;
  for (std::size_t n = 0; n < 12; ++n) {
    failures.push_back({n, "/m/" + std::to_string(n) + ".msg", {StoreFailure::DamagedMessage, "bad"}});
  }
  const std::string text = FailureReportText(failures, 10);
  EXPECT_EQ(text.rfind("12 file(s) could not be converted:", 0), 0u);
  EXPECT_NE(text.find("\"/m/9.msg\": bad"), std::string::npos);
  EXPECT_EQ(text.find("/m/10.msg"), std::string::npos);
  EXPECT_NE(text.find("\r\n... and 2 more."), std::string::npos);
}

TEST(FailureReportText, AStoreThatFailedIsToldOnceBeforeTheFilesItLacks) {
  RunResult result;
  result.storeFailure = StoreError{StoreFailure::NoSpace, "No space left on device"};
  result.failures = {{3, "/m/d.msg", {StoreFailure::StoreFailed, {}}},
                     {4, "/m/e.msg", {StoreFailure::StoreFailed, {}}}};
  const std::string text = FailureReportText(result);
  EXPECT_EQ(text.rfind("2 file(s) could not be converted:\r\n" + StoreFailureLine(*result.storeFailure) +
                           "\r\nNot converted: \"/m/d.msg\"\r\nNot converted: \"/m/e.msg\"",
                       0),
            0u)
      << text;
  EXPECT_EQ(text.find("No space", text.find("/m/d.msg")), std::string::npos);  // the cause once
}

}  // namespace
}  // namespace parvane::conversion
