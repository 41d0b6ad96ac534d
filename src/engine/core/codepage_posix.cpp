// Code-page conversion through iconv, converting to UTF-16LE.
#include <iconv.h>

#include <cerrno>
#include <map>
#include <optional>
#include <mutex>
#include <string>

#include "engine/core/codepage.h"

namespace parvane::core {

namespace {

// iconv's name for a Windows code page number, or nullptr if none is known.
const char* iconvName(std::uint32_t cp) {
  switch (cp) {
    case 437: return "CP437";
    case 850: return "CP850";
    case 852: return "CP852";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 20932: return "EUC-JP";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28593: return "ISO-8859-3";
    case 28594: return "ISO-8859-4";
    case 28595: return "ISO-8859-5";
    case 28596: return "ISO-8859-6";
    case 28597: return "ISO-8859-7";
    case 28598: return "ISO-8859-8";
    case 28599: return "ISO-8859-9";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 50220: case 50221: case 50222: return "ISO-2022-JP";
    case 50225: return "ISO-2022-KR";
    case 51932: return "EUC-JP";
    case 51936: return "GB2312";
    case 51949: return "EUC-KR";
    case 52936: return "HZ-GB-2312";
    case 54936: return "GB18030";
    case 65000: return "UTF-7";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    default: return nullptr;
  }
}

class IconvConverter final : public CodePageConverter {
 public:
  ~IconvConverter() override {
    for (auto& [cp, cd] : open_) {
      if (cd != invalid()) iconv_close(cd);
    }
  }

  bool supports(std::uint32_t cp) const override {
    if (cp == codepage::Windows1252 || cp == codepage::Utf8 || cp == codepage::Utf16le) return true;
    std::lock_guard<std::mutex> guard(lock_);
    return handle(cp) != invalid();
  }

  std::u16string decode(ByteView bytes, std::uint32_t cp) const override {
    if (cp == codepage::Utf8) return utf8ToUtf16(bytes);
    if (cp == codepage::Utf16le) return fromUtf16le(bytes);
    if (cp == codepage::Windows1252) return decodeWindows1252(bytes);
    std::lock_guard<std::mutex> guard(lock_);
    iconv_t cd = handle(cp);
    if (cd == invalid()) return decodeWindows1252(bytes);
    return *convert(cd, bytes, false);
  }

  std::optional<std::u16string> decodeWhole(ByteView bytes, std::uint32_t cp) const override {
    if (cp == codepage::Utf8) return decodeUtf8Whole(bytes);
    if (cp == codepage::Utf16le) return fromUtf16le(bytes);
    if (cp == codepage::Windows1252) return decodeWindows1252Whole(bytes);
    std::lock_guard<std::mutex> guard(lock_);
    iconv_t cd = handle(cp);
    if (cd == invalid()) return std::nullopt;
    return convert(cd, bytes, true);
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

  // The bytes through `cd`. An invalid or incomplete sequence gives nullopt
  // when `whole`, else U+FFFD for its first byte, decoding going on at the next.
  static std::optional<std::u16string> convert(iconv_t cd, ByteView bytes, bool whole) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    std::u16string out;
    std::string buffer(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    while (true) {
      char* dst = buffer.data();
      std::size_t dstLeft = buffer.size();
      const std::size_t r = inLeft ? iconv(cd, &in, &inLeft, &dst, &dstLeft)
                                   : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
      const int err = errno;
      const std::size_t produced = buffer.size() - dstLeft;
      for (std::size_t i = 0; i + 1 < produced; i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(buffer[i]) |
                                            (static_cast<std::uint8_t>(buffer[i + 1]) << 8)));
      }
      if (r != static_cast<std::size_t>(-1)) {
        if (inLeft == 0) break;
        continue;
      }
      if (err == E2BIG) continue;
      if (whole) return std::nullopt;
      // EILSEQ or EINVAL: an invalid or incomplete sequence. Replace one byte
      // and go on from the next.
      out.push_back(0xFFFD);
      if (inLeft == 0) break;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (inLeft == 0) break;
    }
    return out;
  }

  iconv_t handle(std::uint32_t cp) const {
    auto it = open_.find(cp);
    if (it != open_.end()) return it->second;
    const char* name = iconvName(cp);
    iconv_t cd = name ? iconv_open("UTF-16LE", name) : invalid();
    open_.emplace(cp, cd);
    return cd;
  }

  mutable std::mutex lock_;
  mutable std::map<std::uint32_t, iconv_t> open_;
};

}  // namespace

const CodePageConverter& platformCodePages() {
  static const IconvConverter converter;
  return converter;
}

}  // namespace parvane::core
