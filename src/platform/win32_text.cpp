#ifdef _WIN32
#include "platform/win32_text.h"

#include "engine/core/text.h"

namespace parvane::platform {

// wchar_t is a UTF-16 unit on Windows: the engine's converters serve, so a
// name decodes here as it does everywhere else.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Utf8ToWide(std::string_view utf8) {
  const std::u16string wide = core::utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string WideToUtf8(std::wstring_view wide) {
  std::u16string units(wide.begin(), wide.end());
  return core::toUtf8(units);
}

}  // namespace parvane::platform
#endif  // _WIN32
