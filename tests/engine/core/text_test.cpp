// The shared text helpers: UTF-8 with its one rule for broken bytes, the two
// name upper-casings and where they part, and hex numbers.
#include "engine/core/text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

using namespace parvane;

namespace {

TEST(Utf8, DecodesEveryLengthAtItsBoundaries) {
  EXPECT_EQ(core::utf8ToUtf16(""), u"");
  EXPECT_EQ(core::utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));  // a real NUL stays
  EXPECT_EQ(core::utf8ToUtf16("\x7F\xC2\x80\xDF\xBF"), u"\u007F\u0080\u07FF");
  EXPECT_EQ(core::utf8ToUtf16("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"), u"\u0800\uD7FF\uE000\uFFFF");
  EXPECT_EQ(core::utf8ToUtf16("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
}

TEST(Utf8, EveryPlaneRoundTripsThroughUtf16) {
  for (char32_t plane = 0; plane <= 0x10; ++plane) {
    for (const char32_t low : {0x0000u, 0x0041u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu}) {
      const auto cp = static_cast<char32_t>(plane << 16 | low);
      std::u16string utf16;
      core::appendUtf16(utf16, cp);
      ASSERT_EQ(utf16.size(), plane == 0 ? 1u : 2u);
      const std::string utf8 = core::toUtf8(utf16);
      const std::size_t expectedLength = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
      EXPECT_EQ(utf8.size(), expectedLength) << std::hex << static_cast<std::uint32_t>(cp);
      const core::Utf8Char read = core::readUtf8Char(utf8, 0);
      EXPECT_TRUE(read.wellFormed);
      EXPECT_EQ(read.codePoint, cp);
      EXPECT_EQ(read.length, utf8.size());
      EXPECT_EQ(core::utf8ToUtf16(utf8), utf16);
    }
  }
}

TEST(Utf8, EachMaximalBrokenPartIsOneReplacement) {
  EXPECT_EQ(core::utf8ToUtf16("a\xC3"), u"a\uFFFD");                       // cut short at the end
  EXPECT_EQ(core::utf8ToUtf16("\xF0\x9F\x98"), u"\uFFFD");                 // three bytes that fitted: one part
  EXPECT_EQ(core::utf8ToUtf16("\xF0\x9F\x98z"), u"\uFFFDz");               // the byte that did not fit is read again
  EXPECT_EQ(core::utf8ToUtf16("\xE2\x28\xA1"), u"\uFFFD(\uFFFD");          // a lone continuation byte
  EXPECT_EQ(core::utf8ToUtf16("\x80\xBF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(core::utf8ToUtf16("\xF5\xF8\xFE\xFF"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // never a lead byte
  EXPECT_EQ(core::utf8ToUtf16("\xE1\x80\xE2\x82\xAC"), u"\uFFFD\u20AC");   // cut short by the next lead
}

TEST(Utf8, OverlongFormsSurrogatesAndPastTheLastPlaneAreBroken) {
  // None of these may give a NUL, a '/' or a lone surrogate: each byte after
  // a lead that cannot start them is a part of its own.
  EXPECT_EQ(core::utf8ToUtf16("a\xC0\x80" "b"), u"a\uFFFD\uFFFDb");
  EXPECT_EQ(core::utf8ToUtf16("\xC1\xBF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(core::utf8ToUtf16("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(core::utf8ToUtf16("\xF0\x8F\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(core::utf8ToUtf16("x\xED\xA0\x80y"), u"x\uFFFD\uFFFD\uFFFDy");
  EXPECT_EQ(core::utf8ToUtf16("\xED\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(core::utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");

  const core::Utf8Char overlong = core::readUtf8Char("\xC0\x80", 0);
  EXPECT_FALSE(overlong.wellFormed);
  EXPECT_EQ(overlong.codePoint, core::kReplacementCharacter);
  EXPECT_EQ(overlong.length, 1u);
  const core::Utf8Char cut = core::readUtf8Char("z\xF0\x9F\x98", 1);
  EXPECT_FALSE(cut.wellFormed);
  EXPECT_EQ(cut.length, 3u);
}

TEST(Utf8, EncodingReplacesUnpairedSurrogates) {
  EXPECT_EQ(core::toUtf8(u"a\u00E9\u4E16\U0001F600"), "a\xC3\xA9\xE4\xB8\x96\xF0\x9F\x98\x80");
  EXPECT_EQ(core::toUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");       // lead without trail
  EXPECT_EQ(core::toUtf8(std::u16string{u'x', 0xDC00}), "x\xEF\xBF\xBD");       // trail without lead
  EXPECT_EQ(core::toUtf8(std::u16string{0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD");  // the wrong order
  EXPECT_EQ(core::toUtf8(std::u16string{0xD83D}), "\xEF\xBF\xBD");              // cut at the end
}

TEST(NameCase, BothRulesUpperCaseTheLetterPairsOfTheCommonScripts) {
  struct Pair {
    char16_t lower, upper;
  };
  const Pair pairs[] = {
      {u'a', u'A'}, {u'z', u'Z'}, {u'\u00E0', u'\u00C0'}, {u'\u00FE', u'\u00DE'}, {u'\u00FF', u'\u0178'},
      {u'\u0101', u'\u0100'}, {u'\u0137', u'\u0136'}, {u'\u013A', u'\u0139'}, {u'\u0148', u'\u0147'},
      {u'\u014B', u'\u014A'}, {u'\u0142', u'\u0141'}, {u'\u0177', u'\u0176'}, {u'\u017A', u'\u0179'},
      {u'\u017E', u'\u017D'}, {u'\u03B1', u'\u0391'}, {u'\u03C9', u'\u03A9'}, {u'\u0430', u'\u0410'},
      {u'\u044F', u'\u042F'}, {u'\u0450', u'\u0400'}, {u'\u045F', u'\u040F'},
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(core::upperCaseCompoundFileName(p.lower), p.upper) << std::hex << int{p.lower};
    EXPECT_EQ(core::upperCaseFolderName(p.lower), p.upper) << std::hex << int{p.lower};
    EXPECT_EQ(core::upperCaseCompoundFileName(p.upper), p.upper) << std::hex << int{p.upper};
    EXPECT_EQ(core::upperCaseFolderName(p.upper), p.upper) << std::hex << int{p.upper};
  }
  // Not letters, or letters without a capital: left alone by both.
  for (const char16_t c : {u'0', u'_', u'\u00F7', u'\u00D7', u'\u00DF', u'\u0138', u'\u0149', u'\u0130',
                           u'\u4E2D', u'\uFFFD', char16_t{0xD83D}}) {
    EXPECT_EQ(core::upperCaseCompoundFileName(c), c) << std::hex << int{c};
    EXPECT_EQ(core::upperCaseFolderName(c), c) << std::hex << int{c};
  }
}

TEST(NameCase, CompoundFileNamesFollowSimpleUpperCasingWhereFolderNamesKeepTheLetter) {
  // The four letters whose simple upper case is another letter's capital.
  struct Difference {
    char16_t letter, compoundFileUpper;
  };
  for (const Difference d : {Difference{u'\u0131', u'I'}, Difference{u'\u017F', u'S'},
                             Difference{u'\u00B5', u'\u039C'}, Difference{u'\u03C2', u'\u03A3'}}) {
    EXPECT_EQ(core::upperCaseCompoundFileName(d.letter), d.compoundFileUpper) << std::hex << int{d.letter};
    EXPECT_EQ(core::upperCaseFolderName(d.letter), d.letter) << std::hex << int{d.letter};
  }
}

TEST(Hex, NumbersAndDigits) {
  EXPECT_EQ(core::hex(0), "0x0");
  EXPECT_EQ(core::hex(0x21), "0x21");
  EXPECT_EQ(core::hex(0xFFFFFFFFFFFFFFFFull), "0xFFFFFFFFFFFFFFFF");
  EXPECT_EQ(core::hex(0x1F, 8), "0x0000001F");
  EXPECT_EQ(core::hex(0x123456789, 8), "0x123456789");  // never cut
  std::string name = "__substg1.0_";
  core::appendHexDigits(name, 0x0037001F, 8);
  EXPECT_EQ(name, "__substg1.0_0037001F");
  std::array<char, 4> four{};
  core::writeHexDigits(four, 0xABCDE);  // the low digits that fit
  EXPECT_EQ(std::string(four.begin(), four.end()), "BCDE");
  const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0x00, 0x0A};
  EXPECT_EQ(core::hexBytes(signature), "D0CF11E0000A");
  EXPECT_EQ(core::hexBytes({}), "");
}

}  // namespace
