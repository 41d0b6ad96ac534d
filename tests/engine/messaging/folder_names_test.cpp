#include "engine/messaging/folder_names.h"

#include <gtest/gtest.h>

namespace parvane::messaging {
namespace {

TEST(FolderNames, CompareWithoutLetterCase) {
  EXPECT_TRUE(sameFolderName(u"Mail", u"mAIL"));
  EXPECT_TRUE(sameFolderName(u"Ärger Über", u"äRGER üBER"));
  EXPECT_TRUE(sameFolderName(u"Почта", u"ПОЧТА"));
  EXPECT_TRUE(sameFolderName(u"Łódź", u"łÓDŹ"));
  EXPECT_TRUE(sameFolderName(u"αβγ", u"ΑΒΓ"));
  EXPECT_FALSE(sameFolderName(u"Mail", u"Mail2"));
  EXPECT_FALSE(sameFolderName(u"Mail", u"Maíl"));
  EXPECT_FALSE(sameFolderName(u"a÷", u"a×"));  // not a letter pair
}

TEST(FolderNames, Utf8DecodesEveryPlaneAndReplacesBrokenSequences) {
  EXPECT_EQ(utf8ToUtf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xA7"), std::u16string(u"Aé€\U0001F4E7"));
  EXPECT_EQ(utf8ToUtf16("a\xC3"), std::u16string(u"a\uFFFD"));
  EXPECT_EQ(utf8ToUtf16("\xE2\x28\xA1"), std::u16string(u"\uFFFD(\uFFFD"));
  EXPECT_EQ(utf8ToUtf16(""), std::u16string());
}

}  // namespace
}  // namespace parvane::messaging
