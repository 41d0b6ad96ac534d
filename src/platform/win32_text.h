// Conversions between the UTF-8 texts of the plain logic and the UTF-16 texts of
// the Windows API (Windows only), by the rule of engine/core/text.h.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

namespace parvane::platform {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace parvane::platform
#endif  // _WIN32
