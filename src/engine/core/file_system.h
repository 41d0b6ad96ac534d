// The file-system seam: every file and folder the program touches goes through
// these two interfaces, the store's files, the message files read and the
// folders walked for them. FileSystem::native() is the operating system's
// (file_system_posix.cpp, file_system_windows.cpp); tests plug
// in their own to keep files in memory or to make operations fail. Paths are
// UTF-8 on every platform. Failures raise core::IoError.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace parvane::core {

class File {
 public:
  virtual ~File() = default;
  // Writes all of `data` at `offset`, extending the file if needed.
  virtual void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Reads up to out.size() bytes at `offset`; returns the count (short at end
  // of file). Readers on several threads may share one file, and a read may
  // run while another thread writes other bytes of it.
  virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
  // Makes everything written so far durable.
  virtual void sync() = 0;
  virtual std::uint64_t size() const = 0;
  // Sets the file's size (zero-filled when growing).
  virtual void resize(std::uint64_t size) = 0;
};

// One read of a folder: its subfolders and files, and the links a walk passes
// over (named, so that a caller can say what was left out).
struct FolderListing {
  std::vector<std::string> folders, files;
  std::vector<std::string> folderLinks;    // links to folders: never followed
  std::vector<std::string> danglingLinks;  // links whose target cannot be reached
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates a new file for reading and writing; fails (AlreadyExists) if the
  // path exists. Where the system has advisory locks, the file is locked
  // while it is open, so that removeAbandoned() leaves it alone.
  virtual std::unique_ptr<File> createExclusive(const std::string& path) = 0;
  // Opens an existing regular file read-only, shared with other readers and
  // writers. What is not a regular file (a pipe, a device, a folder) is
  // refused (NotAFile) without waiting on it.
  virtual std::unique_ptr<File> openRead(const std::string& path) = 0;
  // Removes a file this process created (a store whose creation failed); quiet on failure.
  virtual void removeFile(const std::string& path) noexcept = 0;
  // Removes a file that the process `owner` created and left behind (killed
  // while writing it): only when no process of that id runs on this host and
  // no process holds the lock createExclusive() takes. True when removed.
  // Where there are no such locks, nothing is removed.
  virtual bool removeAbandoned(const std::string& path, std::uint64_t owner) noexcept {
    (void)path;
    (void)owner;
    return false;
  }
  // True when something (file, folder, link, even a dangling one) has this name.
  virtual bool exists(const std::string& path) = 0;
  // Gives the file `from` the name `to` in one atomic step, both in one folder,
  // while `from` may be open. Never replaces anything: when `to` exists it
  // fails (AlreadyExists) and changes nothing. The new name is synced to
  // disk where the system can; a sync that fails raises IoError (operation
  // "sync its folder", the path `to`) after the rename.
  virtual void renameNoReplace(const std::string& from, const std::string& to) = 0;

  virtual bool folderExists(const std::string& path) = 0;
  // The folder's entries, each kind in listingOrderLess order. A link to a
  // folder is never a subfolder (a walk cannot loop); a link to a file is a
  // file. A folder that cannot be read raises IoError.
  virtual FolderListing listFolder(const std::string& path) = 0;

  // The operating system's file system.
  static FileSystem& native();
};

// The order the system lists a folder in, the same on every platform's
// names: case-insensitively (by upper-cased code points on POSIX, by NTFS's
// upper-casing of UTF-16 units on Windows), with a binary tie-break so that
// the order is total.
bool listingOrderLess(const std::string& a, const std::string& b);

// This process's id, for names that no other running process uses.
std::uint64_t currentProcessId();

}  // namespace parvane::core
