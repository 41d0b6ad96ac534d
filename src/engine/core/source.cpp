#include "engine/core/source.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <fstream>
#include <mutex>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvane::core {

namespace {

// A path's name as UTF-8 on every platform (string() would use the Windows
// code page there, and fail on names outside it).
std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

void checkRange(const std::string& what, std::uint64_t offset, std::uint64_t n, std::uint64_t size) {
  if (offset > size || n > size - offset) {
    const auto available = offset > size ? 0 : size - offset;
    throw TruncatedError(what, static_cast<std::size_t>(offset), static_cast<std::size_t>(n),
                         static_cast<std::size_t>(available));
  }
}

Bytes ByteSource::readAll() const {
  return read(0, static_cast<std::size_t>(size()));
}

void MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange("memory source", offset, out.size(), data_.size());
  if (!out.empty()) std::memcpy(out.data(), data_.data() + offset, out.size());
}

void ViewSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange("memory source", offset, out.size(), data_.size());
  if (!out.empty()) std::memcpy(out.data(), data_.data() + offset, out.size());
}

#if defined(_WIN32)

struct FileSource::Handle {
  mutable std::ifstream in;
  mutable std::mutex lock;
};

FileSource::FileSource(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), name_(Utf8Name(path)) {
  handle_->in.open(path, std::ios::binary);
  if (!handle_->in) throw IoError(name_ + ": cannot open file");
  handle_->in.seekg(0, std::ios::end);
  size_ = static_cast<std::uint64_t>(handle_->in.tellg());
}

FileSource::~FileSource() = default;

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange(name_, offset, out.size(), size_);
  std::lock_guard<std::mutex> guard(handle_->lock);
  handle_->in.seekg(static_cast<std::streamoff>(offset));
  handle_->in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  if (!handle_->in) throw IoError(name_ + ": read failed at offset " + std::to_string(offset));
}

#else

struct FileSource::Handle {
  int fd = -1;
};

FileSource::FileSource(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), name_(Utf8Name(path)) {
  handle_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle_->fd < 0) throw IoError(name_ + ": cannot open file: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(handle_->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(handle_->fd);
    throw IoError(name_ + ": not a regular file");
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

FileSource::~FileSource() {
  if (handle_ && handle_->fd >= 0) ::close(handle_->fd);
}

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange(name_, offset, out.size(), size_);
  std::size_t done = 0;
  while (done < out.size()) {
    const auto n = ::pread(handle_->fd, out.data() + done, out.size() - done,
                           static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IoError(name_ + ": read failed at offset " + std::to_string(offset + done) + ": " +
                    std::strerror(errno));
    }
    if (n == 0) throw IoError(name_ + ": file shrank while reading at offset " + std::to_string(offset + done));
    done += static_cast<std::size_t>(n);
  }
}

#endif

}  // namespace parvane::core
