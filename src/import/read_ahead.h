// Reads announced message files ahead of their imports, on a thread of its
// own, so that reading the next file overlaps storing the one before.
//
// A file is read at most `depth` files ahead of the import that takes it, and
// the files held stay within a byte budget, so only a few files are open and
// held at a time whatever their sizes. The reader sleeps once it is
// that far ahead and wakes when the imports have taken half of it: one wake
// per half a depth of files rather than one per file. Only a path announced and not
// yet passed over is served; any other import reads its file when it comes,
// as it would with nothing announced. The outcome is the same either way: the
// file read, or the error reading it raised, rethrown to the import.
// Announced files are read a few milliseconds before their import at most; an
// import never gets a file read before the announcement that holds it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "conversion/path_list.h"
#include "engine/msg/message.h"
#include "import/message_translation.h"

namespace parvane::importer {

// A message file read, with the size of the file it was read from: what the
// reader holds in memory for it is at most about that. An opener may also
// translate the message, so that the import's thread only gives it the
// store's named-property ids; the file itself is then no longer needed.
struct OpenedMessageFile {
  std::optional<msg::MessageFile> file;  // empty when translation holds the message
  std::uint64_t bytes = 0;
  std::optional<DetachedTranslation> translation;
};

class ImportReadAhead {
 public:
  using Opener = std::function<OpenedMessageFile(const std::string& path)>;
  static constexpr std::size_t kDefaultDepth = 32;
  static constexpr std::uint64_t kDefaultBudget = 16ull << 20;

  // Starts reading `paths` in order with `open`, holding at most `depth` files
  // and, unless it holds none, at most `budget` bytes of them. Raises
  // std::system_error when no thread can be started.
  ImportReadAhead(conversion::PathList paths, Opener open, std::size_t depth = kDefaultDepth,
                  std::uint64_t budget = kDefaultBudget);
  // The same over a list it shares rather than copies (a long list is held
  // once): `paths` may own it, or point at one its caller keeps alive and
  // unchanged for the reader's lifetime.
  ImportReadAhead(std::shared_ptr<const conversion::PathList> paths, Opener open,
                  std::size_t depth = kDefaultDepth, std::uint64_t budget = kDefaultBudget);
  ~ImportReadAhead();  // waits for a read in progress, drops what was read
  ImportReadAhead(const ImportReadAhead&) = delete;
  ImportReadAhead& operator=(const ImportReadAhead&) = delete;

  // The file read for `path` when it is among the announced paths not yet
  // taken, waiting for it if it is being read (and meanwhile reading the one
  // after it on the calling thread); the ones announced before it are passed
  // over and their files dropped. Rethrows the error its reading raised.
  // Nothing when `path` is not among them, or the reader has not come to it
  // yet (it then skips it): the caller reads it. *byReader tells whether the
  // reader's thread read the file.
  std::optional<OpenedMessageFile> take(const std::string& path, bool* byReader = nullptr);

  // A file taken and no longer used, released by the reader: memory goes back
  // to the thread that allocated it, which is cheaper for the allocator than
  // releasing it on another.
  void retire(std::shared_ptr<const msg::MessageFile> file);

 private:
  struct Read {
    std::size_t index = 0;
    std::optional<OpenedMessageFile> opened;
    std::uint64_t bytes = 0;
    std::exception_ptr error;
    bool byReader = true;
  };

  void work();
  Read readOne(std::size_t index, bool byReader) const;
  // Adds a file read to those ready, in order; the lock is held.
  void keep(Read read, std::unique_lock<std::mutex>& lock);
  // Whether the reader should read on: it is less than half a depth ahead of
  // the imports, or has not yet filled the depth it woke up to fill.
  bool readerWanted() const;
  std::size_t ahead() const { return cursor_ > next_ ? cursor_ - next_ : 0; }

  const std::shared_ptr<const conversion::PathList> paths_;
  const Opener open_;
  const std::size_t depth_;
  const std::uint64_t budget_;
  std::uint64_t held_ = 0;  // bytes of the files in ready_
  std::mutex mutex_;
  std::condition_variable readerWake_;  // the reader waits here for room
  std::condition_variable readDone_;    // take() waits here for a file in reading
  std::size_t next_ = 0;         // the first path not yet taken or passed over
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t cursor_ = 0;       // the next path the reader reads
  std::size_t reading_ = kNone;  // the path the reader reads now
  std::deque<Read> ready_;       // files read, in announced order
  std::vector<std::shared_ptr<const msg::MessageFile>> retired_;
  bool sleeping_ = false;        // the reader waits for the imports to take files
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace parvane::importer
