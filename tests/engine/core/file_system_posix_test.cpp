// The real file system: folder listing (order, links, errors) and what
// written files leave in the page cache.
#include "engine/core/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#endif

#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/core/file_system_posix.h"
#include "engine/core/io_error.h"

namespace parvane::core {
namespace {

namespace fs = std::filesystem;

struct TempTree : ::testing::Test {
  fs::path root;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "parvane-fs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root / "locked", fs::perms::owner_all, ignored);
    fs::remove_all(root, ignored);
  }
  void touch(const fs::path& p) { std::ofstream(p) << "x"; }
  std::string at(const std::string& rel = {}) const {
    return rel.empty() ? root.string() : (root / rel).string();
  }
  FileSystem& files = FileSystem::native();
};

TEST(ListingOrderLess, CaseInsensitiveWithDeterministicTieBreak) {
  EXPECT_TRUE(listingOrderLess("apple", "Banana"));
  EXPECT_TRUE(listingOrderLess("B", "c"));
  EXPECT_FALSE(listingOrderLess("c", "B"));
  EXPECT_TRUE(listingOrderLess("A", "a"));  // equal ignoring case: byte order decides
  EXPECT_FALSE(listingOrderLess("a", "A"));
  EXPECT_TRUE(listingOrderLess("a", "a_"));  // a prefix comes first
  EXPECT_TRUE(listingOrderLess("Z", "_"));   // '_' is above 'Z' once letters are upper-cased
  EXPECT_FALSE(listingOrderLess("x", "x"));
}

TEST(ListingOrderLess, NonAsciiLettersFoldToo) {
  // "é" (U+00E9) upper-cases to "É" (U+00C9): "éa" and "Éb" compare on the second letter.
  EXPECT_TRUE(listingOrderLess("\xC3\xA9" "a", "\xC3\x89" "b"));
  EXPECT_FALSE(listingOrderLess("\xC3\x89" "b", "\xC3\xA9" "a"));
  // the same after a shared beginning, and with one more character on either side
  EXPECT_TRUE(listingOrderLess("m\xC3\xA9" "a", "m\xC3\x89" "b"));
  EXPECT_TRUE(listingOrderLess("m\xC3\x89", "m\xC3\xA9" "a"));
  EXPECT_TRUE(listingOrderLess("m\xC3\xA9", "m\xC3\x89" "a"));
}

TEST(ListingOrderLess, BrokenBytesInANameCompareAsReplacementCharacters) {
  // An overlong "A" is no letter: it sorts as U+FFFD, after every letter,
  // and two names broken alike are still told apart by their bytes.
  EXPECT_TRUE(listingOrderLess("b", "\xC1\x81"));
  EXPECT_TRUE(listingOrderLess("\xE4\xB8\xAD", "\xED\xA0\x80"));  // 中 before an encoded surrogate
  EXPECT_TRUE(listingOrderLess("x\xFE", "x\xFF"));
  EXPECT_FALSE(listingOrderLess("x\xFF", "x\xFE"));
}

TEST_F(TempTree, FolderExists) {
  touch(root / "f.msg");
  EXPECT_TRUE(files.folderExists(at()));
  EXPECT_TRUE(files.folderExists(at() + "/"));
  EXPECT_FALSE(files.folderExists(at("f.msg")));
  EXPECT_FALSE(files.folderExists(at("missing")));
  EXPECT_FALSE(files.folderExists(""));
}

TEST_F(TempTree, ListsSortedCaseInsensitively) {
  for (const char* name : {"b.msg", "A.msg", "c.MSG", "a2.msg"}) touch(root / name);
  for (const char* name : {"zeta", "Alpha", "beta"}) fs::create_directory(root / name);
  EXPECT_EQ(files.listFolder(at()).files, (std::vector<std::string>{"A.msg", "a2.msg", "b.msg", "c.MSG"}));
  EXPECT_EQ(files.listFolder(at() + "/").folders, (std::vector<std::string>{"Alpha", "beta", "zeta"}));
}

TEST_F(TempTree, LinkToFolderIsNotFollowedLinkToFileIsListed) {
  fs::create_directory(root / "real");
  touch(root / "real" / "m.msg");
  fs::create_directory_symlink(root, root / "real" / "loop");   // a loop back to the top
  fs::create_symlink(root / "real" / "m.msg", root / "link.msg");
  fs::create_symlink(root / "nothing", root / "dangling.msg");
  EXPECT_EQ(files.listFolder(at()).folders, std::vector<std::string>{"real"});
  EXPECT_EQ(files.listFolder(at()).files, std::vector<std::string>{"link.msg"});
  EXPECT_TRUE(files.listFolder(at("real")).folders.empty());
  EXPECT_EQ(files.listFolder(at("real")).files, std::vector<std::string>{"m.msg"});
  // One read gives it all, and names the links left out.
  const FolderListing top = files.listFolder(at());
  EXPECT_EQ(top.folders, std::vector<std::string>{"real"});
  EXPECT_EQ(top.files, std::vector<std::string>{"link.msg"});
  EXPECT_EQ(top.danglingLinks, std::vector<std::string>{"dangling.msg"});
  EXPECT_TRUE(top.folderLinks.empty());
  EXPECT_EQ(files.listFolder(at("real")).folderLinks, std::vector<std::string>{"loop"});
}

TEST_F(TempTree, MissingFolderRaisesPathNotFound) {
  try {
    (void)files.listFolder(at("missing"));
    FAIL();
  } catch (const IoError& e) {
    EXPECT_EQ(e.cause(), IoError::Cause::NotFound);
  }
}

TEST_F(TempTree, UnreadableFolderRaisesPermissionDenied) {
  fs::create_directory(root / "locked");
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(root / "locked", fs::perms::none);
  const std::string locked = at("locked");
  auto outcome = [&]() -> int {
    try {
      (void)files.listFolder(locked);
      return 1;
    } catch (const IoError& e) {
      return e.cause() == IoError::Cause::AccessDenied ? 0 : 2;
    }
  };
  if (geteuid() != 0) {
    EXPECT_EQ(outcome(), 0);
    return;
  }
  // Root reads every folder: try it as the unprivileged user "nobody".
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    _exit(outcome());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

#ifdef __linux__
// How many of the file's pages in [from, to) are in the page cache.
std::size_t cachedPages(const std::string& path, std::size_t from, std::size_t to) {
  const long page = sysconf(_SC_PAGESIZE);
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return SIZE_MAX;
  void* map = ::mmap(nullptr, to, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return SIZE_MAX;
  std::vector<unsigned char> resident((to + static_cast<std::size_t>(page) - 1) / static_cast<std::size_t>(page));
  const bool ok = ::mincore(map, to, resident.data()) == 0;
  ::munmap(map, to);
  if (!ok) return SIZE_MAX;
  std::size_t n = 0;
  for (std::size_t i = from / static_cast<std::size_t>(page); i < resident.size(); ++i) if ((resident[i] & 1u) != 0) ++n;
  return n;
}

// Writes 12 MB in pieces of 1 MB and 512 bytes on a page of their own after
// them, syncs, and gives how many of the pieces' pages and of the small
// write's are still in the page cache; what was written must read back.
std::pair<std::size_t, std::size_t> cachedAfterSync(FileSystem& files, const std::string& path) {
  constexpr std::size_t kPage = 4096, kPiece = std::size_t{1} << 20, kPieces = 12;
  const std::size_t small = kPage + kPieces * kPiece;
  auto file = files.createExclusive(path);
  std::vector<std::uint8_t> piece(kPiece);
  for (std::size_t i = 0; i < kPieces; ++i) {
    std::fill(piece.begin(), piece.end(), static_cast<std::uint8_t>(i + 1));
    file->writeAt(kPage + i * kPiece, piece);
  }
  file->writeAt(small, std::vector<std::uint8_t>(512, 0xEE));
  file->sync();
  const std::pair<std::size_t, std::size_t> cached{cachedPages(path, kPage, small),
                                                   cachedPages(path, small, small + 512)};
  std::vector<std::uint8_t> back(kPiece);
  EXPECT_EQ(file->readAt(kPage + 5 * kPiece, back), kPiece);
  EXPECT_EQ(back, std::vector<std::uint8_t>(kPiece, 6));
  return cached;
}

// A store's blocks are written once and seldom read again: once a store is
// past what it may keep cached, they leave the page cache when on disk,
// where a store bigger than the memory would crowd out everything else.
// Small writes (headers, maps) stay cached, and so does a store that fits.
TEST_F(TempTree, BulkWritesPastTheAllowanceLeaveThePageCacheOnceOnDisk) {
  struct statfs where {};
  ASSERT_EQ(statfs(root.c_str(), &where), 0);
  if (where.f_type == TMPFS_MAGIC) GTEST_SKIP() << "tmpfs keeps every page in memory";
  constexpr std::size_t kPiecePages = 12 * 256;

  auto dropping = PosixFileSystemKeepingCached(0);
  const auto [dropped, smallKept] = cachedAfterSync(*dropping, at("past.bin"));
  EXPECT_LE(dropped, 8u) << "of " << kPiecePages << " pages written";
  EXPECT_EQ(smallKept, 1u);

  const auto [kept, small] = cachedAfterSync(files, at("within.bin"));
  EXPECT_GE(kept, kPiecePages * 9 / 10);
  EXPECT_EQ(small, 1u);
}

// Past the allowance a bulk write's whole pages go around the cache and its
// part pages through it; small writes share those pages. Whatever order
// they come in, at whatever offsets, the file reads back as written, before
// and after a sync and through another descriptor.
TEST_F(TempTree, BulkWritesAroundTheCacheReadBackWithTheCachedOnesAtAnyOffset) {
  auto around = PosixFileSystemKeepingCached(0);
  const std::string path = at("mixed.bin");
  auto file = around->createExclusive(path);
  std::vector<std::uint8_t> expected;
  std::uint8_t fill = 0;
  const auto write = [&](std::size_t offset, std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(fill + i * 7);
    ++fill;
    file->writeAt(offset, data);
    if (expected.size() < offset + size) expected.resize(offset + size);
    std::copy(data.begin(), data.end(), expected.begin() + static_cast<std::ptrdiff_t>(offset));
  };
  const auto readsBack = [&](const File& from) {
    std::vector<std::uint8_t> back(expected.size());
    return from.readAt(0, back) == expected.size() && back == expected;
  };
  write(100, 300);                 // small, in the first page
  write(3 * 4096 + 123, 200003);   // bulk, both ends in part pages
  write(5 * 4096 + 10, 5000);      // small, into pages the bulk write put on disk
  write(4 * 4096 + 1, 150000);     // bulk over both, from another part page
  write(40 * 4096, 65536);         // bulk, exactly whole pages
  write(41 * 4096 - 7, 14);        // small, across two of them
  write(60 * 4096 + 4000, 131072); // bulk past the end of the file
  write(2 * 4096, 2200000);        // bulk over everything since, past the end again
  write(300 * 4096 + 5, 70000);    // bulk inside that
  EXPECT_EQ(file->size(), expected.size());
  EXPECT_TRUE(readsBack(*file));
  file->sync();
  EXPECT_TRUE(readsBack(*file));
  EXPECT_TRUE(readsBack(*files.openRead(path)));

  // Where the file system takes uncached writes, the whole pages never
  // entered the cache (the part pages at either end did).
  const int probe = ::open(path.c_str(), O_RDONLY | O_DIRECT);
  if (probe < 0) GTEST_SKIP() << "this file system writes everything through the cache";
  ::close(probe);
  auto fresh = around->createExclusive(at("fresh.bin"));
  fresh->writeAt(4096 + 1, std::vector<std::uint8_t>(100 * 4096, 0x5A));
  EXPECT_LE(cachedPages(at("fresh.bin"), 0, 102 * 4096), 2u);
}
#endif

}  // namespace
}  // namespace parvane::core
