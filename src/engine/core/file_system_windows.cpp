// FileSystem::native() on Windows: wide-character paths (the engine's paths are
// UTF-8), in their extended-length form when long, and positioned reads and
// writes through OVERLAPPED offsets, which never move a shared file position,
// so readers on several threads need no lock.
#ifdef _WIN32
#include <windows.h>

#include <algorithm>

#include "engine/core/file_system.h"
#include "engine/core/io_error.h"
#include "engine/core/text.h"
#include "engine/core/windows_path.h"

namespace parvane::core {
namespace {

using Why = IoError::SystemCause;

[[noreturn]] void Fail(const char* operation, const std::string& path) {
  throw IoError::fromLastError(operation, path);
}

// The path as Windows' file calls take it at any length; empty for an empty
// path.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const std::u16string wide = utf8ToUtf16(utf8);
  return WindowsFilePath(std::wstring(wide.begin(), wide.end()));
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
  HANDLE handle() const { return handle_; }
  WindowsFile(const WindowsFile&) = delete;
  WindowsFile& operator=(const WindowsFile&) = delete;

  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      const DWORD want = static_cast<DWORD>(std::min(data.size(), kChunk));
      OVERLAPPED position = At(offset);
      DWORD written = 0;
      if (!WriteFile(handle_, data.data(), want, &written, &position)) Fail("write", path_);
      if (written == 0) throw IoError("write", path_, Why::ofWindowsError(ERROR_DISK_FULL));
      data = data.subspan(written);
      offset += written;
    }
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    std::size_t done = 0;
    while (done < out.size()) {
      const DWORD want = static_cast<DWORD>(std::min(out.size() - done, kChunk));
      OVERLAPPED position = At(offset + done);
      DWORD read = 0;
      if (!ReadFile(handle_, out.data() + done, want, &read, &position)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) break;
        throw IoError::readFailed(path_, offset + done, Why::ofWindowsError(error));
      }
      if (read == 0) break;
      done += read;
    }
    return done;
  }

  void sync() override {
    if (!FlushFileBuffers(handle_)) Fail("sync", path_);
  }

  std::uint64_t size() const override {
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
  // Shared with readers and writers, as the C runtime opens files. Only files
  // on a disk are read: a pipe or a device (a name such as "CON") is refused.
  std::unique_ptr<File> openRead(const std::string& path) override {
    auto file = open(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE, "open file");
    const DWORD type = GetFileType(file->handle());
    if (type != FILE_TYPE_DISK) {
      throw IoError::notAFile(path, type == FILE_TYPE_PIPE   ? "not a regular file (a pipe)"
                                    : type == FILE_TYPE_CHAR ? "not a regular file (a character device)"
                                                             : "not a regular file");
    }
    return file;
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
    if (source.empty() || target.empty()) throw IoError("rename", to, Why::ofWindowsError(ERROR_PATH_NOT_FOUND));
    // without MOVEFILE_REPLACE_EXISTING an existing target is refused
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) Fail("rename", to);
  }

  bool folderExists(const std::string& path) override {
    const std::wstring wide = Wide(path);
    const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  // A reparse point (junction, symbolic link) to a folder is neither a
  // subfolder nor a file; any other non-folder entry is a file.
  FolderListing listFolder(const std::string& path) override {
    std::wstring pattern = Wide(path);
    if (pattern.empty()) throw IoError("list folder", path, Why::ofWindowsError(ERROR_PATH_NOT_FOUND));
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    FolderListing listing;
    if (search == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // An empty drive root has no "." or ".." and so matches nothing at all.
      if (error == ERROR_FILE_NOT_FOUND &&
          GetFileAttributesW(pattern.substr(0, pattern.size() - 1).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return listing;
      }
      throw IoError("list folder", path, Why::ofWindowsError(error));
    }
    const std::unique_ptr<void, decltype(&FindClose)> closer(search, &FindClose);
    do {
      const std::wstring_view name(entry.cFileName);
      if (name == L"." || name == L"..") continue;
      const std::string utf8 = toUtf8(std::u16string(name.begin(), name.end()));
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        listing.files.push_back(utf8);
      } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        listing.folderLinks.push_back(utf8);
      } else {
        listing.folders.push_back(utf8);
      }
    } while (FindNextFileW(search, &entry));
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) throw IoError("list folder", path, Why::ofWindowsError(error));
    for (auto* names : {&listing.folders, &listing.files, &listing.folderLinks}) {
      std::sort(names->begin(), names->end(), listingOrderLess);
    }
    return listing;
  }

 private:
  static std::unique_ptr<WindowsFile> open(const std::string& path, DWORD access, DWORD disposition, DWORD share,
                                    const char* operation) {
    const std::wstring wide = Wide(path);
    if (wide.empty()) throw IoError(operation, path, Why::ofWindowsError(ERROR_PATH_NOT_FOUND));
    HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail(operation, path);
    return std::make_unique<WindowsFile>(handle, path);
  }
};

}  // namespace

bool listingOrderLess(const std::string& a, const std::string& b) {
  const std::u16string ua = utf8ToUtf16(a), ub = utf8ToUtf16(b);
  const auto compare = [&](BOOL ignoreCase) {
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(ua.data()), static_cast<int>(ua.size()),
                                reinterpret_cast<const wchar_t*>(ub.data()), static_cast<int>(ub.size()),
                                ignoreCase);
  };
  const int folded = compare(TRUE);
  if (folded != CSTR_EQUAL) return folded == CSTR_LESS_THAN;
  return compare(FALSE) == CSTR_LESS_THAN;
}

std::uint64_t currentProcessId() { return GetCurrentProcessId(); }

FileSystem& FileSystem::native() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace parvane::core
#endif  // _WIN32
