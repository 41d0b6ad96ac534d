#include "engine/core/io_error.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "engine/core/text.h"
#endif

namespace parvane::core {

namespace {

IoError::Cause CauseOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return IoError::Cause::NotFound;
    case EEXIST: return IoError::Cause::AlreadyExists;
    case EACCES:
    case EPERM:
    case EROFS:
      return IoError::Cause::AccessDenied;
    case ETXTBSY:
    case EBUSY:
      return IoError::Cause::InUse;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return IoError::Cause::DiskFull;
    case EISDIR: return IoError::Cause::NotAFile;
    default: return IoError::Cause::Other;
  }
}

}  // namespace

IoError::IoError(std::string operation, std::string path, Cause cause, std::string reason)
    : IoError(path + ": cannot " + operation + ": " + reason, operation, path, cause, reason) {}

IoError::IoError(std::string message, std::string operation, std::string path, Cause cause, std::string reason)
    : std::runtime_error(message),
      operation_(std::move(operation)), path_(std::move(path)), cause_(cause), reason_(std::move(reason)) {}

IoError IoError::about(std::string_view path) const {
  if (cause_ == Cause::NotAFile) return notAFile(operation_, path, reason_);
  return IoError(operation_, std::string(path), cause_, reason_);
}

IoError IoError::notAFile(std::string_view operation, std::string_view path, std::string reason) {
  return IoError(std::string(path) + ": " + reason, std::string(operation), std::string(path), Cause::NotAFile,
                 reason);
}

IoError IoError::fromErrno(std::string_view operation, std::string_view path, int errorNumber) {
  return IoError(std::string(operation), std::string(path), CauseOfErrno(errorNumber), std::strerror(errorNumber));
}

#ifdef _WIN32

namespace {

IoError::Cause CauseOfWindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_NOT_READY:
    case ERROR_DIRECTORY:
      return IoError::Cause::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return IoError::Cause::AlreadyExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return IoError::Cause::AccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return IoError::Cause::InUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return IoError::Cause::DiskFull;
    default:
      return IoError::Cause::Other;
  }
}

// The system's message for `error`, without its closing period and line
// break; the number when the system has no text for it.
std::string WindowsErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, buffer + length);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' || text.back() == u'.')) {
    text.pop_back();
  }
  if (text.empty()) return "Windows error " + std::to_string(error);
  return toUtf8(text);
}

}  // namespace

IoError IoError::fromWindowsError(std::string_view operation, std::string_view path, unsigned long error) {
  return IoError(std::string(operation), std::string(path), CauseOfWindowsError(error), WindowsErrorText(error));
}

IoError IoError::fromLastError(std::string_view operation, std::string_view path) {
  return fromWindowsError(operation, path, GetLastError());
}

#else

IoError IoError::fromLastError(std::string_view operation, std::string_view path) {
  return fromErrno(operation, path, errno);
}

#endif

}  // namespace parvane::core
