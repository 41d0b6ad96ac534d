// Folder names compare as MAPI compares them: without regard to letter case.
#pragma once

#include <cstdint>
#include <string_view>

namespace parvane::messaging {

bool sameFolderName(std::u16string_view a, std::u16string_view b);
// Equal for names that are the same folder name, mixed with `seed`.
std::uint64_t folderNameHash(std::u16string_view name, std::uint64_t seed);

}  // namespace parvane::messaging
