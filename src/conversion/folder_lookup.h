// A folder path of the attached stores ("\" + store display name + "\" +
// folder names) resolved name by name through the store service.
#pragma once

#include <optional>
#include <string>

#include "conversion/store_service.h"

namespace parvane::conversion {

// A folder path ("\" + store display name + "\" + folder names) looked up name
// by name: the first name among the attached stores' top folders, each further
// one among the subfolders of the folder found so far. A name that is not
// found is stepped over, so the result is the deepest folder reached, or none.
std::optional<FolderHandle> FindFolderByPath(StoreService& store, const std::string& path);

}  // namespace parvane::conversion
