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

}  // namespace parvane::messaging
