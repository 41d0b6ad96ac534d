// Folder names compare as MAPI compares them: without regard to letter case.
#pragma once

#include <string>
#include <string_view>

namespace parvane::messaging {

// Upper case of one UTF-16 unit for the scripts folder names commonly use
// (Latin, Greek, Cyrillic); other units are returned unchanged.
char16_t foldCase(char16_t c);
bool sameFolderName(std::u16string_view a, std::u16string_view b);

std::u16string utf8ToUtf16(std::string_view utf8);

}  // namespace parvane::messaging
