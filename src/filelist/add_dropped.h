// Paths dropped onto the file list from the desktop: message files join the
// list as "Add MSG File(s)..." adds chosen files, folders as "Add Folder
// having MSG File(s)..." adds a chosen folder; anything else is named in one
// box. The front end takes drops only while the list buttons are enabled, so
// never during a conversion run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filelist/add_folder.h"

namespace parvane::filelist {

// The box naming what a drop could not add.
std::string NotAddedMessage(const std::vector<std::string>& paths);

// In the order dropped: a folder's tree is walked as the folder click walks
// it; a path ending in ".msg" (any case) that is not a folder is appended as
// given; anything else is left out. Afterwards, "Convert Messages" is enabled
// when anything was added (never disabled: the list keeps what it held); when
// a folder was dropped, the folder click's "N Files Added to List." box counts
// every file the drop added, followed by its box of unreadable folders; last,
// one box names what was left out. A failure of the walk is shown as
// "code:description" and ends the drop; what was appended stays. Returns the
// number of files added. `unusable` are dropped items that name no path (a
// web address, say): they are named in the same last box.
std::int32_t AddDroppedPaths(const AddFolderContext& context, const std::vector<std::string>& paths,
                             const std::vector<std::string>& unusable = {});

}  // namespace parvane::filelist
