#include "cli/terminal_text.h"

#include <cstddef>
#include <cstdint>

namespace parvane::cli {

namespace {

struct Decoded {
  char32_t codePoint;
  std::size_t length;  // bytes taken; a broken part is one byte at a time
  bool wellFormed;
};

// One well-formed UTF-8 character at `at` (no overlong form, no surrogate,
// nothing past U+10FFFF), or one broken byte.
Decoded ReadChar(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07u, least = 0x10000;
  }
  if (length == 0 || at + length > text.size()) return {lead, 1, false};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return {lead, 1, false};
    cp = (cp << 6) | (byte(at + k) & 0x3Fu);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {lead, 1, false};
  return {cp, length, true};
}

// Characters that are well-formed but act on the terminal or on the lines.
bool Invisible(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

void AppendHex(std::string& out, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xFu];
}

}  // namespace

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const Decoded c = ReadChar(text, at);
    if (!c.wellFormed) {
      out += "\\x";
      AppendHex(out, static_cast<unsigned char>(text[at]), 2);
    } else if (c.codePoint == '\n') {
      out += "\\n";
    } else if (c.codePoint == '\r') {
      out += "\\r";
    } else if (c.codePoint == '\t') {
      out += "\\t";
#ifndef _WIN32
    } else if (c.codePoint == '\\') {
      out += "\\\\";
#endif
    } else if (c.codePoint < 0x80 && Invisible(c.codePoint)) {
      out += "\\x";
      AppendHex(out, c.codePoint, 2);
    } else if (Invisible(c.codePoint)) {
      out += "\\u";
      AppendHex(out, c.codePoint, 4);
    } else {
      out.append(text, at, c.length);
    }
    at += c.length;
  }
  return out;
}

}  // namespace parvane::cli
