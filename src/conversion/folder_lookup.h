// OpenMAPIFolder: a folder path of the mail profile ("\" + store display name +
// "\" + folder names) resolved through Outlook's object model.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "conversion/store_service.h"
#include "platform/automation.h"

namespace parvane::conversion {

// Every step that fails is skipped and the lookup goes on: a name that is not
// found leaves the current folder as it was. Returns the deepest folder
// reached, or null; never raises. Creates its own "Outlook.Application".
std::shared_ptr<platform::OutlookFolder> OpenMAPIFolder(platform::ObjectFactory& factory,
                                                        const std::string& path);

// A folder path ("\" + store display name + "\" + folder names) looked up name
// by name: the first name among the attached stores' top folders, each further
// one among the subfolders of the folder found so far. A name that is not
// found is stepped over, so the result is the deepest folder reached, or none.
std::optional<FolderHandle> FindFolderByPath(StoreService& store, const std::string& path);

}  // namespace parvane::conversion
