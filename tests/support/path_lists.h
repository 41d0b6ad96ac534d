// A run's list of paths made from the plain strings a test writes.
#pragma once

#include <string>
#include <vector>

#include "conversion/path_list.h"

namespace parvane::testing {

inline conversion::PathList Listed(const std::vector<std::string>& paths) {
  conversion::PathList list;
  for (const auto& path : paths) list.append(path);
  return list;
}

}  // namespace parvane::testing
