// OpenMAPIFolder: a folder path of the mail profile ("\" + store display name +
// "\" + folder names) resolved through Outlook's object model.
#pragma once

#include <memory>
#include <string>

#include "platform/automation.h"

namespace parvane::conversion {

// Every step that fails is skipped and the lookup goes on: a name that is not
// found leaves the current folder as it was. Returns the deepest folder
// reached, or null; never raises. Creates its own "Outlook.Application".
std::shared_ptr<platform::OutlookFolder> OpenMAPIFolder(platform::ObjectFactory& factory,
                                                        const std::string& path);

}  // namespace parvane::conversion
