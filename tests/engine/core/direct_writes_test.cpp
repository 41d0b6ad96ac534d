// Writes around the page cache through the kernel's asynchronous I/O: what a
// finished range reads back, a refusal written through the cache after all,
// and a failure that every later call returns.
#include "engine/core/direct_writes_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace parvane::core {
namespace {

namespace fs = std::filesystem;

struct DirectWritesTest : ::testing::Test {
  fs::path folder;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "parvane-direct-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    if (cachedFd >= 0) ::close(cachedFd);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  // Writes of a new file `name`, or null (the test is then skipped) where
  // its file system takes no such writes; `cachedFd` keeps the descriptor
  // that writes it through the cache.
  std::unique_ptr<DirectWrites> open(const std::string& name) {
    const std::string path = (folder / name).string();
    cachedFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const int fd = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (cachedFd < 0 || fd < 0) return nullptr;
    return std::make_unique<DirectWrites>(fd, [this](std::uint64_t offset, std::span<const std::uint8_t> data) {
      return ::pwrite(cachedFd, data.data(), data.size(), static_cast<off_t>(offset)) == static_cast<ssize_t>(data.size()) ? 0 : errno;
    });
  }
  int cachedFd = -1;
  std::vector<std::uint8_t> read(const std::string& name, std::uint64_t offset, std::size_t size) {
    std::vector<std::uint8_t> out(size);
    const int fd = ::open((folder / name).c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, out.data(), size, static_cast<off_t>(offset));
    if (fd >= 0) ::close(fd);
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
  }
};

constexpr std::size_t kPage = DirectWrites::kAlignment;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 12));
  return out;
}

// More writes than buffers, of several sizes and out of order: each range
// reads back through another descriptor once finished, while later ones may
// still be in flight, and the whole file does once all are.
TEST_F(DirectWritesTest, AFinishedRangeReadsBackWhileOthersAreInFlight) {
  auto writes = open("many.bin");
  if (!writes) GTEST_SKIP() << "no writes around the cache here";
  std::vector<std::uint8_t> expected(40 * 256 * kPage);
  const auto write = [&](std::size_t page, std::size_t pages, std::uint8_t seed) {
    const auto data = pattern(pages * kPage, seed);
    ASSERT_EQ(writes->write(page * kPage, data), 0);
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<std::ptrdiff_t>(page * kPage));
  };
  // the file gets its size first, so that no write extends it (as a store's do not)
  ASSERT_EQ(::truncate((folder / "many.bin").c_str(), static_cast<off_t>(expected.size())), 0);
  for (std::size_t k = 0; k < 20; ++k) write(k * 512, 1 + k * 37 % 500, static_cast<std::uint8_t>(k));
  write(3 * 256, 256 * 3 + 5, 99);  // over earlier ones: lands last
  ASSERT_EQ(writes->finish(3 * 256 * kPage, 3 * 256 * kPage + 1), 0);
  EXPECT_EQ(read("many.bin", 3 * 256 * kPage, 256 * kPage),
            std::vector<std::uint8_t>(expected.begin() + 3 * 256 * kPage, expected.begin() + 4 * 256 * kPage));
  for (std::size_t k = 20; k < 40; ++k) write(k * 256 + 3, 200, static_cast<std::uint8_t>(k));
  ASSERT_EQ(writes->finishAll(), 0);
  EXPECT_EQ(read("many.bin", 0, expected.size()), expected);
}

// Pages at an offset such writes cannot take: the file system says so only
// once the write has ended, so they go through the cache then, and every
// write after it is refused at once, with nothing of it written.
TEST_F(DirectWritesTest, ARefusedWriteIsWrittenThroughTheCacheAndRefusesTheNextOnes) {
  auto writes = open("refused.bin");
  if (!writes) GTEST_SKIP() << "no writes around the cache here";
  const int started = writes->write(100, pattern(kPage, 1));
  EXPECT_TRUE(started == 0 || started == DirectWrites::kRefused) << started;
  EXPECT_EQ(writes->finishAll(), 0);
  EXPECT_EQ(read("refused.bin", 100, kPage), pattern(kPage, 1));
  EXPECT_EQ(writes->write(2 * kPage, pattern(kPage, 2)), DirectWrites::kRefused);
  EXPECT_EQ(writes->finishAll(), 0);
  EXPECT_EQ(read("refused.bin", 0, 3 * kPage).size(), kPage + 100);
}

// A write the system fails (here past the largest file the process may
// make): every later call returns the failure, and nothing more is written.
TEST_F(DirectWritesTest, AFailedWriteIsReturnedByEveryLaterCall) {
  if (!open("probe.bin")) GTEST_SKIP() << "no writes around the cache here";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kPage * 256, kPage * 256};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    auto writes = open("limited.bin");
    if (!writes) _exit(11);
    const int started = writes->write(0, pattern(kPage * 512, 3));  // the second half fails
    if (started != 0 && started != EFBIG) _exit(12);
    if (writes->finishAll() != EFBIG) _exit(13);
    if (writes->write(0, pattern(kPage, 4)) != EFBIG) _exit(14);
    if (writes->finishAll() != EFBIG) _exit(15);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // what fitted was written; the write after the failure was not
  EXPECT_EQ(read("limited.bin", 0, 256 * kPage), pattern(256 * kPage, 3));
}

}  // namespace
}  // namespace parvane::core
