#include "engine/ndb/errors.h"

namespace parvane::ndb {

NdbError NdbError::field(const std::string& structure, const std::string& field,
                         const std::string& expected, const std::string& found) {
  return NdbError(structure + "." + field + ": expected " + expected + ", found " + found);
}

}  // namespace parvane::ndb
