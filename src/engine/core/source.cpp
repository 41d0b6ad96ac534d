#include "engine/core/source.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include <algorithm>

#include "engine/core/windows_path.h"
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

// Positioned reads through OVERLAPPED offsets never move a shared file
// position, so readers on several threads need no lock, as with pread.
struct FileSource::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
};

FileSource::FileSource(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), name_(Utf8Name(path)) {
  // Shared with readers and writers, as the C runtime opens files.
  const std::wstring native = WindowsFilePath(path.native());
  handle_->file = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_->file == INVALID_HANDLE_VALUE) {
    throw IoError::fromLastError("open file", name_);
  }
  // Only files on a disk are read: a pipe or a device (a name such as "CON")
  // is refused.
  LARGE_INTEGER size{};
  const DWORD type = GetFileType(handle_->file);
  if (type != FILE_TYPE_DISK || !GetFileSizeEx(handle_->file, &size)) {
    CloseHandle(handle_->file);
    handle_->file = INVALID_HANDLE_VALUE;
    throw IoError::notAFile(name_, type == FILE_TYPE_PIPE   ? "not a regular file (a pipe)"
                            : type == FILE_TYPE_CHAR ? "not a regular file (a character device)"
                                                     : "not a regular file");
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
}

FileSource::~FileSource() {
  if (handle_ && handle_->file != INVALID_HANDLE_VALUE) CloseHandle(handle_->file);
}

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange(name_, offset, out.size(), size_);
  constexpr std::size_t kChunk = std::size_t{1} << 30;  // at most this much per ReadFile
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kChunk));
    DWORD read = 0;
    if (!ReadFile(handle_->file, out.data() + done, want, &read, &position)) {
      const DWORD error = GetLastError();
      if (error != ERROR_HANDLE_EOF) {
        throw IoError::readFailed(name_, at, IoError::SystemCause::ofWindowsError(error));
      }
    }
    if (read == 0) throw IoError::shrank(name_, at);
    done += read;
  }
}

#else

struct FileSource::Handle {
  int fd = -1;
};

namespace {

// What a file that is not a regular one is, for the refusal.
std::string NotRegularReason(mode_t mode) {
  const char* kind = S_ISFIFO(mode)  ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISDIR(mode)  ? "a folder"
                                      : nullptr;
  return kind ? std::string("not a regular file (") + kind + ")" : "not a regular file";
}

}  // namespace

// Only regular files are read. A FIFO, socket or device is refused from its
// status without being opened (opening one may block for ever or act on the
// device); the open itself is non-blocking, and the descriptor's own status
// is checked again, in case the name changed in between.
FileSource::FileSource(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), name_(Utf8Name(path)) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw IoError::notAFile(name_, NotRegularReason(st.st_mode));
  }
  handle_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (handle_->fd < 0) throw IoError::fromLastError("open file", name_);
  if (::fstat(handle_->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string reason = NotRegularReason(st.st_mode);
    ::close(handle_->fd);
    handle_->fd = -1;
    throw IoError::notAFile(name_, reason);
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
      throw IoError::readFailed(name_, offset + done, IoError::SystemCause::last());
    }
    if (n == 0) throw IoError::shrank(name_, offset + done);
    done += static_cast<std::size_t>(n);
  }
}

#endif

}  // namespace parvane::core
