// FileSystem::native() on Windows: wide-character paths (the engine's paths are
// UTF-8), in their extended-length form when long, and positioned reads and
// writes through OVERLAPPED offsets.
#ifdef _WIN32
#include <windows.h>

#include <algorithm>

#include "engine/core/text.h"
#include "engine/core/windows_path.h"
#include "engine/core/io_error.h"
#include "engine/ndb/file.h"

namespace parvane::ndb {
namespace {

[[noreturn]] void Fail(const char* operation, const std::string& path) {
  throw core::IoError::fromLastError(operation, path);
}

// The path as Windows' file calls take it at any length; empty for an empty
// path.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const std::u16string wide = core::utf8ToUtf16(utf8);
  return core::WindowsFilePath(std::wstring(wide.begin(), wide.end()));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// At most this much per ReadFile/WriteFile call.
constexpr std::size_t kChunk = std::size_t{1} << 30;

class WindowsFile final : public File {
 public:
  WindowsFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~WindowsFile() override { CloseHandle(handle_); }
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      const DWORD want = static_cast<DWORD>(std::min(data.size(), kChunk));
      OVERLAPPED position = At(offset);
      DWORD written = 0;
      if (!WriteFile(handle_, data.data(), want, &written, &position)) Fail("write", path_);
      if (written == 0) throw core::IoError("write", path_, core::IoError::SystemCause::ofWindowsError(ERROR_DISK_FULL));
      data = data.subspan(written);
      offset += written;
    }
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kChunk));
      OVERLAPPED position = At(offset + done);
      DWORD read = 0;
      if (!ReadFile(handle_, out.data() + done, want, &read, &position)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        Fail("read", path_);
      }
      if (read == 0) break;
      done += read;
    }
    return done;
  }

  void sync() override {
    if (!FlushFileBuffers(handle_)) Fail("sync", path_);
  }

  std::uint64_t size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) Fail("read the file's size", path_);
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void resize(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end)) {
      Fail("resize", path_);
    }
  }

 private:
  HANDLE handle_;
  std::string path_;
};

class WindowsFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> createExclusive(const std::string& path) override {
    // shared for deleting: a new store is renamed while it is open
    return open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_SHARE_READ | FILE_SHARE_DELETE, "create file");
  }
  std::unique_ptr<File> openRead(const std::string& path) override {
    return open(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ, "open file");
  }
  void removeFile(const std::string& path) noexcept override {
    const std::wstring wide = Wide(path);
    if (!wide.empty()) DeleteFileW(wide.c_str());
  }

  bool exists(const std::string& path) override {
    const std::wstring wide = Wide(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
    const std::wstring source = Wide(from), target = Wide(to);
    if (source.empty() || target.empty()) throw core::IoError("rename", to, core::IoError::SystemCause::ofWindowsError(ERROR_PATH_NOT_FOUND));
    // without MOVEFILE_REPLACE_EXISTING an existing target is refused
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) Fail("rename", to);
  }

 private:
  static std::unique_ptr<File> open(const std::string& path, DWORD access, DWORD disposition, DWORD share,
                                    const char* operation) {
    const std::wstring wide = Wide(path);
    if (wide.empty()) throw core::IoError(operation, path, core::IoError::SystemCause::ofWindowsError(ERROR_PATH_NOT_FOUND));
    HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail(operation, path);
    return std::make_unique<WindowsFile>(handle, path);
  }
};

}  // namespace

std::uint64_t currentProcessId() { return GetCurrentProcessId(); }

FileSystem& FileSystem::native() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace parvane::ndb
#endif  // _WIN32
