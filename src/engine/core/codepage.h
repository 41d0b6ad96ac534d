// Conversion of 8-bit text in a Windows code page to UTF-16, and UTF-16 to
// UTF-8 for display. The conversion sits behind a small interface so that each
// platform can use its own converter: iconv on POSIX, MultiByteToWideChar on
// Windows. Windows-1252 and UTF-8 are built in and never fail.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
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
  // Decodes `bytes` in `codePage` only if every byte belongs to a character
  // of it (a multi-byte character cut short does not): nullopt otherwise, and
  // for a code page this converter does not support.
  virtual std::optional<std::u16string> decodeWhole(ByteView bytes, std::uint32_t codePage) const = 0;
};

// The platform's converter (iconv on POSIX), shared and stateless to callers.
const CodePageConverter& platformCodePages();

// Built-in decoders used by every converter (UTF-8 is decoded by
// utf8ToUtf16() of text.h). decodeWindows1252() maps every byte to a
// character, the five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) to the C1 controls of the same value, so the bytes can
// always be told back; the strict forms refuse what is not valid text.
std::u16string decodeWindows1252(ByteView bytes);
std::optional<std::u16string> decodeWindows1252Whole(ByteView bytes);
std::optional<std::u16string> decodeUtf8Whole(ByteView bytes);
// UTF-16LE bytes (odd trailing byte ignored) to UTF-16.
std::u16string fromUtf16le(ByteView bytes);

// What an object of a message file (the message, a recipient, an attachment,
// an embedded message) says about the code page of its 8-bit strings.
struct StringCodePages {
  std::uint32_t message = 0;   // PR_MESSAGE_CODEPAGE (0x3FFD)
  std::uint32_t locale = 0;    // PR_MESSAGE_LOCALE_ID (0x3FF1), a Windows locale id
  std::uint32_t internet = 0;  // PR_INTERNET_CPID (0x3FDE), the charset the mail travelled in
  bool operator==(const StringCodePages&) const = default;
};

// The ANSI code page of a Windows locale id (0x0419 Russian: 1251); 0 for a
// locale without one (Unicode-only) or not known here.
std::uint32_t ansiCodePageOfLocale(std::uint32_t lcid);
// The Windows ANSI code page of a charset's code page (koi8-r 20866: 1251,
// iso-2022-jp 50220: 932, iso-8859-2 28592: 1250); 0 for a charset no ANSI
// code page belongs to (UTF-8, us-ascii).
std::uint32_t ansiCodePageOfCharset(std::uint32_t codePage);

// The code pages to try, in order, for an 8-bit string of an object that
// says `pages`: its message code page, the ANSI code page of its locale, the
// ANSI code page of its internet charset, then 1252. The internet code page
// speaks for the bodies only, so for a body (`body`) it comes first. Zeros
// and repeats are left out; at most 5.
struct CodePageOrder {
  std::uint32_t pages[5] = {};
  std::size_t count = 0;
};
CodePageOrder codePageOrder(const StringCodePages& pages, bool body);

// An 8-bit string as text, losing no byte: decoded by the first code page of
// codePageOrder() that takes every byte of it, else by decodeWindows1252().
std::u16string decodeString8(ByteView bytes, const StringCodePages& pages, bool body,
                             const CodePageConverter& converter);

namespace codepage {
inline constexpr std::uint32_t Windows1252 = 1252;
inline constexpr std::uint32_t Utf8 = 65001;
inline constexpr std::uint32_t Utf16le = 1200;
}  // namespace codepage

}  // namespace parvane::core
