// The one error for failed file operations: what it says, and the cause a
// caller acts on, from errno, from Windows' codes, and from a file source.
#include "engine/core/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/source.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace parvane;
using Cause = core::IoError::Cause;

namespace {

TEST(IoError, NamesThePathTheOperationAndTheSystemsText) {
  const core::IoError e = core::IoError::fromErrno("write", "/mail/a.pst", ENOSPC);
  EXPECT_EQ(std::string(e.what()), std::string("/mail/a.pst: cannot write: ") + std::strerror(ENOSPC));
  EXPECT_EQ(e.operation(), "write");
  EXPECT_EQ(e.path(), "/mail/a.pst");
  EXPECT_EQ(e.reason(), std::strerror(ENOSPC));
  EXPECT_EQ(e.cause(), Cause::DiskFull);
}

TEST(IoError, ErrnoValuesGiveTheCausesACallerActsOn) {
  const auto causeOf = [](int error) { return core::IoError::fromErrno("open file", "f", error).cause(); };
  EXPECT_EQ(causeOf(ENOENT), Cause::NotFound);
  EXPECT_EQ(causeOf(ENOTDIR), Cause::NotFound);
  EXPECT_EQ(causeOf(EEXIST), Cause::AlreadyExists);
  EXPECT_EQ(causeOf(EACCES), Cause::AccessDenied);
  EXPECT_EQ(causeOf(EROFS), Cause::AccessDenied);
  EXPECT_EQ(causeOf(ENOSPC), Cause::DiskFull);
  EXPECT_EQ(causeOf(EISDIR), Cause::NotAFile);
  EXPECT_EQ(causeOf(EIO), Cause::Other);
}

TEST(IoError, ToldAboutAnotherPathKeepsTheCauseAndTheWords) {
  const core::IoError e = core::IoError::fromErrno("create file", "/mail/a.pst.tmp", EEXIST).about("/mail/a.pst");
  EXPECT_EQ(std::string(e.what()), std::string("/mail/a.pst: cannot create file: ") + std::strerror(EEXIST));
  EXPECT_EQ(e.path(), "/mail/a.pst");
  EXPECT_EQ(e.operation(), "create file");
  EXPECT_EQ(e.cause(), Cause::AlreadyExists);
}

TEST(IoError, AFileSourceReportsAMissingFileAndAFolder) {
  const auto dir = std::filesystem::temp_directory_path() / "parvane-io-error-test";
  std::filesystem::create_directories(dir);
  const std::string missing = (dir / "missing.msg").string();
  try {
    core::FileSource source{std::filesystem::path(missing)};
    ADD_FAILURE() << "opened a missing file";
  } catch (const core::IoError& e) {
    EXPECT_EQ(e.cause(), Cause::NotFound);
    EXPECT_EQ(e.path(), missing);
    EXPECT_EQ(std::string(e.what()).rfind(missing + ": cannot open file: ", 0), 0u) << e.what();
  }
  try {
    core::FileSource source{dir};
    ADD_FAILURE() << "opened a folder as a file";
  } catch (const core::IoError& e) {
#ifdef _WIN32
    EXPECT_EQ(e.cause(), Cause::AccessDenied);  // CreateFile refuses a folder
#else
    EXPECT_EQ(e.cause(), Cause::NotAFile);
    EXPECT_EQ(std::string(e.what()), dir.string() + ": not a regular file (a folder)");  // a refusal, not a failure
#endif
  }
  std::filesystem::remove_all(dir);
}

#ifdef _WIN32
TEST(IoError, WindowsCodesGiveTheCausesAndTheWordsOfThePosixBuilds) {
  const auto of = [](unsigned long code) { return core::IoError::SystemCause::ofWindowsError(code); };
  EXPECT_EQ(of(ERROR_FILE_NOT_FOUND).cause, Cause::NotFound);
  EXPECT_EQ(of(ERROR_FILE_NOT_FOUND).text, "No such file or directory");
  EXPECT_EQ(of(ERROR_FILE_EXISTS).cause, Cause::AlreadyExists);
  EXPECT_EQ(of(ERROR_DISK_FULL).cause, Cause::DiskFull);
  // a file held by another program refuses writing like a read-only one, in its own words
  EXPECT_EQ(of(ERROR_SHARING_VIOLATION).cause, Cause::AccessDenied);
  EXPECT_EQ(of(ERROR_SHARING_VIOLATION).text, "The file is in use by another program");
  EXPECT_EQ(of(ERROR_IO_DEVICE).text, "Windows error 1117");
}
#endif

}  // namespace
