// A file system for tests: every call goes to the native one, while the
// files it creates count their changes (writes and size changes) and can fail
// like a full disk, or hand each change to the test before it happens (to stop
// the process right there, as a crash would).
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "engine/core/io_error.h"
#include "engine/core/forwarding_file_system.h"

namespace parvane::testing {

class FaultyFileSystem final : public core::ForwardingFileSystem {
 public:
  // Extend: a write reaching past the file's end.
  enum class Change { Write, Extend, Resize };

  // Writes fail with ENOSPC once this many bytes were written in all; the
  // bytes that still fit are written first, as a disk does.
  std::uint64_t writeBudget = std::numeric_limits<std::uint64_t>::max();
  // Called before each change, numbered from 1 over every file created here.
  std::function<void(std::uint64_t number, Change change, std::uint64_t offset)> beforeChange;
  // Called before each sync with the offset of the file's last write; it may
  // throw, as a sync the disk fails (EIO).
  std::function<void(std::uint64_t lastWrite)> beforeSync;

  std::uint64_t changes() const { return changes_; }
  std::uint64_t bytesWritten() const { return written_; }
  std::uint64_t created() const { return created_; }

  std::unique_ptr<core::File> createExclusive(const std::string& path) override {
    auto file = native().createExclusive(path);
    ++created_;
    return std::make_unique<Counted>(std::move(file), *this, path);
  }

 private:
  core::FileSystem& target() override { return native(); }
  class Counted final : public core::File {
   public:
    Counted(std::unique_ptr<core::File> file, FaultyFileSystem& owner, std::string path)
        : file_(std::move(file)), owner_(owner), path_(std::move(path)) {}
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      owner_.change(offset + data.size() > end_ ? Change::Extend : Change::Write, offset);
      end_ = std::max(end_, offset + data.size());
      lastWrite_ = offset;
      const std::uint64_t before = owner_.written_.load();
      const std::uint64_t room = owner_.writeBudget > before ? owner_.writeBudget - before : 0;
      if (data.size() > room) {
        file_->writeAt(offset, data.first(static_cast<std::size_t>(room)));
        owner_.written_ += room;
        throw core::IoError::fromErrno("write", path_, ENOSPC);
      }
      file_->writeAt(offset, data);
      owner_.written_ += data.size();
    }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
      return file_->readAt(offset, out);
    }
    void sync() override {
      if (owner_.beforeSync) owner_.beforeSync(lastWrite_);
      file_->sync();
    }
    std::uint64_t size() const override { return file_->size(); }
    void resize(std::uint64_t size) override {
      owner_.change(Change::Resize, size);
      file_->resize(size);
      end_ = size;
    }

   private:
    std::unique_ptr<core::File> file_;
    FaultyFileSystem& owner_;
    std::string path_;
    std::uint64_t end_ = 0;  // the file's size, as this file made it
    std::uint64_t lastWrite_ = 0;
  };

  static core::FileSystem& native() { return core::FileSystem::native(); }
  void change(Change what, std::uint64_t offset) {
    const std::uint64_t number = ++changes_;
    if (beforeChange) beforeChange(number, what, offset);
  }

  // the store's writer thread and its owner take turns, never write at once
  std::atomic<std::uint64_t> changes_{0}, written_{0}, created_{0};
};

}  // namespace parvane::testing
