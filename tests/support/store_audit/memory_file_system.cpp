#include "support/store_audit/memory_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/core/io_error.h"

namespace parvane::testsupport {
namespace {

class MemoryFile final : public ndb::File {
 public:
  MemoryFile(std::shared_ptr<core::Bytes> bytes, std::string path, bool writable)
      : bytes_(std::move(bytes)), path_(std::move(path)), writable_(writable) {}

  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (!writable_) throw core::IoError::fromErrno("write", path_, EBADF);
    if (data.empty()) return;
    if (offset + data.size() > bytes_->size()) bytes_->resize(static_cast<std::size_t>(offset + data.size()));
    std::memcpy(bytes_->data() + offset, data.data(), data.size());
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (offset >= bytes_->size()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), bytes_->size() - offset));
    std::memcpy(out.data(), bytes_->data() + offset, n);
    return n;
  }

  void sync() override {}
  std::uint64_t size() override { return bytes_->size(); }

  void resize(std::uint64_t size) override {
    if (!writable_) throw core::IoError::fromErrno("resize", path_, EBADF);
    bytes_->resize(static_cast<std::size_t>(size));
  }

 private:
  std::shared_ptr<core::Bytes> bytes_;
  std::string path_;
  bool writable_;
};

}  // namespace

std::unique_ptr<ndb::File> MemoryFileSystem::createExclusive(const std::string& path) {
  if (files_.count(path)) throw core::IoError::fromErrno("create file", path, EEXIST);
  auto bytes = std::make_shared<core::Bytes>();
  files_.emplace(path, bytes);
  return std::make_unique<MemoryFile>(bytes, path, true);
}

std::unique_ptr<ndb::File> MemoryFileSystem::openRead(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) throw core::IoError::fromErrno("open file", path, ENOENT);
  return std::make_unique<MemoryFile>(it->second, path, false);
}

void MemoryFileSystem::removeFile(const std::string& path) noexcept { files_.erase(path); }

bool MemoryFileSystem::exists(const std::string& path) { return files_.count(path) != 0; }

void MemoryFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) throw core::IoError::fromErrno("rename", from, ENOENT);
  if (files_.count(to)) throw core::IoError::fromErrno("rename", to, EEXIST);
  // open files share the bytes, so they follow the new name
  auto bytes = it->second;
  files_.erase(it);
  files_.emplace(to, std::move(bytes));
}

core::Bytes* MemoryFileSystem::contents(const std::string& path) {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second.get();
}

}  // namespace parvane::testsupport
