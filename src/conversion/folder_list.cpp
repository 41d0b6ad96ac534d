#include "conversion/folder_list.h"

namespace parvane::conversion {

void ExpandFolderList(std::vector<std::string>& list) {
  const std::size_t count = list.size();
  std::size_t previous = count;  // none yet
  for (std::size_t j = 0; j < count; ++j) {
    const std::string entry = list[j];  // the list may reallocate below
    // the prefixes this entry shares with the one before it were appended
    // with that one: a chain 100 folders deep adds each folder once, not 100 times
    std::size_t from = 0;
    if (previous < count) {
      const std::string& before = list[previous];
      for (std::size_t sep = entry.find('\\'); sep != std::string::npos; sep = entry.find('\\', sep + 1)) {
        const bool shared = sep <= before.size() && before.compare(0, sep, entry, 0, sep) == 0 &&
                            (sep == before.size() || before[sep] == '\\');
        if (!shared) break;
        from = sep + 1;
      }
    }
    previous = j;
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
