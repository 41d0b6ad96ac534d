// Byte sources: exact ranges, and a clear error past the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/source.h"

using namespace parvane;

namespace {

core::Bytes pattern(std::size_t n) {
  core::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

}  // namespace

TEST(FileSource, ReadsRangesAndRefusesThePastEnd) {
  const auto path = std::filesystem::temp_directory_path() / "parvane_cfb_source_test.bin";
  {
    std::ofstream out(path, std::ios::binary);
    const auto data = pattern(3000);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  core::FileSource f(path);
  EXPECT_EQ(f.size(), 3000u);
  const auto data = pattern(3000);
  EXPECT_EQ(f.read(1000, 500), core::Bytes(data.begin() + 1000, data.begin() + 1500));
  EXPECT_THROW((void)f.read(2900, 101), core::TruncatedError);
  std::filesystem::remove(path);
  EXPECT_THROW(core::FileSource gone(path), core::IoError);
}

TEST(MemorySource, RangesAreCheckedAgainstTheSize) {
  const auto data = pattern(10);
  core::MemorySource m(data);
  core::Bytes out(4);
  m.readAt(6, out);
  EXPECT_EQ(out, core::Bytes(data.begin() + 6, data.end()));
  EXPECT_THROW(m.readAt(7, out), core::TruncatedError);
  EXPECT_THROW(m.readAt(UINT64_MAX - 1, out), core::TruncatedError);  // no wrap-around
  core::Bytes none;
  m.readAt(10, none);  // an empty read at the end is fine
  const auto keep = pattern(5);
  core::ViewSource v(keep);
  EXPECT_EQ(v.readAll(), keep);
  EXPECT_THROW(v.readAt(3, out), core::TruncatedError);
}

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// A FIFO, a socket or a device is refused with its kind named, at once: a
// FIFO with no writer would otherwise hold the open for ever.
TEST(FileSource, RefusesWhatIsNotARegularFileWithoutBlocking) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("parvane_source_kinds_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto fifo = dir / "fifo.msg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto socketPath = dir / "socket.msg";
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listening, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto device = dir / "device.msg";
  std::filesystem::create_symlink("/dev/null", device);

  const std::vector<std::pair<std::filesystem::path, std::string>> cases = {
      {fifo, "not a regular file (a FIFO)"},
      {socketPath, "not a regular file (a socket)"},
      {device, "not a regular file (a character device)"},
      {dir, "not a regular file (a folder)"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path.string());
    try {
      core::FileSource refused(path);
      ADD_FAILURE() << "opened";
    } catch (const core::IoError& e) {
      EXPECT_EQ(std::string(e.what()), path.string() + ": " + reason);
    }
  }
  ::close(listening);
  std::filesystem::remove_all(dir);
}
#endif
