// Paths named on the command line: made absolute, and folders walked for their
// message files the way the folder add does (breadth first, names ending in
// ".msg" in any case).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "conversion/path_list.h"
#include "engine/core/file_system.h"
#include "platform/ui.h"

namespace parvane::cli {

// `path` read from `currentDirectory` when relative, with "." and ".."
// resolved and no closing separator (except for the root).
std::string AbsolutePath(const std::string& path, const std::string& currentDirectory);

// Whether `path` names a file: its folder lists it. Never raises.
bool FileExists(core::FileSystem& fileSystem, const std::string& path);

// The folder part of an absolute path ("/out/a.pst" gives "/out"; "/a.pst" gives "/").
std::string ParentFolder(const std::string& path);

struct SourceFiles {
  conversion::PathList files;                   // absolute, in order, each once
  std::vector<std::string> unreadableFolders;   // skipped during the walks
  std::vector<std::string> folderLinks;         // links to folders the walks did not follow
  std::vector<std::string> danglingLinks;       // message-file links the walks found broken
};

// Raises UsageError for a source that is neither a folder nor a file. Every
// folder is read at most once, however many sources lie in it.
SourceFiles CollectSourceFiles(const std::vector<std::string>& sources,
                               core::FileSystem& fileSystem,
                               const std::string& currentDirectory);

// Names each link the walks passed over on `err`, then their number; nothing
// when there were none.
void ReportSkippedLinks(const SourceFiles& sources, std::ostream& err);

}  // namespace parvane::cli
