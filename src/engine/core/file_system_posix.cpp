// FileSystem::native() on POSIX systems.
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <utility>
#include <vector>

#include "engine/core/direct_writes_linux.h"
#include "engine/core/file_system.h"
#include "engine/core/file_system_posix.h"
#include "engine/core/io_error.h"
#include "engine/core/text.h"

namespace parvane::core {
namespace {

using Why = IoError::SystemCause;

// Writes all of `data` at `offset` through `fd`; 0, or the errno of the failure.
int WriteAll(int fd, std::span<const std::uint8_t> data, std::uint64_t offset) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    data = data.subspan(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path, std::uint64_t bulkKeptCached)
      : fd_(fd), path_(std::move(path)), bulkKeptCached_(bulkKeptCached) {}
#ifdef __linux__
  // `direct`: writes of the same file around the page cache, or null.
  PosixFile(int fd, std::string path, std::uint64_t bulkKeptCached, std::unique_ptr<DirectWrites> direct)
      : PosixFile(fd, std::move(path), bulkKeptCached) {
    direct_ = std::move(direct);
  }
#endif
  ~PosixFile() override {
#ifdef __linux__
    direct_.reset();  // its writes in flight finish first
#endif
    ::close(fd_);
  }

  // Bulk writes (a store's blocks: written once, seldom read again) past the
  // first `bulkKeptCached_` bytes go around the page cache. Filling the cache
  // costs the kernel more than the writing itself, and a store bigger than
  // the memory would crowd out everything else: on a 24 GB machine, 8 GB
  // written through the cache took 29 s (27 s of it in the kernel), and
  // 5.6 s (1.2 s) around it; 100,000 messages (a 3.3 GB store) took 7.7 to
  // 8.6 s through it, 5.0 to 6.2 s around it past the first gigabyte. A small
  // store keeps them: its write-back runs beside the program, and writing
  // around the cache from the first byte was no faster at 10,000 messages
  // (330 MB), while setting it up costs 30 to 70 ms at the close.
  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (data.size() >= kBulkWrite) {
      bulkWritten_ += data.size();
      if (bulkWritten_ > bulkKeptCached_) return writeUncached(offset, data);
    }
    writeCached(offset, data);
  }

  std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    finishDirect(offset, offset + out.size());
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw IoError::readFailed(path_, offset + done, Why::last());
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void sync() override {
    finishDirect(0, UINT64_MAX);
    if (::fdatasync(fd_) != 0) throw IoError::fromLastError("sync", path_);
    dirtyFrom_ = dirtyTo_ = dirtyBytes_ = 0;
    dropBulkFromCache();
  }

