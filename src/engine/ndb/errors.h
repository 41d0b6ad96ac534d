// Errors of the node database layer. Every message names the structure and the
// field involved and, where there is one, the expected and the found value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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

// The operating system refused a file operation (disk full, permissions, a path
// that already exists...). The file is left as of its last commit.
class IoError : public NdbError {
 public:
  IoError(const std::string& operation, const std::string& path, int errorNumber);
  int errorNumber() const { return errno_; }
  // "write", "create", "rename"...
  const std::string& operation() const { return operation_; }
  // The system's words for the cause, e.g. "No space left on device".
  std::string reason() const;
  // The same failure told about another path (a store's own name rather than
  // the temporary name it is written under).
  IoError about(const std::string& path) const { return IoError(operation_, path, errno_); }

 private:
  std::string operation_;
  int errno_;
};

}  // namespace parvane::ndb
