// A row's relative folder under both platform rules, and the time stamp.
#include "conversion/relative_folder.h"

#include <gtest/gtest.h>

#include "conversion/conversion_error.h"
#include "conversion/time_stamp.h"

namespace parvane::conversion {
namespace {

TEST(RelativeFolderWindows, DropsDriveAndFileName) {
  EXPECT_EQ(RelativeFolderWindows("C:\\Mail\\Work\\a.msg"), "Mail\\Work");
  EXPECT_EQ(RelativeFolderWindows("D:\\Mail\\B\\z.msg"), "Mail\\B");
  EXPECT_EQ(RelativeFolderWindows("  C:\\Mail\\a.msg  "), "Mail");
  EXPECT_EQ(RelativeFolderWindows("C:\\Mail\\"), "Mail");  // a closing "\" leaves no file name
}

TEST(RelativeFolderWindows, TakesTheTextUpToASecondColon) {
  EXPECT_EQ(RelativeFolderWindows("C:\\Mail\\Re: news\\a.msg"), "Mail");
}

TEST(RelativeFolderWindows, RowsWithoutADriveOrFolderRaise) {
  EXPECT_THROW(RelativeFolderWindows(""), ConversionError);  // the empty list's row
  EXPECT_THROW(RelativeFolderWindows("\\\\server\\share\\a.msg"), ConversionError);
  EXPECT_THROW(RelativeFolderWindows("C:\\a.msg"), ConversionError);  // in the drive's root
  EXPECT_THROW(RelativeFolderWindows("C:"), ConversionError);
  EXPECT_THROW(RelativeFolderWindows("C:\\\\a.msg"), ConversionError);
}

TEST(RelativeFolderPosix, ReadsSlashAsTheStoreSeparator) {
  EXPECT_EQ(RelativeFolderPosix("/srv/ann/Mail/Work/a.msg"), "srv\\ann\\Mail\\Work");
  EXPECT_EQ(RelativeFolderPosix(" /data/a.msg "), "data");
  EXPECT_EQ(RelativeFolderPosix("//srv///ann/a.msg"), "srv\\ann");
  EXPECT_EQ(RelativeFolderPosix("/a\\/b//c.msg"), "a\\\\b");  // a name's own backslash is kept
}

TEST(RelativeFolderPosix, RowsOutsideAFolderRaise) {
  EXPECT_THROW(RelativeFolderPosix(""), ConversionError);
  EXPECT_THROW(RelativeFolderPosix("/a.msg"), ConversionError);  // directly in the root
  EXPECT_THROW(RelativeFolderPosix("//a.msg"), ConversionError);
  EXPECT_THROW(RelativeFolderPosix("Mail/a.msg"), ConversionError);  // not from the root
}

TEST(PathRules, TheNativeRuleIsThePlatformsOwn) {
#ifdef _WIN32
  EXPECT_EQ(kNativePathRules.relativeFolder, &RelativeFolderWindows);
  EXPECT_EQ(kNativePathRules.separator, '\\');
#else
  EXPECT_EQ(kNativePathRules.relativeFolder, &RelativeFolderPosix);
  EXPECT_EQ(kNativePathRules.separator, '/');
#endif
}

TEST(FormatTimeStamp, DropsLeadingZerosButOfYearAndSeconds) {
  EXPECT_EQ(FormatTimeStamp({2026, 12, 6, 9, 5, 7}), "6.12.26 9.5.07");
  EXPECT_EQ(FormatTimeStamp({2000, 1, 1, 0, 0, 0}), "1.1.00 0.0.00");
  EXPECT_EQ(FormatTimeStamp({2105, 10, 31, 23, 59, 59}), "31.10.05 23.59.59");
}

}  // namespace
}  // namespace parvane::conversion
