// Helpers over the run's folder list (texts of folder names joined by "\").
#pragma once

#include <string>
#include <vector>

namespace parvane::conversion {

// Appends, for every entry present when called, each of its prefixes in order,
// but those it shares with the entry before it, which that one appended:
// Mail\Work\2010 appends Mail, Mail\Work and Mail\Work\2010; after it,
// Mail\Work\2011 appends Mail\Work\2011 only. Every entry appends itself.
void ExpandFolderList(std::vector<std::string>& list);

// The last component of a folder path and the path before it:
// Mail\Work\2010 gives parent Mail\Work and leaf 2010; Mail gives parent "".
struct ParentAndLeaf {
  std::string parent;
  std::string leaf;
};
ParentAndLeaf SplitLeaf(const std::string& folder);

}  // namespace parvane::conversion
