// The binary order of texts: 16-bit code unit by code unit, case-sensitive, as
// the folder list is sorted. Texts are held as UTF-8; this order differs from
// plain byte order only where a character beyond U+FFFF meets one of
// U+E000..U+FFFF (UTF-16 puts the surrogate pair first).
#pragma once

#include <string_view>

namespace parvane::conversion {

// Negative, zero or positive as a sorts before, equal to or after b. Equal only
// for identical byte strings. Bytes that are not valid UTF-8 each sort after
// every character, in byte order, so any input has a total order.
int CompareText(std::string_view a, std::string_view b);

inline bool TextLess(std::string_view a, std::string_view b) { return CompareText(a, b) < 0; }

}  // namespace parvane::conversion
