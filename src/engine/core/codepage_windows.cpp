// Code-page conversion through the Windows API.
//
// Like the iconv converter, a byte sequence that is not valid in its code page
// becomes U+FFFD and decoding goes on at the next byte (MultiByteToWideChar on
// its own may put the code page's default character there instead). ISO-2022-JP (50220-50222) is transcoded to Shift-JIS
// here when the system has no converter for it (Wine has none).
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "engine/core/codepage.h"

namespace parvane::core {

namespace {

constexpr std::uint32_t kShiftJis = 932;

bool IsIso2022Jp(std::uint32_t cp) { return cp == 50220 || cp == 50221 || cp == 50222; }

// Code pages whose conversion refuses MB_ERR_INVALID_CHARS.
bool TakesNoFlags(std::uint32_t cp) {
  return (cp >= 50220 && cp <= 50229) || (cp >= 57002 && cp <= 57011) || cp == 65000 || cp == 42;
}

// One try of the API: the characters of `size` bytes, or nothing when they do
// not form valid text in the code page.
bool Convert(std::uint32_t cp, DWORD flags, const char* in, int size, std::u16string& out) {
  const int n = MultiByteToWideChar(cp, flags, in, size, nullptr, 0);
  if (n <= 0) return false;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n));
  MultiByteToWideChar(cp, flags, in, size, reinterpret_cast<wchar_t*>(out.data() + at), n);
  return true;
}

// The character a multi-byte code page puts where its bytes are invalid (U+30FB
// for Shift-JIS), with its own encoding; none for single-byte code pages.
struct DefaultCharacter {
  char16_t unicode = 0;
  std::string bytes;
};

DefaultCharacter DefaultOf(std::uint32_t cp) {
  DefaultCharacter found;
  CPINFOEXW info{};
  if (!GetCPInfoExW(cp, 0, &info) || info.MaxCharSize < 2) return found;
  found.unicode = static_cast<char16_t>(info.UnicodeDefaultChar);
  const wchar_t wide = info.UnicodeDefaultChar;
  char encoded[8] = {};
  const int n = WideCharToMultiByte(cp, 0, &wide, 1, encoded, sizeof encoded, nullptr, nullptr);
  if (n > 0) found.bytes.assign(encoded, static_cast<std::size_t>(n));
  return found;
}

// The bytes in `cp`. An invalid sequence gives nullopt when `whole`, else
// U+FFFD for its first byte, decoding going on at the next.
std::optional<std::u16string> DecodeChecked(const char* in, std::size_t size, std::uint32_t cp, bool whole) {
  std::u16string out;
  const DWORD flags = TakesNoFlags(cp) ? 0 : MB_ERR_INVALID_CHARS;
  const DefaultCharacter fallback = DefaultOf(cp);
  // Some systems (Wine) answer invalid bytes with the default character rather
  // than an error: a default character that its own bytes do not spell is one.
  const auto clean = [&](std::size_t from, const char* bytes, std::size_t length) {
    if (fallback.unicode == 0 || out.find(fallback.unicode, from) == std::u16string::npos) return true;
    return std::string_view(bytes, length) == fallback.bytes;
  };
  if (size <= 0x7FFFFFFF && Convert(cp, flags, in, static_cast<int>(size), out) &&
      (fallback.unicode == 0 || out.find(fallback.unicode) == std::u16string::npos)) {
    return out;
  }
  // Somewhere a sequence is invalid: go character by character, taking the
  // shortest run of up to four bytes that converts, else one U+FFFD per byte.
  out.clear();
  std::size_t at = 0;
  while (at < size) {
    bool done = false;
    for (std::size_t length = 1; length <= 4 && at + length <= size && !done; ++length) {
      const std::size_t from = out.size();
      done = Convert(cp, flags, in + at, static_cast<int>(length), out) && clean(from, in + at, length);
      if (done) {
        at += length;
      } else {
        out.resize(from);
      }
    }
    if (!done) {
      if (whole) return std::nullopt;
      out.push_back(u'\uFFFD');
      ++at;
    }
  }
  return out;
}

