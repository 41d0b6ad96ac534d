// Helpers over the run's folder list (texts of folder names joined by "\").
#pragma once

#include <string>
#include <vector>

namespace parvane::conversion {

// Appends, for every entry present when called, each of its prefixes in order:
// Mail\Work\2010 appends Mail, Mail\Work and Mail\Work\2010.
void ExpandFolderList(std::vector<std::string>& list);

// The last component of a folder path and the path before it:
// Mail\Work\2010 gives parent Mail\Work and leaf 2010; Mail gives parent "".
struct ParentAndLeaf {
  std::string parent;
  std::string leaf;
};
ParentAndLeaf SplitLeaf(const std::string& folder);

}  // namespace parvane::conversion
