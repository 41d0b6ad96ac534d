// The name a new store is created under when its stamped name is taken.
#include "conversion/store_file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace parvane::conversion {
namespace {

TEST(NumberedStorePath, TheNumberGoesBeforeTheExtension) {
  EXPECT_EQ(NumberedStorePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst", 1),
            "/out/OstrelMSGMessages6.12.26 9.5.07.pst");
  EXPECT_EQ(NumberedStorePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst", 2),
            "/out/OstrelMSGMessages6.12.26 9.5.07 (2).pst");
  EXPECT_EQ(NumberedStorePath("C:\\out.d\\x.pst", 12), "C:\\out.d\\x (12).pst");
  EXPECT_EQ(NumberedStorePath("/out.d/x", 3), "/out.d/x (3)");  // a dot in a folder is no extension
}

}  // namespace
}  // namespace parvane::conversion
