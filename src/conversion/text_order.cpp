#include "conversion/text_order.h"

#include <cstddef>
#include <cstdint>

namespace parvane::conversion {

namespace {

// One decoded character: its sort key and how many bytes it took.
struct Unit {
  std::uint32_t key;
  std::size_t length;
};

constexpr std::uint32_t kInvalidByteBase = 0x200000;

bool isContinuation(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// Keys in UTF-16 order: characters below U+D800 keep their value; characters
// beyond U+FFFF come next (their lead surrogate is D800..DBFF); U+E000..U+FFFF
// come after them. Invalid bytes sort after everything.
std::uint32_t keyOf(std::uint32_t cp) {
  if (cp < 0xD800u) return cp;
  if (cp >= 0x10000u) return 0xD800u + (cp - 0x10000u);
  return cp + 0x110000u;  // U+E000..U+FFFF (surrogates never decode)
}

Unit decode(std::string_view s, std::size_t at) {
  const auto b0 = static_cast<unsigned char>(s[at]);
  const Unit invalid{kInvalidByteBase + b0, 1};
  if (b0 < 0x80u) return {b0, 1};
  std::size_t length = 0;
  std::uint32_t cp = 0, minimum = 0;
  if (b0 >= 0xC2u && b0 <= 0xDFu) {
    length = 2, cp = b0 & 0x1Fu, minimum = 0x80u;
  } else if (b0 >= 0xE0u && b0 <= 0xEFu) {
    length = 3, cp = b0 & 0x0Fu, minimum = 0x800u;
  } else if (b0 >= 0xF0u && b0 <= 0xF4u) {
    length = 4, cp = b0 & 0x07u, minimum = 0x10000u;
  } else {
    return invalid;
  }
  if (s.size() - at < length) return invalid;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(s[at + k]);
    if (!isContinuation(c)) return invalid;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFFu || (cp >= 0xD800u && cp <= 0xDFFFu)) return invalid;
  return {keyOf(cp), length};
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
