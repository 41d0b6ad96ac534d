// Store files kept in memory: the node database's file seam over byte
// vectors, so that a store can be written and read back without touching the
// disk (the import fuzzer writes thousands per second).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "engine/core/coding.h"
#include "engine/ndb/file.h"

namespace parvane::testsupport {

class MemoryFileSystem final : public ndb::FileSystem {
 public:
  std::unique_ptr<ndb::File> createExclusive(const std::string& path) override;
  std::unique_ptr<ndb::File> openRead(const std::string& path) override;
  void removeFile(const std::string& path) noexcept override;
  bool exists(const std::string& path) override;
  void renameNoReplace(const std::string& from, const std::string& to) override;

  // The bytes of a file, or nullptr if there is none. Changing them changes
  // what the next reader sees (for tests that damage a store).
  core::Bytes* contents(const std::string& path);

 private:
  std::map<std::string, std::shared_ptr<core::Bytes>> files_;
};

}  // namespace parvane::testsupport
