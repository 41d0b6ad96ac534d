#include "cli/terminal_text.h"

#include <cstddef>
#include <cstdint>

#include "engine/core/text.h"

namespace parvane::cli {

namespace {

// Characters that are well-formed but act on the terminal or on the lines.
bool Invisible(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// Lower-case digits, as C and the shells spell escapes ("\x1b").
void AppendHex(std::string& out, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xFu];
}

}  // namespace

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const core::Utf8Char c = core::readUtf8Char(text, at);
    if (!c.wellFormed) {
      for (std::size_t k = 0; k < c.length; ++k) {
        out += "\\x";
        AppendHex(out, static_cast<unsigned char>(text[at + k]), 2);
      }
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
