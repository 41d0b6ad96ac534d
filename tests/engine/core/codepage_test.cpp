// Code-page conversion: the built-in decoders, the platform converter for the
// code pages real message files declare, and replacement of bad bytes.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/codepage.h"

using namespace parvane;

namespace {

core::Bytes bytes(std::string_view s) { return core::Bytes(s.begin(), s.end()); }

}  // namespace

TEST(CodePage, Windows1252HighRange) {
  EXPECT_EQ(core::decodeWindows1252(bytes("\x80\x8A\x9F\xA0\xE9\xFF")), u"\u20AC\u0160\u0178\u00A0\u00E9\u00FF");
  // Bytes the code page leaves undefined keep their value, as Windows does.
  EXPECT_EQ(core::decodeWindows1252(bytes("\x81\x8D\x90")), u"\u0081\u008D\u0090");
}

TEST(CodePage, Utf8CodePageDecodesByTheOneRuleForBrokenBytes) {
  // Message text declared as UTF-8 decodes as names do: an overlong form is
  // two broken parts, an encoded surrogate three.
  const auto& cp = core::platformCodePages();
  EXPECT_EQ(cp.decode(bytes("a\xC3\xA9\xF0\x9F\x98\x80"), core::codepage::Utf8), u"a\u00E9\U0001F600");
  EXPECT_EQ(cp.decode(bytes("\xC0\xAFx"), core::codepage::Utf8), u"\uFFFD\uFFFDx");
  EXPECT_EQ(cp.decode(bytes("\xED\xA0\x80y"), core::codepage::Utf8), u"\uFFFD\uFFFD\uFFFDy");
}

TEST(CodePage, Utf16le) {
  EXPECT_EQ(core::fromUtf16le(core::Bytes{'h', 0, 0x16, 0x4E, 7}), u"h\u4E16");  // odd byte ignored
}

TEST(CodePage, PlatformConverterHandlesDeclaredCodePages) {
  const auto& cp = core::platformCodePages();
  EXPECT_EQ(cp.decode(bytes("\x93\xFA\x96\x7B"), 932), u"\u65E5\u672C");                 // Shift-JIS
  EXPECT_EQ(cp.decode(bytes("\x1B$BF|K\\\x1B(B"), 50220), u"\u65E5\u672C");              // ISO-2022-JP
  EXPECT_EQ(cp.decode(bytes("\xC0\xE1"), 1251), u"\u0410\u0431");                         // Cyrillic
  EXPECT_EQ(cp.decode(bytes("\xC4\xE3"), 936), u"\u4F60");                                // GBK
  EXPECT_EQ(cp.decode(bytes("\xE1\xD2"), 20866), u"\u0410\u0440");                       // KOI8-R
  EXPECT_EQ(cp.decode(bytes("\xA4"), 28605), u"\u20AC");                                  // ISO-8859-15
  EXPECT_EQ(cp.decode(bytes("\xC3\xA9"), 65001), u"\u00E9");
  EXPECT_TRUE(cp.supports(932));
  EXPECT_FALSE(cp.supports(12345));
  EXPECT_EQ(cp.decode(bytes("\x80"), 12345), u"\u20AC");  // unknown: Windows-1252
}

TEST(CodePage, InvalidBytesBecomeReplacementCharacters) {
  const auto& cp = core::platformCodePages();
  // 0x81 0x20 is no Shift-JIS character; decoding goes on after it.
  const auto text = cp.decode(bytes("a\x81 b"), 932);
  EXPECT_EQ(text.front(), u'a');
  EXPECT_NE(text.find(u'\uFFFD'), std::u16string::npos);
  EXPECT_EQ(text.back(), u'b');
  EXPECT_EQ(cp.decode(bytes("x\x93"), 932), u"x\uFFFD");  // cut in the middle of a character
}

// The order of code pages an 8-bit string is tried in: what the object says,
// its locale's ANSI code page, its charset's, then 1252; the internet code
// page first for a body only.
TEST(CodePage, StringsTryTheCodePagesTheFileNamesInOrder) {
  struct Case {
    core::StringCodePages pages;
    std::vector<std::uint32_t> strings, body;
  };
  const Case cases[] = {
      {{0, 0x0407, 65001}, {1252}, {65001, 1252}},                        // German, UTF-8 mail
      {{0, 0x0419, 20866}, {1251, 1252}, {20866, 1251, 1252}},            // Russian, koi8-r mail
      {{0, 0, 50220}, {932, 1252}, {50220, 932, 1252}},                   // no locale, iso-2022-jp
      {{932, 0x0409, 20127}, {932, 1252}, {20127, 932, 1252}},            // its own code page first
      {{0, 0x0804, 28592}, {936, 1250, 1252}, {28592, 936, 1250, 1252}},  // Chinese (PRC), iso-8859-2
      {{}, {1252}, {1252}},
  };
  for (const auto& c : cases) {
    for (const bool body : {false, true}) {
      const auto order = core::codePageOrder(c.pages, body);
      EXPECT_EQ(std::vector<std::uint32_t>(order.pages, order.pages + order.count), body ? c.body : c.strings)
          << c.pages.message << "/" << c.pages.locale << "/" << c.pages.internet << (body ? " body" : "");
    }
  }
}

// No byte is lost: a string goes to the first code page that takes all of
// it, else to 1252 with its undefined bytes kept as C1 controls.
TEST(CodePage, AStringDecodesWithTheFirstCodePageThatTakesEveryByte) {
  const auto& cp = core::platformCodePages();
  const core::StringCodePages german{0, 0x0407, 65001}, japanese{932, 0, 0};
  struct Case {
    const char* bytes;
    core::StringCodePages pages;
    bool body;
    std::u16string text;
  };
  const Case cases[] = {
      {"\xF6\xE4\xFC", german, false, u"\u00F6\u00E4\u00FC"},  // 1252 in a UTF-8 mail: the locale's
      {"\xF6\xE4\xFC", german, true, u"\u00F6\u00E4\u00FC"},   // not UTF-8: the locale's
      {"\xC3\xB6", german, true, u"\u00F6"},                   // the body in its mail's charset
      {"\x93\xFA\x96\x7B", japanese, false, u"\u65E5\u672C"},
      {"x\x93", japanese, false, u"x\u201C"},                    // cut mid-character: not Shift-JIS
      {"a\x81\x8D\x8F\x90\x9D", {}, false, u"a\u0081\u008D\u008F\u0090\u009D"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(core::decodeString8(bytes(c.bytes), c.pages, c.body, cp), c.text) << c.bytes;
  EXPECT_FALSE(cp.decodeWhole(bytes("\xC0\xAF"), core::codepage::Utf8));  // overlong
  EXPECT_FALSE(cp.decodeWhole(bytes("\xED\xA0\x80"), core::codepage::Utf8));  // a surrogate
  EXPECT_FALSE(cp.decodeWhole(bytes("\x81"), core::codepage::Windows1252));
  EXPECT_FALSE(cp.decodeWhole(bytes("\x1B$B\xC0"), 50220));
  EXPECT_FALSE(cp.decodeWhole(bytes("a"), 12345));  // not known here
}
