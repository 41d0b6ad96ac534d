// The binary text order: UTF-16 code units, case-sensitive.
#include "conversion/text_order.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace parvane::conversion {
namespace {

TEST(CompareText, AsciiIsBinaryAndCaseSensitive) {
  EXPECT_LT(CompareText("C:\\A", "C:\\a"), 0);
  EXPECT_LT(CompareText("Z", "a"), 0);
  EXPECT_GT(CompareText("b", "a"), 0);
  EXPECT_EQ(CompareText("Mail", "Mail"), 0);
  EXPECT_LT(CompareText("", "a"), 0);
  EXPECT_LT(CompareText("Mail", "Mail\\Work"), 0);  // a beginning comes first
  EXPECT_GT(CompareText("Mail\\Work", "Mail"), 0);
}

TEST(CompareText, SupplementaryCharactersSortBeforeTheTopOfTheBasicPlane) {
  const std::string emoji = "\xF0\x9F\x98\x80";   // U+1F600, UTF-16 D83D DE00
  const std::string fullStop = "\xEF\xBC\x81";    // U+FF01
  const std::string privateUse = "\xEE\x80\x80";  // U+E000
  const std::string hangul = "\xED\x9F\xBF";      // U+D7FF, below the surrogates
  EXPECT_LT(CompareText(emoji, fullStop), 0);     // byte order would say the opposite
  EXPECT_LT(CompareText(emoji, privateUse), 0);
  EXPECT_LT(CompareText(hangul, emoji), 0);
  EXPECT_LT(CompareText("\xF0\x90\x80\x80", emoji), 0);  // U+10000 < U+1F600
  EXPECT_LT(CompareText("a" + emoji, "a" + fullStop), 0);
  EXPECT_LT(CompareText("\xC3\xA9", fullStop), 0);  // U+00E9 < U+FF01
}

TEST(CompareText, IsATotalOrderEvenOverInvalidBytes) {
  std::mt19937 random(7);
  const std::vector<std::string> pieces = {"a", "A", "\xC3\xA9", "\xEF\xBC\x81", "\xF0\x9F\x98\x80",
                                           "\xFF", "\xC3", "\xED\xA0\x80", "\x80", ""};
  std::vector<std::string> texts;
  for (int n = 0; n < 300; ++n) {
    std::string t;
    const auto length = random() % 4;
    for (unsigned k = 0; k < length; ++k) t += pieces[random() % pieces.size()];
    texts.push_back(t);
  }
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      const int ab = CompareText(a, b), ba = CompareText(b, a);
      ASSERT_EQ(ab == 0, a == b) << "equal only when identical";
      ASSERT_EQ(ab < 0, ba > 0) << "antisymmetric";
    }
  }
  // Transitive over a sample.
  for (std::size_t i = 0; i + 2 < texts.size(); i += 3) {
    const auto &a = texts[i], &b = texts[i + 1], &c = texts[i + 2];
    if (CompareText(a, b) <= 0 && CompareText(b, c) <= 0) {
      EXPECT_LE(CompareText(a, c), 0);
    }
  }
}

}  // namespace
}  // namespace parvane::conversion
