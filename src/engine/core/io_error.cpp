#include "engine/core/io_error.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace parvane::core {

IoError::SystemCause IoError::SystemCause::ofErrno(int error) {
  Cause cause = Cause::Other;
  switch (error) {
    case ENOENT:
    case ENOTDIR: cause = Cause::NotFound; break;
    case EEXIST: cause = Cause::AlreadyExists; break;
    case EACCES:
    case EPERM:
    case EROFS: cause = Cause::AccessDenied; break;
    case ENOSPC:
    case EFBIG:  // past the file-size limit: no more room, as a full disk
#ifdef EDQUOT
    case EDQUOT:
#endif
      cause = Cause::DiskFull;
      break;
    case EISDIR: cause = Cause::NotAFile; break;
    default: break;
  }
  return {cause, std::strerror(error)};
}

#ifdef _WIN32

// The Windows errors a user can act on, in strerror's words as the POSIX
// builds say them.
IoError::SystemCause IoError::SystemCause::ofWindowsError(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
    case ERROR_NOT_READY:
      return {Cause::NotFound, "No such file or directory"};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return {Cause::AlreadyExists, "File exists"};
    case ERROR_ACCESS_DENIED:
      return {Cause::AccessDenied, "Permission denied"};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return {Cause::AccessDenied, "The file is in use by another program"};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {Cause::DiskFull, "No space left on device"};
    default:
      return {Cause::Other, "Windows error " + std::to_string(error)};
  }
}

IoError::SystemCause IoError::SystemCause::last() { return ofWindowsError(GetLastError()); }

#else

IoError::SystemCause IoError::SystemCause::last() { return ofErrno(errno); }

#endif

IoError::IoError(std::string operation, std::string path, SystemCause why)
    : IoError(path + ": cannot " + operation + ": " + why.text, operation, path, why) {}

IoError::IoError(std::string message, std::string operation, std::string path, SystemCause why)
    : std::runtime_error(message),
      operation_(std::move(operation)), path_(std::move(path)), cause_(why.cause), reason_(std::move(why.text)) {}

IoError IoError::fromErrno(std::string_view operation, std::string_view path, int errorNumber) {
  return IoError(std::string(operation), std::string(path), SystemCause::ofErrno(errorNumber));
}

IoError IoError::fromLastError(std::string_view operation, std::string_view path) {
  SystemCause why = SystemCause::last();
  return IoError(std::string(operation), std::string(path), std::move(why));
}

IoError IoError::notAFile(std::string_view path, std::string reason) {
  return IoError(std::string(path) + ": " + reason, "open file", std::string(path), {Cause::NotAFile, reason});
}

IoError IoError::readFailed(std::string_view path, std::uint64_t offset, SystemCause why) {
  return IoError(std::string(path) + ": read failed at offset " + std::to_string(offset) + ": " + why.text, "read",
                 std::string(path), why);
}

IoError IoError::shrank(std::string_view path, std::uint64_t offset) {
  return IoError(std::string(path) + ": file shrank while reading at offset " + std::to_string(offset), "read",
                 std::string(path), {Cause::Other, "the file shrank"});
}

IoError IoError::about(std::string_view path) const {
  std::string message = what();
  if (message.compare(0, path_.size(), path_) == 0) message.replace(0, path_.size(), path);
  return IoError(std::move(message), operation_, std::string(path), {cause_, reason_});
}

}  // namespace parvane::core
