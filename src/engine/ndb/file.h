// The file-system seam of the node database: every byte the engine reads or
// writes goes through these two interfaces, so tests can inject failures (disk
// full, failing sync) and another platform can plug in its own API.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace parvane::ndb {

class File {
 public:
  virtual ~File() = default;
  // Writes all of `data` at `offset`, extending the file if needed. Throws core::IoError.
  virtual void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Reads up to out.size() bytes at `offset`; returns the count (short at end of file).
  virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // Makes everything written so far durable.
  virtual void sync() = 0;
  virtual std::uint64_t size() = 0;
  // Sets the file's size (zero-filled when growing).
  virtual void resize(std::uint64_t size) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates a new file for reading and writing; fails with core::IoError if the path exists.
  virtual std::unique_ptr<File> createExclusive(const std::string& path) = 0;
  // Opens an existing file read-only.
  virtual std::unique_ptr<File> openRead(const std::string& path) = 0;
  // Removes a file this process created (a store whose creation failed); quiet on failure.
  virtual void removeFile(const std::string& path) noexcept = 0;
  // True when something (file, folder, link, even a dangling one) has this name.
  virtual bool exists(const std::string& path) = 0;
  // Gives the file `from` the name `to` in one atomic step, both in one folder,
  // while `from` may be open. Never replaces anything: when `to` exists it
  // fails with core::IoError (AlreadyExists) and changes nothing.
  virtual void renameNoReplace(const std::string& from, const std::string& to) = 0;

  // The operating system's file system.
  static FileSystem& native();
};

// This process's id, for names that no other running process uses.
std::uint64_t currentProcessId();

}  // namespace parvane::ndb
