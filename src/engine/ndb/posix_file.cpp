// FileSystem::native() on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/ndb/errors.h"
#include "engine/ndb/file.h"

namespace parvane::ndb {
namespace {

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      ssize_t n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IoError("write", path_, errno);
      }
      if (n == 0) throw IoError("write", path_, ENOSPC);
      data = data.subspan(static_cast<std::size_t>(n));
      offset += static_cast<std::uint64_t>(n);
    }
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IoError("read", path_, errno);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void sync() override {
    if (::fdatasync(fd_) != 0) throw IoError("sync", path_, errno);
  }

  std::uint64_t size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw IoError("stat", path_, errno);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void resize(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw IoError("resize", path_, errno);
  }

 private:
  int fd_;
  std::string path_;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> createExclusive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw IoError("create", path, errno);
    return std::make_unique<PosixFile>(fd, path);
  }
  std::unique_ptr<File> openRead(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError("open", path, errno);
    return std::make_unique<PosixFile>(fd, path);
  }
  void removeFile(const std::string& path) noexcept override { ::unlink(path.c_str()); }
};

}  // namespace

FileSystem& FileSystem::native() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace parvane::ndb
