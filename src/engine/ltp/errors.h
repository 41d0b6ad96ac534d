// Errors of the lists, tables and properties layer. Messages name the structure,
// the field and the expected and found values.
#pragma once

#include <stdexcept>
#include <string>

namespace parvane::ltp {

class LtpError : public std::runtime_error {
 public:
  explicit LtpError(const std::string& what) : std::runtime_error(what) {}
  static LtpError field(const std::string& structure, const std::string& field,
                        const std::string& expected, const std::string& found);
};

}  // namespace parvane::ltp
