// Paths named on the command line: made absolute, and folders walked for their
// message files the way the folder add does (breadth first, names ending in
// ".msg" in any case).
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

namespace parvane::cli {

// `path` read from `currentDirectory` when relative, with "." and ".."
// resolved and no closing separator (except for the root).
std::string AbsolutePath(const std::string& path, const std::string& currentDirectory);

// Whether `path` names a file: its folder lists it. Never raises.
bool FileExists(const platform::FileSystem& fileSystem, const std::string& path);

// The folder part of an absolute path ("/out/a.pst" gives "/out"; "/a.pst" gives "/").
std::string ParentFolder(const std::string& path);

struct SourceFiles {
  std::vector<std::string> files;               // absolute, in order, each once
  std::vector<std::string> unreadableFolders;   // skipped during the walks
};

// Raises UsageError for a source that is neither a folder nor a file.
SourceFiles CollectSourceFiles(const std::vector<std::string>& sources,
                               const platform::FileSystem& fileSystem,
                               const std::string& currentDirectory);

}  // namespace parvane::cli
