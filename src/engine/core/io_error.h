// The one error every layer raises when the operating system fails a file
// operation: it names the operation, the path and the system's own words for
// the cause, and keeps the cause as a kind a caller can act on (a full disk,
// a file that already exists). A file whose content is bad is not an I/O
// error; each format layer has its own error for that.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace parvane::core {

class IoError : public std::runtime_error {
 public:
  enum class Cause {
    NotFound,       // no such file or folder
    AlreadyExists,  // a file that must be new exists
    AccessDenied,   // no permission, a read-only file or medium, or a file in use
    DiskFull,
    NotAFile,       // a folder, a device or a pipe where a file was wanted
    Other,
  };

  // What the system said: the cause and its own words ("No space left on
  // device"). Read at once after the failing call, before anything can
  // overwrite errno or the last error.
  struct SystemCause {
    Cause cause;
    std::string text;
    static SystemCause ofErrno(int errorNumber);
#ifdef _WIN32
    static SystemCause ofWindowsError(unsigned long error);
#endif
    // errno on POSIX, GetLastError() on Windows.
    static SystemCause last();
  };

  // `operation` says what failed in a few words ("open file", "write"); the
  // message reads "<path>: cannot <operation>: <system's words>".
  IoError(std::string operation, std::string path, SystemCause why);
  static IoError fromErrno(std::string_view operation, std::string_view path, int errorNumber);
  static IoError fromLastError(std::string_view operation, std::string_view path);
  // A file refused for what it is (a pipe, a device, a folder) rather than
  // failed by the system: "<path>: <reason>".
  static IoError notAFile(std::string_view path, std::string reason);
  // A read of an open file at `offset`, failed or cut short by a file that
  // shrank: "<path>: read failed at offset N: <words>", "<path>: file shrank
  // while reading at offset N".
  static IoError readFailed(std::string_view path, std::uint64_t offset, SystemCause why);
  static IoError shrank(std::string_view path, std::uint64_t offset);

  // The same failure told about another path (a store's own name rather
  // than the temporary name it is written under).
  IoError about(std::string_view path) const;

  const std::string& operation() const noexcept { return operation_; }
  const std::string& path() const noexcept { return path_; }
  Cause cause() const noexcept { return cause_; }
  // The system's words for the cause.
  const std::string& reason() const noexcept { return reason_; }

 private:
  IoError(std::string message, std::string operation, std::string path, SystemCause why);

  std::string operation_;
  std::string path_;
  Cause cause_;
  std::string reason_;
};

}  // namespace parvane::core
