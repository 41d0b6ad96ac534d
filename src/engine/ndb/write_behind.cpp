#include "engine/ndb/write_behind.h"

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
  waitLocked(lock);
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  inFlight_.emplace(std::move(batch));
  batch = std::move(spare_);
  batch.bytes.clear();
  batch.blocks.clear();
  spare_ = WriteBatch{};
  lock.unlock();
  changed_.notify_all();
}

void WriteBehind::wait() {
  std::unique_lock lock(mutex_);
  waitLocked(lock);
}

bool WriteBehind::busy() const {
  std::lock_guard lock(mutex_);
  return inFlight_.has_value();
}

void WriteBehind::waitLocked(std::unique_lock<std::mutex>& lock) {
  if (inFlight_ && !taken_) {
    // Not started: written here rather than waited for.
    taken_ = true;
    writeInFlight(lock);
  }
  changed_.wait(lock, [this] { return !inFlight_; });
  if (failure_) std::rethrow_exception(failure_);
}

void WriteBehind::writeInFlight(std::unique_lock<std::mutex>& lock) {
  // Nobody else touches the batch once it is taken.
  WriteBatch& batch = *inFlight_;
  lock.unlock();
  std::exception_ptr failed;
  try {
    seal(batch, crypt_);
    file_.writeAt(batch.ib, batch.bytes);
  } catch (...) {
    failed = std::current_exception();
  }
  lock.lock();
  if (failed && !failure_) failure_ = failed;
  spare_ = std::move(*inFlight_);
  inFlight_.reset();
  taken_ = false;
  changed_.notify_all();
}

void WriteBehind::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return (inFlight_ && !taken_) || stopping_; });
    if (!inFlight_ || taken_) return;  // stopping, nothing left to write
    taken_ = true;
    writeInFlight(lock);
  }
}

}  // namespace parvane::ndb
