#include "engine/messaging/folder_names.h"

#include "engine/core/text.h"

namespace parvane::messaging {

bool sameFolderName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (core::upperCaseFolderName(a[i]) != core::upperCaseFolderName(b[i])) return false;
  }
  return true;
}

std::uint64_t folderNameHash(std::u16string_view name, std::uint64_t seed) {
  // FNV-1a over the upper-cased code units
  std::uint64_t h = 0xcbf29ce484222325ull ^ (seed * 0x9E3779B97F4A7C15ull);
  for (char16_t c : name) {
    h = (h ^ core::upperCaseFolderName(c)) * 0x100000001b3ull;
  }
  return h;
}

}  // namespace parvane::messaging
