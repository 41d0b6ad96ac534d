#include "engine/core/text.h"

namespace parvane::core {

Utf8Char readUtf8Char(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t cp = 0;
  // The range the second byte must fall in: narrower than 80..BF after the
  // leads whose short forms would be overlong, encode a surrogate, or pass
  // U+10FFFF, so those are found broken at the second byte already.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kReplacementCharacter, 1, false};
  }
  std::size_t k = 1;
  for (; k < length && at + k < text.size(); ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if (next < low || next > high) break;
    low = 0x80, high = 0xBF;
    cp = (cp << 6) | (next & 0x3Fu);
  }
  if (k < length) return {kReplacementCharacter, k, false};
  return {cp, length, true};
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {  // the common case, without a call
      out.push_back(c);
      ++i;
      continue;
    }
    const Utf8Char ch = readUtf8Char(utf8, i);
    appendUtf16(out, ch.codePoint);
    i += ch.length;
  }
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacementCharacter;
    }
    appendUtf8(out, cp);
  }
  return out;
}

namespace detail {

char16_t upperCaseLetterPairs(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    // Latin Extended-A holds its letters in pairs, capital first; the runs
    // 0x139-0x148 and 0x179-0x17E start one unit later, so there the capital
    // is odd.
    const bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool lower = shifted ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

char16_t upperCaseCompoundFileNameBeyondAscii(char16_t c) {
  switch (c) {
    case 0xB5: return 0x39C;   // µ micro sign: Greek capital mu
    case 0x131: return u'I';   // ı dotless i
    case 0x17F: return u'S';   // ſ long s
    case 0x3C2: return 0x3A3;  // ς final sigma
    default: return upperCaseLetterPairs(c);
  }
}

}  // namespace detail

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

void writeHexDigits(std::span<char> out, std::uint64_t value) {
  for (std::size_t i = out.size(); i-- > 0;) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
}

void appendHexDigits(std::string& out, std::uint64_t value, int digits) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(digits));
  writeHexDigits(std::span<char>(out.data() + at, static_cast<std::size_t>(digits)), value);
}

std::string hex(std::uint64_t value, int minDigits) {
  int digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits;
  std::string out = "0x";
  appendHexDigits(out, value, digits);
  return out;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0xF]);
  }
  return out;
}

}  // namespace parvane::core
