// Writes a store's blocks on a thread of its own: the caller stages a batch
// of blocks (raw data, placed at their file offsets) and goes on building the
// next batch while this thread encodes each data block, seals it with its
// trailer and CRC and writes the batch. One batch is in flight at a time.
// When the caller would wait for a batch this thread has not started (on a
// busy machine a woken thread may wait long for a processor), the caller
// writes it itself instead: either way each batch is written once, in the
// order handed over.
//
// The file is used by one thread at a time: by this thread while a batch is
// in flight, by the caller once wait() has returned. A failed write is kept
// and raised by the next submit() or wait(); the store then stops, and its
// file stays as of its last commit, since batches only fill free space.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
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

  // Waits for the batch in flight, then hands over this one. `batch` comes
  // back emptied, with the storage of an earlier batch to fill again.
  void submit(WriteBatch& batch);
  // Waits until nothing is in flight; raises the failure of a batch.
  void wait();
  bool busy() const;

  // Encodes and seals the staged blocks of a batch in place.
  static void seal(WriteBatch& batch, CryptMethod crypt);

 private:
  void run();
  void waitLocked(std::unique_lock<std::mutex>& lock);
  // Seals and writes the batch in flight, outside the lock (taken_ set by the
  // caller), then hands its storage back and keeps its failure.
  void writeInFlight(std::unique_lock<std::mutex>& lock);

  core::File& file_;
  CryptMethod crypt_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<WriteBatch> inFlight_;
  bool taken_ = false;  // inFlight_ is being written, by this thread or the caller
  WriteBatch spare_;
  std::exception_ptr failure_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace parvane::ndb
