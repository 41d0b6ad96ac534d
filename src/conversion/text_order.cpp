#include "conversion/text_order.h"

#include <cstddef>
#include <cstdint>

#include "engine/core/text.h"

namespace parvane::conversion {

namespace {

// One decoded character: its sort key and how many bytes it took.
struct Unit {
  std::uint32_t key;
  std::size_t length;
};

constexpr std::uint32_t kInvalidByteBase = 0x200000;

// Keys in UTF-16 order: characters below U+D800 keep their value; characters
// beyond U+FFFF come next (their lead surrogate is D800..DBFF); U+E000..U+FFFF
// come after them. Invalid bytes sort after everything.
std::uint32_t keyOf(std::uint32_t cp) {
  if (cp < 0xD800u) return cp;
  if (cp >= 0x10000u) return 0xD800u + (cp - 0x10000u);
  return cp + 0x110000u;  // U+E000..U+FFFF (surrogates never decode)
}

// A broken part sorts byte by byte: its first byte after every character,
// and each byte after it is broken on its own (a continuation byte never
// starts a character), so distinct byte strings never compare equal.
Unit decode(std::string_view s, std::size_t at) {
  const core::Utf8Char c = core::readUtf8Char(s, at);
  if (!c.wellFormed) return {kInvalidByteBase + static_cast<unsigned char>(s[at]), 1};
  return {keyOf(c.codePoint), c.length};
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80u && cb < 0x80u) {  // the common case: plain ASCII
      if (ca != cb) return ca < cb ? -1 : 1;
      ++i, ++j;
      continue;
    }
    const Unit ua = decode(a, i), ub = decode(b, j);
    if (ua.key != ub.key) return ua.key < ub.key ? -1 : 1;
    i += ua.length, j += ub.length;
  }
  if (i < a.size()) return 1;  // b is a beginning of a
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace parvane::conversion
