// Errors of the node database layer. Every message names the structure and the
// field involved and, where there is one, the expected and the found value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/core/io_error.h"
#include "engine/core/text.h"

namespace parvane::ndb {

// Numbers in messages are written in hex, as every layer writes them.
using core::hex;

// A structure on disk (or handed in by a caller) is not what the format allows.
class NdbError : public std::runtime_error {
 public:
  explicit NdbError(const std::string& what) : std::runtime_error(what) {}
  // "<structure>.<field>: expected <expected>, found <found>"
  static NdbError field(const std::string& structure, const std::string& field,
                        const std::string& expected, const std::string& found);
};

// When the operating system refuses a file operation (disk full, permissions,
// a path that already exists...) this layer raises core::IoError; the file is
// left as of its last commit.

}  // namespace parvane::ndb
