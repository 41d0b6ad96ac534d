#include "conversion/store_file_name.h"

namespace parvane::conversion {

std::string NumberedStorePath(const std::string& path, int number) {
  if (number <= 1) return path;
  const std::string suffix = " (" + std::to_string(number) + ")";
  const auto dot = path.rfind('.');
  const auto separator = path.find_last_of("/\\");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

std::shared_ptr<platform::RDOStore> AddStoreAtFreePath(platform::RDOStores& stores, std::string& path,
                                                       bool numbered, std::int32_t format,
                                                       const std::string& displayName) {
  const std::string first = path;
  for (int number = 1;; ++number) {
    path = NumberedStorePath(first, number);
    try {
      return stores.AddPSTStore(path, format, displayName);
    } catch (const platform::AutomationError& e) {
      if (!numbered || e.code() != platform::AutomationError::kFileExists || number >= kMostStoreNumbers) throw;
    }
  }
}

}  // namespace parvane::conversion
