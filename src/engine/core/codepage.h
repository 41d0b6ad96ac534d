// Conversion of 8-bit text in a Windows code page to UTF-16, and UTF-16 to
// UTF-8 for display. The conversion sits behind a small interface so that each
// platform can use its own converter: iconv on POSIX, MultiByteToWideChar on
// Windows. Windows-1252 and UTF-8 are built in and never fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/coding.h"
#include "engine/core/text.h"

namespace parvane::core {

class CodePageConverter {
 public:
  virtual ~CodePageConverter() = default;
  // True when `codePage` can be decoded by this converter.
  virtual bool supports(std::uint32_t codePage) const = 0;
  // Decodes `bytes` in `codePage`. Bytes that are not valid in the code page
  // become U+FFFD; the call never throws for bad input. An unsupported code
  // page decodes as Windows-1252.
  virtual std::u16string decode(ByteView bytes, std::uint32_t codePage) const = 0;
};

// The platform's converter (iconv on POSIX), shared and stateless to callers.
const CodePageConverter& platformCodePages();

// Built-in decoder used by every converter (UTF-8 is decoded by
// utf8ToUtf16() of text.h).
std::u16string decodeWindows1252(ByteView bytes);
// UTF-16LE bytes (odd trailing byte ignored) to UTF-16.
std::u16string fromUtf16le(ByteView bytes);

namespace codepage {
inline constexpr std::uint32_t Windows1252 = 1252;
inline constexpr std::uint32_t Utf8 = 65001;
inline constexpr std::uint32_t Utf16le = 1200;
}  // namespace codepage

}  // namespace parvane::core
