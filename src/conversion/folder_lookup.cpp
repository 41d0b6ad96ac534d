#include "conversion/folder_lookup.h"

#include <string_view>

namespace parvane::conversion {

std::optional<FolderHandle> FindFolderByPath(StoreService& store, const std::string& path) {
  std::optional<FolderHandle> current;
  std::string_view rest(path);
  if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  while (!rest.empty()) {
    const auto separator = rest.find('\\');
    const std::string name(rest.substr(0, separator));
    rest = separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
    auto found = current ? store.subfolder(*current, name) : store.storeFolder(name);
    if (found) current = found.value();
  }
  return current;
}

}  // namespace parvane::conversion
