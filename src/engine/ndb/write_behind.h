// Writes a store's blocks on a thread of its own: the caller stages a batch
// of blocks (raw data, placed at their file offsets) and goes on building the
// next ones while this thread encodes each data block, seals it with its
// trailer and CRC and writes the batch. Several batches may wait their turn
// (up to kMaxQueuedBatches and kMaxQueuedBytes): a batch ends where the
// free space it fills ends, at the latest at the next allocation map, every
// 248 KB, and a write that goes straight to the disk lasts as long as the
// disk takes, so with one batch at a time each thread would wait for the
// other. When the caller would wait for a batch this thread has not started
// (on a busy machine a woken thread may wait long for a processor), the
// caller writes it itself instead: either way each batch is written once,
// in the order handed over, by one thread at a time.
//
// The file is written by one thread at a time: by this thread while batches
// are queued, by the caller once wait() has returned. The caller may read
// bytes that no queued batch covers (waitFor()) while this thread writes
// others: a store reads an allocation map or a B-tree page back in the middle
// of its writing, and waiting for every batch there would stall both threads.
// A failed write is kept and raised by the next submit(), wait() or
// waitFor(), and the batches after it are not written; the store then stops,
// and its file stays as of its last commit, since batches only fill free
// space.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/core/file_system.h"
#include "engine/ndb/format.h"

namespace parvane::ndb {

// A block staged in a batch without its trailer.
struct StagedBlock {
  std::uint32_t at = 0;  // offset in the batch
  std::uint16_t cb = 0;  // data bytes
  bool encode = false;   // a data block, encoded with the store's method
  Bid bid = 0;
};

struct WriteBatch {
  std::uint64_t ib = 0;  // file offset of bytes[0]
  Bytes bytes;
  std::vector<StagedBlock> blocks;
};

class WriteBehind {
 public:
  WriteBehind(core::File& file, CryptMethod crypt) : file_(file), crypt_(crypt) {}
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  static constexpr std::size_t kMaxQueuedBatches = 8;
  static constexpr std::size_t kMaxQueuedBytes = 8u << 20;

  // Waits for room in the queue, then hands over this batch. `batch` comes
  // back emptied, with the storage of an earlier batch to fill again.
  void submit(WriteBatch& batch);
  // Waits until every batch handed over is written; raises the failure of a batch.
  void wait();
  // Waits until no batch handed over and not yet written covers any of the
  // `size` bytes at file offset `ib`; raises the failure of a batch.
  void waitFor(std::uint64_t ib, std::size_t size);
  bool busy() const;

  // Encodes and seals the staged blocks of a batch in place.
  static void seal(WriteBatch& batch, CryptMethod crypt);

 private:
  void run();
  // Waits until `done` holds, writing the next batch here whenever this
  // thread has not started it; then raises the failure of a batch.
  template <class Done>
  void waitLocked(std::unique_lock<std::mutex>& lock, Done done);
  // Seals and writes the first queued batch outside the lock (taken_ set by
  // the caller), then keeps its storage for reuse and keeps its failure.
  void writeFirst(std::unique_lock<std::mutex>& lock);

  core::File& file_;
  CryptMethod crypt_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<WriteBatch> queued_;  // handed over, not yet written
  std::size_t queuedBytes_ = 0;
  bool taken_ = false;  // queued_.front() is being written, by this thread or the caller
  std::vector<WriteBatch> spares_;
  std::exception_ptr failure_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace parvane::ndb
