// The Windows code-page converter where the system's own converter falls short:
// ISO-2022-JP under Wine, and bytes invalid in their code page.
#include <gtest/gtest.h>

#include "engine/core/codepage.h"

namespace parvane::core {
namespace {

Bytes Of(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(WindowsCodePages, Iso2022JpSets) {
  const auto& cp = platformCodePages();
  EXPECT_TRUE(cp.supports(50220));
  EXPECT_TRUE(cp.supports(50222));
  // ASCII, then JIS X 0208 (ESC $ B), then back (ESC ( B).
  EXPECT_EQ(cp.decode(Of("Re: \x1B$B%F%9%H\x1B(B ok"), 50220), u"Re: \u30C6\u30B9\u30C8 ok");
  // JIS X 0208 of 1978 (ESC $ @) and JIS-Roman (ESC ( J).
  EXPECT_EQ(cp.decode(Of("\x1B$@F|\x1B(Jx"), 50220), u"\u65E5x");
  // Half-width katakana: ESC ( I, and SO ... SI.
  EXPECT_EQ(cp.decode(Of("\x1B(I1\x1B(B"), 50221), u"\uFF71");
  EXPECT_EQ(cp.decode(Of("a\x0E" "1\x0F" "b"), 50222), u"a\uFF71b");
}

TEST(WindowsCodePages, Iso2022JpDamage) {
  const auto& cp = platformCodePages();
  // A line end returns to ASCII even without ESC ( B.
  EXPECT_EQ(cp.decode(Of("\x1B$BF|\r\nF|"), 50220), u"\u65E5\r\nF|");
  // JIS X 0212 has no Shift-JIS code: one replacement per character.
  EXPECT_EQ(cp.decode(Of("\x1B$(D\x30\x21\x1B(Bz"), 50220), u"\uFFFDz");
  // Half a pair at the end, and an escape cut short.
  EXPECT_EQ(cp.decode(Of("\x1B$BF"), 50220), u"\uFFFD");
  EXPECT_EQ(cp.decode(Of("ab\x1B$"), 50220).substr(0, 2), u"ab");
}

TEST(WindowsCodePages, InvalidBytesAreReplacedOneByOne) {
  const auto& cp = platformCodePages();
  EXPECT_EQ(cp.decode(Of("\x93\xFA\x81 \x96\x7B"), 932), u"\u65E5\uFFFD \u672C");
  EXPECT_EQ(cp.decode(Of("\xC0\xE1"), 1251), u"\u0410\u0431");  // valid text takes one call
}

}  // namespace
}  // namespace parvane::core
