// A failure of the conversion's own text rules (a list row that names no usable
// folder). Raised, and turned into user text only by whoever shows it.
#pragma once

#include <stdexcept>
#include <string>

namespace parvane::conversion {

class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace parvane::conversion
