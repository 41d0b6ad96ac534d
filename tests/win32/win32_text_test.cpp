#include "platform/win32_text.h"

#include <gtest/gtest.h>

namespace parvane::platform {
namespace {

TEST(Win32Text, RoundTripsTextOutsideTheCodePage) {
  // German, Greek, CJK and a character beyond the 16-bit range (a surrogate pair).
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xCE\xA9 \xE4\xB8\xAD \xF0\x9F\x93\xA7";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide, L"Gr\u00FC\u00DFe \u03A9 \u4E2D \xD83D\xDCE7");
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(Win32Text, EmptyAndEmbeddedNul) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(withNul), std::wstring(L"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), withNul);
}

TEST(Win32Text, InvalidSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFD" L"b");
  EXPECT_EQ(WideToUtf8(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");  // lone surrogate
}

}  // namespace
}  // namespace parvane::platform