// ISO-2022-JP as Shift-JIS bytes: ASCII and JIS-Roman pass, JIS X 0208 pairs
// are moved to their Shift-JIS codes, half-width katakana (ESC ( I, or SO..SI)
// to 0xA1..0xDF. Characters of sets Shift-JIS lacks (JIS X 0212) become 0xFF,
// which the decoder then replaces.
std::string Iso2022JpToShiftJis(ByteView bytes) {
  enum class Set { Ascii, Jis0208, Katakana, Other };
  Set set = Set::Ascii;
  bool shiftedOut = false;
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (b == 0x1B && i + 2 < bytes.size()) {
      const std::uint8_t b1 = bytes[i + 1], b2 = bytes[i + 2];
      if (b1 == '(' && (b2 == 'B' || b2 == 'J')) { set = Set::Ascii; i += 2; continue; }
      if (b1 == '(' && b2 == 'I') { set = Set::Katakana; i += 2; continue; }
      if (b1 == '$' && (b2 == '@' || b2 == 'B')) { set = Set::Jis0208; i += 2; continue; }
      if (b1 == '$' && b2 == '(' && i + 3 < bytes.size()) { set = Set::Other; i += 3; continue; }
      if (b1 == '$' && b2 == 'A') { set = Set::Other; i += 2; continue; }
    }
    if (b == 0x0E) { shiftedOut = true; continue; }
    if (b == 0x0F) { shiftedOut = false; continue; }
    if (b == '\r' || b == '\n') {  // a line end returns to ASCII
      set = Set::Ascii;
      out.push_back(static_cast<char>(b));
      continue;
    }
    const bool graphic = b >= 0x21 && b <= 0x7E;
    if ((set == Set::Katakana || shiftedOut) && b >= 0x21 && b <= 0x5F) {
      out.push_back(static_cast<char>(b + 0x80));
    } else if ((set == Set::Jis0208 || set == Set::Other) && graphic && i + 1 < bytes.size() &&
               bytes[i + 1] >= 0x21 && bytes[i + 1] <= 0x7E) {
      const unsigned j1 = b, j2 = bytes[++i];
      if (set == Set::Other) {
        out.push_back('\xFF');
        continue;
      }
      const unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
      const unsigned s2 = (j1 & 1) != 0 ? j2 + 0x1F + (j2 >= 0x60 ? 1 : 0) : j2 + 0x7E;
      out.push_back(static_cast<char>(s1));
      out.push_back(static_cast<char>(s2));
    } else if (set == Set::Jis0208 || set == Set::Other) {
      out.push_back(graphic ? '\xFF' : static_cast<char>(b));  // half a pair, or a control
    } else {
      out.push_back(b < 0x80 ? static_cast<char>(b) : '\xFF');
    }
  }
  return out;
}

class WindowsConverter final : public CodePageConverter {
 public:
  bool supports(std::uint32_t cp) const override {
    if (cp == codepage::Windows1252 || cp == codepage::Utf8 || cp == codepage::Utf16le) return true;
    if (IsIso2022Jp(cp)) return true;
    return IsValidCodePage(cp) != 0;
  }

  std::u16string decode(ByteView bytes, std::uint32_t cp) const override {
    if (cp == codepage::Utf8) return utf8ToUtf16(bytes);
    if (cp == codepage::Utf16le) return fromUtf16le(bytes);
    if (cp == codepage::Windows1252 || !supports(cp)) return decodeWindows1252(bytes);
    return *Decode(bytes, cp, false);
  }

  std::optional<std::u16string> decodeWhole(ByteView bytes, std::uint32_t cp) const override {
    if (cp == codepage::Utf8) return decodeUtf8Whole(bytes);
    if (cp == codepage::Utf16le) return fromUtf16le(bytes);
    if (cp == codepage::Windows1252) return decodeWindows1252Whole(bytes);
    if (!supports(cp)) return std::nullopt;
    return Decode(bytes, cp, true);
  }

 private:
  static std::optional<std::u16string> Decode(ByteView bytes, std::uint32_t cp, bool whole) {
    if (bytes.empty()) return std::u16string();
    // The system converts these 7-bit encodings without MB_ERR_INVALID_CHARS,
    // so it cannot refuse an 8-bit byte, which none of them holds.
    const bool sevenBit = (cp >= 50220 && cp <= 50229) || cp == 65000;
    if (whole && sevenBit && std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= 0x80; }))
      return std::nullopt;
    if (IsIso2022Jp(cp) && !IsValidCodePage(cp)) {
      const std::string shiftJis = Iso2022JpToShiftJis(bytes);
      return DecodeChecked(shiftJis.data(), shiftJis.size(), kShiftJis, whole);
    }
    return DecodeChecked(reinterpret_cast<const char*>(bytes.data()), bytes.size(), cp, whole);
  }
};

}  // namespace

const CodePageConverter& platformCodePages() {
  static const WindowsConverter converter;
  return converter;
}

}  // namespace parvane::core
