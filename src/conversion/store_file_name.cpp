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

}  // namespace parvane::conversion
