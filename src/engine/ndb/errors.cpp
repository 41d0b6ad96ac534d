#include "engine/ndb/errors.h"

#include <cstring>

namespace parvane::ndb {

NdbError NdbError::field(const std::string& structure, const std::string& field,
                         const std::string& expected, const std::string& found) {
  return NdbError(structure + "." + field + ": expected " + expected + ", found " + found);
}

IoError::IoError(const std::string& operation, const std::string& path, int errorNumber)
    : NdbError(operation + " " + path + ": " + std::strerror(errorNumber)), operation_(operation), errno_(errorNumber) {}

std::string IoError::reason() const { return std::strerror(errno_); }

}  // namespace parvane::ndb
