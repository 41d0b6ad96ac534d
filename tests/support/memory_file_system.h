// A file system kept in memory, for tests and the import fuzzer: store files
// as byte vectors (written and read back without touching the disk; the
// fuzzer writes thousands a second), and a folder tree to walk, its names
// listed in the order they were added. Folder paths take `separator` between
// names.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/file_system.h"
#include "engine/core/io_error.h"

namespace parvane::testing {

class MemoryFileSystem final : public core::FileSystem {
 public:
  explicit MemoryFileSystem(char separator = '\\') : sep_(separator) {}

  // The folder tree.
  void addFolder(const std::string& path) { folders_[withSep(path)]; }
  void addFile(const std::string& folder, const std::string& name) {
    folders_[withSep(folder)].files.push_back(name);
  }
  void addSubFolder(const std::string& folder, const std::string& name) {
    folders_[withSep(folder)].subFolders.push_back(name);
    addFolder(withSep(folder) + name);
  }
  void makeUnreadable(const std::string& folder) { folders_[withSep(folder)].unreadable = true; }

  bool folderExists(const std::string& path) override { return folders_.count(withSep(path)) != 0; }
  core::FolderListing listFolder(const std::string& path) override {
    auto it = folders_.find(withSep(path));
    if (it == folders_.end()) throw core::IoError::fromErrno("list folder", path, ENOENT);
    if (it->second.unreadable) throw core::IoError::fromErrno("list folder", path, EACCES);
    core::FolderListing listing;
    listing.folders = it->second.subFolders;
    listing.files = it->second.files;
    return listing;
  }

  // The files.
  std::unique_ptr<core::File> createExclusive(const std::string& path) override {
    if (files_.count(path)) throw core::IoError::fromErrno("create file", path, EEXIST);
    auto bytes = std::make_shared<core::Bytes>();
    files_.emplace(path, bytes);
    return std::make_unique<MemoryFile>(bytes, path, true);
  }
  std::unique_ptr<core::File> openRead(const std::string& path) override {
    auto it = files_.find(path);
    if (it == files_.end()) throw core::IoError::fromErrno("open file", path, ENOENT);
    return std::make_unique<MemoryFile>(it->second, path, false);
  }
  void removeFile(const std::string& path) noexcept override { files_.erase(path); }
  bool exists(const std::string& path) override { return files_.count(path) != 0; }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    auto it = files_.find(from);
    if (it == files_.end()) throw core::IoError::fromErrno("rename", from, ENOENT);
    if (files_.count(to)) throw core::IoError::fromErrno("rename", to, EEXIST);
    // open files share the bytes, so they follow the new name
    auto bytes = it->second;
    files_.erase(it);
    files_.emplace(to, std::move(bytes));
  }

  // The bytes of a file, or nullptr if there is none. Changing them changes
  // what the next reader sees (for tests that damage a store).
  core::Bytes* contents(const std::string& path) {
    auto it = files_.find(path);
    return it == files_.end() ? nullptr : it->second.get();
  }

 private:
  class MemoryFile final : public core::File {
   public:
    MemoryFile(std::shared_ptr<core::Bytes> bytes, std::string path, bool writable)
        : bytes_(std::move(bytes)), path_(std::move(path)), writable_(writable) {}
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      if (!writable_) throw core::IoError::fromErrno("write", path_, EBADF);
      if (data.empty()) return;
      std::lock_guard lock(mutex_);
      if (offset + data.size() > bytes_->size()) bytes_->resize(static_cast<std::size_t>(offset + data.size()));
      std::memcpy(bytes_->data() + offset, data.data(), data.size());
    }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
      std::lock_guard lock(mutex_);
      if (offset >= bytes_->size()) return 0;
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), bytes_->size() - offset));
      std::memcpy(out.data(), bytes_->data() + offset, n);
      return n;
    }
    void sync() override {}
    std::uint64_t size() const override {
      std::lock_guard lock(mutex_);
      return bytes_->size();
    }
    void resize(std::uint64_t size) override {
      if (!writable_) throw core::IoError::fromErrno("resize", path_, EBADF);
      std::lock_guard lock(mutex_);
      bytes_->resize(static_cast<std::size_t>(size));
    }

   private:
    std::shared_ptr<core::Bytes> bytes_;
    std::string path_;
    bool writable_;
    // a store reads its file on one thread while it writes other bytes on another
    mutable std::mutex mutex_;
  };

  struct Folder {
    std::vector<std::string> subFolders, files;
    bool unreadable = false;
  };
  std::string withSep(std::string p) const {
    if (p.empty() || p.back() != sep_) p += sep_;
    return p;
  }

  char sep_;
  std::map<std::string, Folder> folders_;
  std::map<std::string, std::shared_ptr<core::Bytes>> files_;
};

}  // namespace parvane::testing
