// Text helpers every layer shares: UTF-8 to and from UTF-16, the upper-casing
// that names compare by, and hexadecimal numbers for messages and names.
//
// Broken UTF-8 has one rule everywhere: only well-formed sequences decode (no
// overlong form, no encoded surrogate, nothing past U+10FFFF), and each maximal
// broken part (a lead byte with the continuation bytes that still fitted it, or
// one stray byte) stands for one U+FFFD. So no NUL and no lone surrogate can
// come out of bytes that did not spell them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace parvane::core {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// One step of decoding: a well-formed character, or a broken part whose code
// point is U+FFFD. `length` is the number of bytes it took (at least one).
struct Utf8Char {
  char32_t codePoint;
  std::size_t length;
  bool wellFormed;
};

// Decodes the character that starts at `at` (which must be inside `text`).
Utf8Char readUtf8Char(std::string_view text, std::size_t at);

std::u16string utf8ToUtf16(std::string_view utf8);
inline std::u16string utf8ToUtf16(std::span<const std::uint8_t> utf8) {
  return utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

void appendUtf16(std::u16string& out, char32_t codePoint);
void appendUtf8(std::string& out, char32_t codePoint);

// Upper-casing of one UTF-16 unit for comparing names without regard to case.
// Both cover the scripts names commonly use (Latin-1, Latin Extended-A, Greek,
// Cyrillic) and return other units unchanged; they differ where Unicode's
// simple upper-casing sends a letter that has no lower-case partner of its own
// to another letter's capital (dotless ı and long ſ to I and S, micro sign µ
// to Greek Μ, final ς to Σ):
// - compound-file entry names follow the simple upper-casing itself, as the
//   order of a storage's children is defined by it;
// - store folder names compare as MAPI compares them, by letter: a letter
//   equals only its own other-case form, so ı, ſ, µ and ς stay themselves.
namespace detail {
char16_t upperCaseLetterPairs(char16_t c);  // beyond ASCII, the letters both rules share
char16_t upperCaseCompoundFileNameBeyondAscii(char16_t c);
}  // namespace detail
// Names are ASCII nearly always: that case is decided here, inline.
inline char16_t upperCaseCompoundFileName(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  return detail::upperCaseCompoundFileNameBeyondAscii(c);
}
inline char16_t upperCaseFolderName(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  return detail::upperCaseLetterPairs(c);
}

// "0x" and the upper-case hex digits of `value`, at least `minDigits` of them:
// hex(0x1F) is "0x1F", hex(0x1F, 8) is "0x0000001F".
std::string hex(std::uint64_t value, int minDigits = 1);
// Exactly `digits` upper-case hex digits of `value`, no prefix, as names
// spell them ("__substg1.0_0037001F").
void appendHexDigits(std::string& out, std::uint64_t value, int digits);
void writeHexDigits(std::span<char> out, std::uint64_t value);  // out.size() digits
// Two upper-case hex digits per byte, no separator: "D0CF11E0".
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace parvane::core
