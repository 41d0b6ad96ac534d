#include "conversion/folder_list.h"

namespace parvane::conversion {

void ExpandFolderList(std::vector<std::string>& list) {
  const std::size_t count = list.size();
  for (std::size_t j = 0; j < count; ++j) {
    const std::string entry = list[j];  // the list may reallocate below
    std::size_t from = 0;
    while (true) {
      const auto sep = entry.find('\\', from);
      if (sep == std::string::npos) {
        list.push_back(entry);
        break;
      }
      list.push_back(entry.substr(0, sep));
      from = sep + 1;
    }
  }
}

ParentAndLeaf SplitLeaf(const std::string& folder) {
  const auto sep = folder.rfind('\\');
  if (sep == std::string::npos) return {std::string(), folder};
  return {folder.substr(0, sep), folder.substr(sep + 1)};
}

}  // namespace parvane::conversion
