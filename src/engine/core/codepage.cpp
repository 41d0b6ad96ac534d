#include "engine/core/codepage.h"

#include <utility>

namespace parvane::core {

namespace {

// Windows-1252 bytes 0x80..0x9F; the other bytes equal their code points.
// Bytes the code page leaves undefined map to the C1 control of the same value,
// as Windows itself does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::u16string decodeWindows1252(ByteView bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (auto b : bytes) {
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

std::optional<std::u16string> decodeWindows1252Whole(ByteView bytes) {
  for (auto b : bytes)
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) return std::nullopt;
  return decodeWindows1252(bytes);
}

// Well-formed UTF-8 only: no overlong form, no surrogate, nothing past
// U+10FFFF, no sequence cut short.
std::optional<std::u16string> decodeUtf8Whole(ByteView bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::uint8_t b = bytes[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    std::size_t n = 0;
    std::uint32_t c = 0, least = 0;
    if (b >= 0xC2 && b <= 0xDF) n = 1, c = b & 0x1F, least = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) n = 2, c = b & 0x0F, least = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) n = 3, c = b & 0x07, least = 0x10000;
    else return std::nullopt;
    if (i + n >= bytes.size()) return std::nullopt;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (bytes[i + k] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += n + 1;
  }
  return out;
}

std::uint32_t ansiCodePageOfLocale(std::uint32_t lcid) {
  const std::uint32_t language = lcid & 0x3FF, sub = (lcid >> 10) & 0x3F;
  switch (language) {
    case 0x04: return sub == 0 || sub == 2 || sub == 4 ? 936 : 950;  // Chinese: simplified or traditional
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x1E: return 874;
    case 0x2A: return 1258;
    case 0x08: return 1253;
    case 0x0D: return 1255;
    case 0x01: case 0x20: case 0x29: case 0x80: case 0x8C: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x1F: return 1254;
    case 0x2C: case 0x43: return sub == 2 ? 1251 : 1254;  // Azeri, Uzbek: Cyrillic or Latin
    case 0x1A:  // Croatian, Serbian, Bosnian: Cyrillic or Latin
      return sub == 3 || sub == 7 || sub == 8 || sub == 0x0A || sub == 0x0C ? 1251 : 1250;
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x1C: case 0x24: case 0x42:
      return 1250;
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x28: case 0x2F: case 0x3F: case 0x40:
    case 0x44: case 0x50: case 0x6D: case 0x85:
      return 1251;
    case 0x03: case 0x06: case 0x07: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F:
    case 0x10: case 0x13: case 0x14: case 0x16: case 0x1D: case 0x21: case 0x2D: case 0x36:
    case 0x38: case 0x3E: case 0x41: case 0x56: case 0x62: case 0x83: case 0x84: case 0x88:
    case 0x91: case 0x3C: case 0x3B: case 0x34: case 0x32: case 0x6E: case 0x6F:
      return 1252;
    default: return 0;
  }
}

std::uint32_t ansiCodePageOfCharset(std::uint32_t cp) {
  switch (cp) {
    case 874: case 28601: return 874;
    case 932: case 20932: case 50220: case 50221: case 50222: case 51932: return 932;
    case 936: case 20936: case 51936: case 52936: case 54936: return 936;
    case 949: case 50225: case 51949: return 949;
    case 950: return 950;
    case 1250: case 28592: return 1250;
    case 1251: case 20866: case 21866: case 28595: case 866: case 855: return 1251;
    case 1252: case 28591: case 28605: return 1252;
    case 1253: case 28597: return 1253;
    case 1254: case 28599: return 1254;
    case 1255: case 28598: case 38598: return 1255;
    case 1256: case 28596: return 1256;
    case 1257: case 28594: case 28603: return 1257;
    case 1258: return 1258;
    default: return 0;
  }
}

CodePageOrder codePageOrder(const StringCodePages& pages, bool body) {
  CodePageOrder order;
  const auto add = [&](std::uint32_t cp) {
    if (cp == 0) return;
    for (std::size_t i = 0; i < order.count; ++i)
      if (order.pages[i] == cp) return;
    order.pages[order.count++] = cp;
  };
  if (body) add(pages.internet);
  add(pages.message);
  add(ansiCodePageOfLocale(pages.locale));
  add(ansiCodePageOfCharset(pages.internet));
  add(codepage::Windows1252);
  return order;
}

std::u16string decodeString8(ByteView bytes, const StringCodePages& pages, bool body,
                             const CodePageConverter& converter) {
  const CodePageOrder order = codePageOrder(pages, body);
  for (std::size_t i = 0; i < order.count; ++i)
    if (auto text = converter.decodeWhole(bytes, order.pages[i])) return std::move(*text);
  return decodeWindows1252(bytes);
}

std::u16string fromUtf16le(ByteView bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(loadU16(bytes.data() + 2 * i));
  return out;
}

}  // namespace parvane::core
