#include "import/read_ahead.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

namespace parvane::importer {

ImportReadAhead::ImportReadAhead(conversion::PathList paths, Opener open, std::size_t depth,
                                 std::uint64_t budget)
    : ImportReadAhead(std::make_shared<const conversion::PathList>(std::move(paths)),
                      std::move(open), depth, budget) {}

ImportReadAhead::ImportReadAhead(std::shared_ptr<const conversion::PathList> paths, Opener open,
                                 std::size_t depth, std::uint64_t budget)
    : paths_(std::move(paths)), open_(std::move(open)), depth_(std::max<std::size_t>(depth, 1)),
      budget_(budget) {
  thread_ = std::thread([this] { work(); });
}

ImportReadAhead::~ImportReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  readerWake_.notify_all();
  thread_.join();
}

bool ImportReadAhead::readerWanted() const {
  if (std::max(cursor_, next_) >= paths_->size()) return false;
  if (!ready_.empty() && held_ >= budget_) return false;
  return sleeping_ ? ahead() <= depth_ / 2 : ahead() < depth_;
}

void ImportReadAhead::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!stop_ && !readerWanted()) {
      sleeping_ = true;
      readerWake_.wait(lock, [&] { return stop_ || readerWanted(); });
      sleeping_ = false;
    }
    if (stop_) return;
    if (!retired_.empty()) {
      std::vector<std::shared_ptr<const msg::MessageFile>> retired;
      retired.swap(retired_);
      lock.unlock();
      retired.clear();
      lock.lock();
      continue;
    }
    cursor_ = std::max(cursor_, next_);
    const std::size_t index = cursor_++;
    reading_ = index;
    lock.unlock();
    Read read = readOne(index, true);
    lock.lock();
    reading_ = kNone;
    keep(std::move(read), lock);
  }
}

ImportReadAhead::Read ImportReadAhead::readOne(std::size_t index, bool byReader) const {
  Read read;
  read.index = index;
  read.byReader = byReader;
  try {
    read.opened.emplace(open_(paths_->path(index)));
    read.bytes = read.opened->bytes;
  } catch (...) {
    read.error = std::current_exception();
  }
  return read;
}

void ImportReadAhead::keep(Read read, std::unique_lock<std::mutex>& lock) {
  if (read.index < next_) {
    // Passed over while it was read: closed outside the lock.
    lock.unlock();
    read = Read{};
    lock.lock();
    return;
  }
  const bool awaited = read.index == next_;
  held_ += read.bytes;
  // Files are kept in announced order; one read by an import's thread may
  // come in before the reader's file just before it.
  auto at = ready_.end();
  while (at != ready_.begin() && std::prev(at)->index > read.index) --at;
  ready_.insert(at, std::move(read));
  if (awaited) readDone_.notify_one();
}

std::optional<OpenedMessageFile> ImportReadAhead::take(const std::string& path, bool* byReader) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Imports come in announced order, so the search ends at once unless rows
  // were left out before this one.
  std::size_t index = next_;
  while (index < paths_->size() && !paths_->is(index, path)) ++index;
  if (index >= paths_->size()) return std::nullopt;

  std::deque<Read> dropped;
  while (!ready_.empty() && ready_.front().index < index) {
    held_ -= ready_.front().bytes;
    dropped.push_back(std::move(ready_.front()));
    ready_.pop_front();
  }
  const auto readyNow = [&] { return !ready_.empty() && ready_.front().index == index; };
  next_ = index;
  if (!readyNow() && reading_ == index) {
    // The reader is on this very file, so reading is the slower side: rather
    // than wait idle, this thread reads the file after it, which the reader
    // then skips.
    const std::size_t after = index + 1;
    if (after < paths_->size() && cursor_ == after) {
      cursor_ = after + 1;
      lock.unlock();
      Read read = readOne(after, false);
      lock.lock();
      keep(std::move(read), lock);
    }
    readDone_.wait(lock, readyNow);
  }
  std::optional<Read> read;
  if (readyNow()) {
    held_ -= ready_.front().bytes;
    read.emplace(std::move(ready_.front()));
    ready_.pop_front();
  }
  // A file the reader has not come to is left to the caller, and the reader
  // goes on after it: when reading is the slower side, both threads read.
  next_ = index + 1;
  // The reader is woken only when half its depth has been taken.
  const bool wake = sleeping_ && readerWanted();
  lock.unlock();
  if (wake) readerWake_.notify_one();
  dropped.clear();
  if (!read) return std::nullopt;
  if (read->error) std::rethrow_exception(read->error);
  if (byReader) *byReader = read->byReader;
  return std::move(read->opened);
}

void ImportReadAhead::retire(std::shared_ptr<const msg::MessageFile> file) {
  std::lock_guard<std::mutex> lock(mutex_);
  retired_.push_back(std::move(file));
}

}  // namespace parvane::importer
