// FileSystem::native() on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "engine/core/io_error.h"
#include "engine/ndb/file.h"

namespace parvane::ndb {
namespace {

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    const std::uint64_t start = offset;
    while (!data.empty()) {
      ssize_t n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw core::IoError::fromLastError("write", path_);
      }
      if (n == 0) throw core::IoError::fromErrno("write", path_, ENOSPC);
      data = data.subspan(static_cast<std::size_t>(n));
      offset += static_cast<std::uint64_t>(n);
    }
    noteWritten(start, offset);
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw core::IoError::fromLastError("read", path_);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void sync() override {
    if (::fdatasync(fd_) != 0) throw core::IoError::fromLastError("sync", path_);
    dirtyFrom_ = dirtyTo_ = dirtyBytes_ = 0;
  }

  std::uint64_t size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw core::IoError::fromLastError("read the file's size", path_);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void resize(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw core::IoError::fromLastError("resize", path_);
  }

 private:
  // Starts write-back of what was written since the last start once a few
  // megabytes have gathered, without waiting for it, so that the sync of a
  // commit finds little left to write. Durability still comes from sync().
  void noteWritten(std::uint64_t from, std::uint64_t to) {
#ifdef __linux__
    if (dirtyBytes_ == 0) {
      dirtyFrom_ = from;
      dirtyTo_ = to;
    } else {
      dirtyFrom_ = std::min(dirtyFrom_, from);
      dirtyTo_ = std::max(dirtyTo_, to);
    }
    dirtyBytes_ += to - from;
    if (dirtyBytes_ < kWriteBackEvery) return;
    // advice only: a failure here shows up, if it matters, in sync()
    (void)::sync_file_range(fd_, static_cast<off_t>(dirtyFrom_), static_cast<off_t>(dirtyTo_ - dirtyFrom_),
                            SYNC_FILE_RANGE_WRITE);
    dirtyFrom_ = dirtyTo_ = dirtyBytes_ = 0;
#else
    (void)from;
    (void)to;
#endif
  }

  static constexpr std::uint64_t kWriteBackEvery = 4ull << 20;
  int fd_;
  std::string path_;
  std::uint64_t dirtyFrom_ = 0, dirtyTo_ = 0, dirtyBytes_ = 0;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> createExclusive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw core::IoError::fromLastError("create file", path);
    return std::make_unique<PosixFile>(fd, path);
  }
  std::unique_ptr<File> openRead(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw core::IoError::fromLastError("open file", path);
    return std::make_unique<PosixFile>(fd, path);
  }
  void removeFile(const std::string& path) noexcept override { ::unlink(path.c_str()); }

  bool exists(const std::string& path) override {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return syncFolderOf(to);
    // EINVAL: a file system (or kernel) without the flag; the ways below do the same
    if (errno != EINVAL && errno != ENOSYS) throw core::IoError::fromErrno("rename", to, errno);
#endif
    // link() refuses an existing name just as well; then the temporary name goes
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return syncFolderOf(to);
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS) throw core::IoError::fromErrno("rename", to, errno);
    // A file system without hard links (FAT through some drivers): a checked
    // rename, which a name created in the instant between could still lose to.
    if (exists(to)) throw core::IoError::fromErrno("rename", to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) throw core::IoError::fromErrno("rename", to, errno);
    syncFolderOf(to);
  }

 private:
  // Makes a new name durable. Advice only: without it a crash can lose the
  // name, never the data already synced through the file.
  static void syncFolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
  }
};

}  // namespace

std::uint64_t currentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

FileSystem& FileSystem::native() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace parvane::ndb
