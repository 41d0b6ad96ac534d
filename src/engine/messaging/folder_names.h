// Folder names compare as MAPI compares them: without regard to letter case.
#pragma once

#include <string_view>

namespace parvane::messaging {

bool sameFolderName(std::u16string_view a, std::u16string_view b);

}  // namespace parvane::messaging
