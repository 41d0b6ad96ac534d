#include "engine/ndb/write_behind.h"

#include <algorithm>

namespace parvane::ndb {

WriteBehind::~WriteBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WriteBehind::seal(WriteBatch& batch, CryptMethod crypt) {
  for (const StagedBlock& b : batch.blocks) {
    std::uint8_t* at = batch.bytes.data() + b.at;
    if (b.encode) encodeData(crypt, std::span<std::uint8_t>(at, b.cb), b.bid);
    sealBlock(std::span<std::uint8_t>(at, blockDiskSize(b.cb)), b.cb, b.bid, batch.ib + b.at);
  }
}

void WriteBehind::submit(WriteBatch& batch) {
  std::unique_lock lock(mutex_);
  waitLocked(lock, [&] {
    return queued_.empty() ||
           (queued_.size() < kMaxQueuedBatches && queuedBytes_ + batch.bytes.size() <= kMaxQueuedBytes);
  });
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  queuedBytes_ += batch.bytes.size();
  queued_.push_back(std::move(batch));
  if (spares_.empty()) {
    batch = WriteBatch{};
  } else {
    batch = std::move(spares_.back());
    spares_.pop_back();
    batch.bytes.clear();
    batch.blocks.clear();
  }
  lock.unlock();
  changed_.notify_all();
}

void WriteBehind::wait() {
  std::unique_lock lock(mutex_);
  waitLocked(lock, [this] { return queued_.empty(); });
}

void WriteBehind::waitFor(std::uint64_t ib, std::size_t size) {
  std::unique_lock lock(mutex_);
  waitLocked(lock, [&] {
    return std::none_of(queued_.begin(), queued_.end(), [&](const WriteBatch& queued) {
      return queued.ib < ib + size && ib < queued.ib + queued.bytes.size();
    });
  });
}

bool WriteBehind::busy() const {
  std::lock_guard lock(mutex_);
  return !queued_.empty();
}

template <class Done>
void WriteBehind::waitLocked(std::unique_lock<std::mutex>& lock, Done done) {
  while (!done()) {
    if (!queued_.empty() && !taken_) {
      // Not started: written here rather than waited for.
      taken_ = true;
      writeFirst(lock);
    } else {
      changed_.wait(lock);
    }
  }
  if (failure_) std::rethrow_exception(failure_);
}

void WriteBehind::writeFirst(std::unique_lock<std::mutex>& lock) {
  // Nobody else touches the batch once it is taken, and a batch queued
  // behind it leaves it in place.
  WriteBatch& batch = queued_.front();
  std::exception_ptr failed;
  if (!failure_) {  // after a failure nothing more is written
    lock.unlock();
    try {
      seal(batch, crypt_);
      file_.writeAt(batch.ib, batch.bytes);
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
  }
  if (failed && !failure_) failure_ = failed;
  queuedBytes_ -= batch.bytes.size();
  if (spares_.size() < kMaxQueuedBatches) spares_.push_back(std::move(batch));
  queued_.pop_front();
  taken_ = false;
  changed_.notify_all();
}

void WriteBehind::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return (!queued_.empty() && !taken_) || stopping_; });
    if (queued_.empty() || taken_) return;  // stopping, nothing left to write
    taken_ = true;
    writeFirst(lock);
  }
}

}  // namespace parvane::ndb
