// Errors of the messaging layer. A StoreError names the structure and the
// field and, where there is one, the expected and the found value; the import
// layer turns it into the store service's typed failure.
#pragma once

#include <stdexcept>
#include <string>

#include "engine/core/io_error.h"

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
  StoreError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  // The store's file could not be created, written or read: Kind::FileExists
  // when it was to be new and exists, else Kind::Io, with the system's cause.
  StoreError(const core::IoError& io, const std::string& what)
      : std::runtime_error(what),
        kind_(io.cause() == core::IoError::Cause::AlreadyExists ? Kind::FileExists : Kind::Io),
        ioCause_(io.cause()) {}
  Kind kind() const { return kind_; }
  // Why the file operation failed, for Kind::Io and Kind::FileExists.
  core::IoError::Cause ioCause() const { return ioCause_; }

 private:
  Kind kind_;
  core::IoError::Cause ioCause_ = core::IoError::Cause::Other;
};

}  // namespace parvane::messaging
