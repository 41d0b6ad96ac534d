// The file a new store is created in. A stamped name has a resolution of one
// second, so two runs into one folder within a second would meet: the later
// one takes the next free name, "<name> (2).pst", "<name> (3).pst", ...
#pragma once

#include <string>

namespace parvane::conversion {

// `path` (ending in ".pst") with " (n)" before the extension; n = 1 is `path`.
std::string NumberedStorePath(const std::string& path, int number);
// Far more than runs can start in one second; past it the last refusal stands.
inline constexpr int kMostStoreNumbers = 10000;

}  // namespace parvane::conversion
