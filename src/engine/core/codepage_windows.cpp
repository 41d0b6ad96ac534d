// Code-page conversion through the Windows API.
#include <windows.h>

#include "engine/core/codepage.h"

namespace parvane::core {

namespace {

class WindowsConverter final : public CodePageConverter {
 public:
  bool supports(std::uint32_t cp) const override {
    if (cp == codepage::Windows1252 || cp == codepage::Utf8 || cp == codepage::Utf16le) return true;
    return IsValidCodePage(cp) != 0;
  }

  std::u16string decode(ByteView bytes, std::uint32_t cp) const override {
    if (cp == codepage::Utf8) return decodeUtf8(bytes);
    if (cp == codepage::Utf16le) return fromUtf16le(bytes);
    if (cp == codepage::Windows1252 || !IsValidCodePage(cp) || bytes.empty()) return decodeWindows1252(bytes);
    const auto* in = reinterpret_cast<const char*>(bytes.data());
    const int inLen = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(cp, 0, in, inLen, nullptr, 0);
    if (n <= 0) return decodeWindows1252(bytes);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(cp, 0, in, inLen, reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
  }
};

}  // namespace

const CodePageConverter& platformCodePages() {
  static const WindowsConverter converter;
  return converter;
}

}  // namespace parvane::core
