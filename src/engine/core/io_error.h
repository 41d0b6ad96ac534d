// The one error every layer raises when the operating system fails a file
// operation: it names the operation, the path and the system's own cause, and
// keeps the cause as a kind a caller can act on (a full disk, a file that
// already exists). A file whose content is bad is not an I/O error; each format
// layer has its own error for that.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace parvane::core {

class IoError : public std::runtime_error {
 public:
  enum class Cause {
    NotFound,       // no such file or folder
    AlreadyExists,  // a file that must be new exists
    AccessDenied,   // no permission, or a read-only file or medium
    InUse,          // another program holds the file
    DiskFull,
    NotAFile,       // a folder, a device or a pipe where a file was wanted
    FileShrank,     // fewer bytes than the file's size when opened
    Other,
  };

  // `operation` says what failed in a few words ("open file", "write",
  // "read at offset 512"); the message reads "<path>: cannot <operation>:
  // <reason>", the reason being the system's own text.
  IoError(std::string operation, std::string path, Cause cause, std::string reason);

  // The factories take views, so that nothing is allocated (and no errno or
  // last error overwritten) before the system's code is read.
  // From an errno value, with strerror's text.
  static IoError fromErrno(std::string_view operation, std::string_view path, int errorNumber);
#ifdef _WIN32
  // From a GetLastError() value, with the system's message for it.
  static IoError fromWindowsError(std::string_view operation, std::string_view path, unsigned long error);
#endif
  // From the calling thread's last system error: errno on POSIX,
  // GetLastError() on Windows.
  static IoError fromLastError(std::string_view operation, std::string_view path);
  // A file refused for what it is (a pipe, a device, a folder) rather than
  // failed by the system: "<path>: <reason>".
  static IoError notAFile(std::string_view operation, std::string_view path, std::string reason);

  // The same failure told about another path (a store's own name rather
  // than the temporary name it is written under).
  IoError about(std::string_view path) const;

  const std::string& operation() const noexcept { return operation_; }
  const std::string& path() const noexcept { return path_; }
  Cause cause() const noexcept { return cause_; }
  const std::string& reason() const noexcept { return reason_; }

 private:
  IoError(std::string message, std::string operation, std::string path, Cause cause, std::string reason);

  std::string operation_;
  std::string path_;
  Cause cause_;
  std::string reason_;
};

}  // namespace parvane::core
