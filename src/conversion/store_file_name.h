// The file a new store is created in. A stamped name has a resolution of one
// second, so two runs into one folder within a second would meet: the later
// one takes the next free name, "<name> (2).pst", "<name> (3).pst", ...
#pragma once

#include <memory>
#include <string>

#include "platform/automation.h"

namespace parvane::conversion {

// `path` (ending in ".pst") with " (n)" before the extension; n = 1 is `path`.
std::string NumberedStorePath(const std::string& path, int number);
// Far more than runs can start in one second; past it the last refusal stands.
inline constexpr int kMostStoreNumbers = 10000;

// Adds the store at `path`, or, when `numbered` and a file there exists, at
// the first NumberedStorePath(path, 2, 3, ...) whose creation does not report
// an existing file (AutomationError::kFileExists). The creation is exclusive,
// so a name another run takes meanwhile is passed over too. `path` is left
// naming the file created. Other failures, and an existing file when not
// `numbered`, are raised as they come.
std::shared_ptr<platform::RDOStore> AddStoreAtFreePath(platform::RDOStores& stores, std::string& path,
                                                       bool numbered, std::int32_t format,
                                                       const std::string& displayName);

}  // namespace parvane::conversion
