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
  // overlong forms, surrogates and code points past U+10FFFF are broken too:
  // no NUL and no lone surrogate may reach a stored name
  EXPECT_EQ(utf8ToUtf16("a\xC0\x80" "b"), std::u16string(u"a\uFFFD\uFFFD" "b"));
  EXPECT_EQ(utf8ToUtf16("\xE0\x80\xAF"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(utf8ToUtf16("x\xED\xA0\x80y"), std::u16string(u"x\uFFFD\uFFFD\uFFFDy"));
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(utf8ToUtf16("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"), std::u16string(u"\uD7FF\uE000\U0010FFFF"));
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98"), std::u16string(u"\uFFFD"));  // cut short: one replacement
}

}  // namespace
}  // namespace parvane::messaging
