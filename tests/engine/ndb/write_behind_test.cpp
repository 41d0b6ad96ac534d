// The store's writer thread: whichever thread ends up writing a batch (the
// writer, or the caller when the writer has not started it), every batch is
// written once, whole, in the order handed over, and a failed write is raised
// by a later submit() or the next wait() with nothing written after it.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "engine/core/io_error.h"
#include "engine/ndb/write_behind.h"

namespace parvane::ndb {
namespace {

// Records every write; fails the write numbered `failAt` (from 1) with a full disk.
class RecordingFile final : public core::File {
 public:
  explicit RecordingFile(std::size_t failAt = 0) : failAt_(failAt) {}
  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    // vary how long a write takes, so that both threads get to write
    if (random_() % 4 == 0) std::this_thread::yield();
    if (++attempts_ == failAt_) throw core::IoError::fromErrno("write", "recording", ENOSPC);
    writes.push_back({offset, Bytes(data.begin(), data.end())});
  }
  std::size_t readAt(std::uint64_t, std::span<std::uint8_t>) const override { return 0; }
  void sync() override {}
  std::uint64_t size() const override { return 0; }
  void resize(std::uint64_t) override {}

  struct Write {
    std::uint64_t offset;
    Bytes bytes;
  };
  std::vector<Write> writes;

 private:
  std::mutex mutex_;
  std::minstd_rand random_{7};
  std::size_t attempts_ = 0;
  std::size_t failAt_;
};

// Batch k: at offset 1000 k, 1 + k % 3000 bytes of a pattern of its own.
void fill(WriteBatch& batch, std::size_t k) {
  batch.ib = 1000 * k;
  batch.bytes.assign(1 + k % 3000, static_cast<std::uint8_t>(k * 37));
  batch.bytes[0] = static_cast<std::uint8_t>(k);
}

TEST(WriteBehind, EveryBatchIsWrittenOnceInOrderWhoeverWritesIt) {
  RecordingFile file;
  {
    WriteBehind writer(file, CryptMethod::None);
    WriteBatch batch;
    std::minstd_rand random(3);
    for (std::size_t k = 0; k < 2000; ++k) {
      fill(batch, k);
      writer.submit(batch);
      EXPECT_TRUE(batch.bytes.empty());
      if (random() % 16 == 0) {
        writer.wait();  // the caller uses the file now: nothing may be in flight
        EXPECT_FALSE(writer.busy());
        EXPECT_EQ(file.writes.size(), k + 1);
      }
    }
    writer.wait();
  }
  ASSERT_EQ(file.writes.size(), 2000u);
  for (std::size_t k = 0; k < file.writes.size(); ++k) {
    WriteBatch expected;
    fill(expected, k);
    EXPECT_EQ(file.writes[k].offset, expected.ib) << k;
    EXPECT_EQ(file.writes[k].bytes, expected.bytes) << k;
  }
}

TEST(WriteBehind, AFailedWriteIsRaisedByTheNextCallAndStopsTheWriting) {
  for (const bool waitAfterEach : {false, true}) {
    RecordingFile file(5);
    WriteBehind writer(file, CryptMethod::None);
    WriteBatch batch;
    std::size_t handed = 0;
    bool raised = false;
    for (std::size_t k = 0; k < 50 && !raised; ++k) {
      fill(batch, k);
      try {
        writer.submit(batch);
        ++handed;
        if (waitAfterEach) writer.wait();
      } catch (const core::IoError&) {
        raised = true;
      }
    }
    EXPECT_TRUE(raised);
    // the fifth batch failed: raised by the wait after it, or by a submit of
    // one of the batches queued behind it
    if (waitAfterEach) {
      EXPECT_EQ(handed, 5u);
    }
    EXPECT_GE(handed, 5u);
    EXPECT_LE(handed, 5u + WriteBehind::kMaxQueuedBatches);
    EXPECT_EQ(file.writes.size(), 4u);
    EXPECT_THROW(writer.wait(), core::IoError);
    EXPECT_EQ(file.writes.size(), 4u);
  }
}

// Holds its first write until opened, so that a batch stays in the writing.
class GatedFile final : public core::File {
 public:
  void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::unique_lock lock(mutex_);
    if (!entered_) {
      entered_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
    }
    written_.push_back(offset);
    (void)data;
  }
  std::size_t readAt(std::uint64_t, std::span<std::uint8_t>) const override { return 0; }
  void sync() override {}
  std::uint64_t size() const override { return 0; }
  void resize(std::uint64_t) override {}

  void awaitFirstWrite() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::vector<std::uint64_t> written() {
    std::lock_guard lock(mutex_);
    return written_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false, open_ = false;
  std::vector<std::uint64_t> written_;
};

TEST(WriteBehind, AReadWaitsOnlyForTheBatchesThatCoverItsBytes) {
  GatedFile file;
  WriteBehind writer(file, CryptMethod::None);
  WriteBatch batch;
  batch.ib = 0;
  batch.bytes.assign(100, 1);
  writer.submit(batch);
  file.awaitFirstWrite();  // the first batch is held in the writing
  batch.ib = 1000;
  batch.bytes.assign(100, 2);
  writer.submit(batch);

  // Opened once the reads that must not wait are done, or after two seconds
  // when one of them waits after all (the check after it then fails).
  std::promise<void> readsDone;
  std::thread opener([&file, done = readsDone.get_future()] {
    done.wait_for(std::chrono::seconds(2));
    file.open();
  });
  // bytes no batch covers, before, between and after them: no waiting
  writer.waitFor(100, 900);
  writer.waitFor(1100, 50);
  EXPECT_TRUE(file.written().empty());
  EXPECT_TRUE(writer.busy());
  readsDone.set_value();

  writer.waitFor(1099, 1);  // the last byte of the second batch
  EXPECT_EQ(file.written(), (std::vector<std::uint64_t>{0, 1000}));
  opener.join();
}

}  // namespace
}  // namespace parvane::ndb
