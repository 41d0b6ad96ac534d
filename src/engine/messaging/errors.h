// Errors of the messaging layer. A StoreError names the structure and the
// field and, where there is one, the expected and the found value; the import
// layer turns it into the store service's typed failure.
#pragma once

#include <stdexcept>
#include <string>

namespace parvane::messaging {

class StoreError : public std::runtime_error {
 public:
  // FileExists: the file a new store was to be created in exists already.
  // Abandoned: the caller asked to stop while a message was written; the
  // message is not in the store, the store is as before it.
  enum class Kind { Format, NameCollision, NotFound, Closed, Io, FileExists, Abandoned };
  StoreError(const std::string& structure, const std::string& field, const std::string& expected,
             const std::string& found, Kind kind = Kind::Format)
      : std::runtime_error(structure + "." + field + ": expected " + expected + ", found " + found),
        kind_(kind) {}
  StoreError(Kind kind, const std::string& what, int errorNumber = 0)
      : std::runtime_error(what), kind_(kind), errorNumber_(errorNumber) {}
  Kind kind() const { return kind_; }
  // For Kind::Io: the operating system's error number (ENOSPC...), 0 if none.
  int errorNumber() const { return errorNumber_; }

 private:
  Kind kind_;
  int errorNumber_ = 0;
};

}  // namespace parvane::messaging