  std::uint64_t size() const override {
    finishDirect(0, UINT64_MAX);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw IoError::fromLastError("read the file's size", path_);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void resize(std::uint64_t size) override {
    finishDirect(0, UINT64_MAX);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw IoError::fromLastError("resize", path_);
  }

 private:
  void writeCached(std::uint64_t offset, std::span<const std::uint8_t> data) {
    // after any direct write of the same pages, so that this one lands last
    finishDirect(offset, offset + data.size());
    if (const int failed = WriteAll(fd_, data, offset)) throw IoError::fromErrno("write", path_, failed);
    startWriteBack(offset, offset + data.size());
  }

  // Straight to the disk where the file system allows it: the whole pages
  // around the cache (the disk writes them while the caller goes on), the part
  // pages at either end (which other writes share) through the cache.
  // Elsewhere through the cache, and out of it at the next sync, once on disk.
  void writeUncached(std::uint64_t offset, std::span<const std::uint8_t> data) {
    const std::uint64_t end = offset + data.size();
#ifdef __linux__
    constexpr std::uint64_t kPage = DirectWrites::kAlignment;
    const std::uint64_t first = (offset + kPage - 1) / kPage * kPage, last = end / kPage * kPage;
    if (direct_ && first < last) {
      const int failed = direct_->write(first, data.subspan(first - offset, last - first));
      if (failed == 0) {
        writeCached(offset, data.first(first - offset));
        writeCached(last, data.subspan(last - offset));
        return;
      }
      // refused (then at once from now on): these pages go through the cache
      if (failed != DirectWrites::kRefused) throw IoError::fromErrno("write", path_, failed);
    }
#endif
    writeCached(offset, data);
    if (!bulkSinceSync_.empty() && bulkSinceSync_.back().second == offset) bulkSinceSync_.back().second = end;
    else bulkSinceSync_.emplace_back(offset, end);
  }

  // Waits for the direct writes in flight over [from, to); raises the failure
  // of one, whichever it was: the file no longer holds what was written.
  void finishDirect(std::uint64_t from, std::uint64_t to) const {
#ifdef __linux__
    if (!direct_) return;
    if (const int failed = direct_->finish(from, to)) throw IoError::fromErrno("write", path_, failed);
#else
    (void)from;
    (void)to;
#endif
  }

  // Starts write-back of what was written since the last start once a few
  // megabytes have gathered, without waiting for it, so that the sync of a
  // commit finds little left to write. Durability still comes from sync().
  void startWriteBack(std::uint64_t from, std::uint64_t to) {
#ifdef __linux__
    if (dirtyBytes_ == 0) {
      dirtyFrom_ = from;
      dirtyTo_ = to;
    } else {
      dirtyFrom_ = std::min(dirtyFrom_, from);
      dirtyTo_ = std::max(dirtyTo_, to);
    }
    dirtyBytes_ += to - from;
    if (dirtyBytes_ < kWriteBackEvery) return;
    // advice only: a failure here shows up, if it matters, in sync()
    (void)::sync_file_range(fd_, static_cast<off_t>(dirtyFrom_), static_cast<off_t>(dirtyTo_ - dirtyFrom_),
                            SYNC_FILE_RANGE_WRITE);
    dirtyFrom_ = dirtyTo_ = dirtyBytes_ = 0;
#else
    (void)from;
    (void)to;
#endif
  }

  // Bulk writes that went through the cache past the allowance leave it
  // once they are on disk; dropping them earlier would wait for the disk.
  void dropBulkFromCache() {
#ifdef __linux__
    // advice only, as above
    for (const auto& [from, to] : bulkSinceSync_)
      (void)::posix_fadvise(fd_, static_cast<off_t>(from), static_cast<off_t>(to - from), POSIX_FADV_DONTNEED);
#endif
    bulkSinceSync_.clear();
  }

  static constexpr std::uint64_t kWriteBackEvery = 4ull << 20;
  static constexpr std::uint64_t kBulkWrite = 64ull << 10;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> bulkSinceSync_;  // [from, to), adjacent ones joined
#ifdef __linux__
  // kept for the file's life: a reader on another thread may be waiting on it
  std::unique_ptr<DirectWrites> direct_;
#endif
  int fd_;
  std::string path_;
  std::uint64_t bulkKeptCached_, bulkWritten_ = 0;
  std::uint64_t dirtyFrom_ = 0, dirtyTo_ = 0, dirtyBytes_ = 0;
};

#ifdef __linux__
// Writes of the file `fd` past the page cache, or null where the system or
// file system has none. Opened by name, so it is checked to be the same file.
std::unique_ptr<DirectWrites> OpenDirect(int fd, const std::string& path) {
  const int uncached = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
  if (uncached < 0) return nullptr;
  struct stat a {}, b {};
  if (::fstat(fd, &a) == 0 && ::fstat(uncached, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
    // `fd` outlives these writes: the file closes them first
    return std::make_unique<DirectWrites>(uncached, [fd](std::uint64_t offset, std::span<const std::uint8_t> data) {
      return WriteAll(fd, data, offset);
    });
  }
  ::close(uncached);
  return nullptr;
}
#endif

// What a file that is not a regular one is, for the refusal.
std::string NotRegularReason(mode_t mode) {
  const char* kind = S_ISFIFO(mode)  ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISDIR(mode)  ? "a folder"
                                      : nullptr;
  return kind ? std::string("not a regular file (") + kind + ")" : "not a regular file";
}

// Upper-cases with the C.UTF-8 locale's tables when the system has them,
// otherwise ASCII only. Independent of the process's own locale.
char32_t Upper(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return cp;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
}

int CompareFolded(const std::string& a, const std::string& b) {
  // Names in one folder often share a long beginning, and equal bytes fold
  // alike: the comparison starts where they differ, moved back to just after
  // an ASCII byte (or to the start), as no character runs across one.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t start = 0;
  while (start < common && a[start] == b[start]) ++start;
  while (start > 0 && static_cast<unsigned char>(a[start - 1]) >= 0x80) --start;
  std::size_t i = start, j = start;
  while (i < a.size() && j < b.size()) {
    // Names are mostly ASCII: those bytes are compared without decoding.
    const auto ba = static_cast<unsigned char>(a[i]), bb = static_cast<unsigned char>(b[j]);
    if (ba < 0x80 && bb < 0x80) {
      const int ua = (ba >= 'a' && ba <= 'z') ? ba - 0x20 : ba;
      const int ub = (bb >= 'a' && bb <= 'z') ? bb - 0x20 : bb;
      if (ua != ub) return ua < ub ? -1 : 1;
      ++i, ++j;
      continue;
    }
    // A broken part of a name compares as U+FFFD; the byte-wise tie-break
    // of listingOrderLess still tells such names apart.
    const Utf8Char ua = readUtf8Char(a, i), ub = readUtf8Char(b, j);
    const char32_t ca = Upper(ua.codePoint), cb = Upper(ub.codePoint);
    if (ca != cb) return ca < cb ? -1 : 1;
    i += ua.length, j += ub.length;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

enum class Kind { Folder, File, FolderLink, DanglingLink, Neither };

// The kind of a link, or of an entry whose type the directory does not give:
// a link to a file is File; a link whose target cannot be reached (gone, a
// loop, out of reach) is DanglingLink.
Kind KindByStat(int folder, const char* name) {
  struct stat own {};
  if (::fstatat(folder, name, &own, AT_SYMLINK_NOFOLLOW) != 0) return Kind::Neither;
  if (!S_ISLNK(own.st_mode)) return S_ISDIR(own.st_mode) ? Kind::Folder : Kind::File;
  struct stat target {};
  if (::fstatat(folder, name, &target, 0) != 0) return Kind::DanglingLink;
  return S_ISDIR(target.st_mode) ? Kind::FolderLink : Kind::File;
}

// The directory entry's own type when the file system gives it; a stat only
// for links and unknown types.
Kind KindOf(int folder, const struct dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR: return Kind::Folder;
    case DT_LNK:
    case DT_UNKNOWN: return KindByStat(folder, entry.d_name);
    default: return Kind::File;
  }
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// What a file's bulk writes may keep in the page cache: 1 GiB, or an eighth
// of the memory on a smaller machine.
std::uint64_t BulkCacheAllowance() {
  constexpr std::uint64_t kMost = 1ull << 30;
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return kMost;
  return std::min(kMost, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) / 8);
}

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(std::uint64_t bulkKeptCached) : bulkKeptCached_(bulkKeptCached) {}

  std::unique_ptr<File> createExclusive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw IoError::fromLastError("create file", path);
    // advice for removeAbandoned(); a file system without locks keeps the file
    (void)::flock(fd, LOCK_EX | LOCK_NB);
#ifdef __linux__
    return std::make_unique<PosixFile>(fd, path, bulkKeptCached_, OpenDirect(fd, path));
#else
    return std::make_unique<PosixFile>(fd, path, bulkKeptCached_);
#endif
  }

  // A FIFO, socket or device is refused from its status without being opened
  // (opening one may block for ever or act on the device); the open itself
  // is non-blocking, and the descriptor's own status is checked again, in
  // case the name changed in between.
  std::unique_ptr<File> openRead(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw IoError::notAFile(path, NotRegularReason(st.st_mode));
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) throw IoError::fromLastError("open file", path);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw IoError::notAFile(path, NotRegularReason(st.st_mode));
    }
    return std::make_unique<PosixFile>(fd, path, bulkKeptCached_);
  }

  void removeFile(const std::string& path) noexcept override { ::unlink(path.c_str()); }

  bool removeAbandoned(const std::string& path, std::uint64_t owner) noexcept override {
    // a process of that id still running (or one we may not signal) may be the owner
    if (owner == 0 || owner > static_cast<std::uint64_t>(INT32_MAX) || owner == currentProcessId()) return false;
    if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {}, named {};
    // locked, and still the file of that name, when it goes
    const bool removed = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
                         named.st_ino == opened.st_ino && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
  }

  bool exists(const std::string& path) override {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return syncFolderOf(to);
    // EINVAL: a file system (or kernel) without the flag; the ways below do the same
    if (errno != EINVAL && errno != ENOSYS) throw IoError::fromErrno("rename", to, errno);
#endif
    // link() refuses an existing name just as well; then the temporary name goes
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return syncFolderOf(to);
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS) throw IoError::fromErrno("rename", to, errno);
    // A file system without hard links (FAT through some drivers): a checked
    // rename, which a name created in the instant between could still lose to.
    if (exists(to)) throw IoError::fromErrno("rename", to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) throw IoError::fromErrno("rename", to, errno);
    syncFolderOf(to);
  }

  bool folderExists(const std::string& path) override {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  FolderListing listFolder(const std::string& path) override {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) throw IoError::fromLastError("list folder", path);
    const int fd = ::dirfd(dir.get());
    FolderListing listing;
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) {
        if (errno != 0) throw IoError::fromLastError("list folder", path);
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      switch (KindOf(fd, *entry)) {
        case Kind::Folder: listing.folders.emplace_back(name); break;
        case Kind::File: listing.files.emplace_back(name); break;
        case Kind::FolderLink: listing.folderLinks.emplace_back(name); break;
        case Kind::DanglingLink: listing.danglingLinks.emplace_back(name); break;
        case Kind::Neither: break;
      }
    }
    for (auto* names : {&listing.folders, &listing.files, &listing.folderLinks, &listing.danglingLinks}) {
      std::sort(names->begin(), names->end(), listingOrderLess);
    }
    return listing;
  }

 private:
  // Makes a new name durable: without it a crash can lose the name, never
  // the data already synced through the file. A folder that cannot be opened
  // or whose file system cannot sync folders is left as it is; a sync that
  // fails (the disk's own error) fails the rename, told as "sync its folder"
  // of the new name.
  static void syncFolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const int failed = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (failed != 0 && failed != EINVAL && failed != ENOTSUP && failed != EROFS && failed != EBADF)
      throw IoError::fromErrno("sync its folder", path, failed);
  }

  std::uint64_t bulkKeptCached_;
};

}  // namespace

bool listingOrderLess(const std::string& a, const std::string& b) {
  const int folded = CompareFolded(a, b);
  if (folded != 0) return folded < 0;
  return a < b;
}

std::uint64_t currentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

FileSystem& FileSystem::native() {
  static PosixFileSystem fs(BulkCacheAllowance());
  return fs;
}

std::unique_ptr<FileSystem> PosixFileSystemKeepingCached(std::uint64_t bulkBytes) {
  return std::make_unique<PosixFileSystem>(bulkBytes);
}

}  // namespace parvane::core
#endif  // _WIN32
