// A file system that passes every call on to another one, so that a wrapper
// (a cache, a counter, a stand-in that can be swapped) overrides only the
// calls it changes.
#pragma once

#include <memory>
#include <string>

#include "engine/core/file_system.h"

namespace parvane::core {

class ForwardingFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> createExclusive(const std::string& path) override {
    return target().createExclusive(path);
  }
  std::unique_ptr<File> openRead(const std::string& path) override { return target().openRead(path); }
  void removeFile(const std::string& path) noexcept override { target().removeFile(path); }
  bool removeAbandoned(const std::string& path, std::uint64_t owner) noexcept override {
    return target().removeAbandoned(path, owner);
  }
  bool exists(const std::string& path) override { return target().exists(path); }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    target().renameNoReplace(from, to);
  }
  bool folderExists(const std::string& path) override { return target().folderExists(path); }
  FolderListing listFolder(const std::string& path) override { return target().listFolder(path); }

 protected:
  // Where the calls go; it may change between calls.
  virtual FileSystem& target() = 0;
};

}  // namespace parvane::core
