// Errors of the messaging layer. A StoreError names the structure and the
// field and, where there is one, the expected and the found value; the session
// layer turns it into the text a user reads.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/core/io_error.h"

namespace parvane::messaging {

class StoreError : public std::runtime_error {
 public:
  // FileExists: the file a new store was to be created in exists already.
  enum class Kind { Format, NameCollision, NotFound, Closed, Io, FileExists };
  StoreError(const std::string& structure, const std::string& field, const std::string& expected,
             const std::string& found, Kind kind = Kind::Format)
      : std::runtime_error(structure + "." + field + ": expected " + expected + ", found " + found),
        kind_(kind) {}
  StoreError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  // The store's file could not be created, written or read: Kind::FileExists
  // when it was to be new and exists, else Kind::Io; the system's failure is
  // kept whole.
  StoreError(const core::IoError& io, const std::string& what)
      : std::runtime_error(what),
        kind_(io.cause() == core::IoError::Cause::AlreadyExists ? Kind::FileExists : Kind::Io),
        io_(io) {}
  Kind kind() const { return kind_; }
  // The failed file operation, for Kind::Io and Kind::FileExists.
  const core::IoError* io() const { return io_ ? &*io_ : nullptr; }

 private:
  Kind kind_;
  std::optional<core::IoError> io_;
};

}  // namespace parvane::messaging
