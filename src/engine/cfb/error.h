// The compound-file layer's one error type. Messages name the file, the
// structure and field, and what was expected against what was found.
#pragma once

#include <stdexcept>
#include <string>

namespace parvane::cfb {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace parvane::cfb
