// Writes that go around the page cache (a descriptor opened with O_DIRECT)
// through the kernel's asynchronous I/O: a write is copied into one of a few
// page-aligned buffers and handed to the disk, and the call returns while the
// disk writes it, so that whoever writes can prepare the next one meanwhile.
// A thread that would write and wait for the disk in turn keeps the disk idle
// while it prepares, and the processor idle while the disk writes.
//
// It is Linux's older interface (io_submit), not io_uring: for writes into
// newly allocated blocks of ext4, io_uring hands the work to kernel worker
// threads, which on a two-processor machine compete with the program's own
// (a 100,000-message store took 1.14 times as long).
//
// Only Linux has it. A failure of a write shows only once it has finished:
// it is kept and returned by every later call, and nothing more is started.
// A write the file system refuses to take around the cache (it says so only
// at the end of the write, as a failure of it) is written through the cache
// instead, from the copy still at hand; every later write is then refused at
// once, for the caller to write another way.
#pragma once
#ifdef __linux__

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

namespace parvane::core {

class DirectWrites {
 public:
  // Writes `size` bytes at an offset through the cache: 0, or the errno of the failure.
  using CachedWrite = std::function<int(std::uint64_t offset, std::span<const std::uint8_t> data)>;

  // Takes over `fd` (opened with O_DIRECT); `cached` writes the same file
  // through the cache. Where the system gives the process no asynchronous
  // I/O, every write is refused.
  DirectWrites(int fd, CachedWrite cached);
  ~DirectWrites();  // waits for the writes in flight, then closes the descriptor
  DirectWrites(const DirectWrites&) = delete;
  DirectWrites& operator=(const DirectWrites&) = delete;

  // Refused at once: the file system takes no writes around the cache, and
  // nothing of `pages` was written.
  static constexpr int kRefused = -1;
  // Starts writing `pages` at `offset`, both multiples of kAlignment, once
  // the writes in flight over the same bytes have finished and a buffer is
  // free. 0, kRefused, or the errno of a failed write (this one or an earlier).
  int write(std::uint64_t offset, std::span<const std::uint8_t> pages);
  // Waits for the writes in flight that touch [from, to); 0 or an errno as above.
  int finish(std::uint64_t from, std::uint64_t to);
  int finishAll() { return finish(0, UINT64_MAX); }

  // The alignment of offsets, lengths and memory that such writes need on
  // every Linux file system and disk (512 on most, 4096 on some).
  static constexpr std::uint64_t kAlignment = 4096;

 private:
  struct Slot;
  // Sets up the kernel's side and the buffers; false where it cannot.
  bool start();
  // Reaps at least one finished write, writing through the cache what it
  // did not write; the lock is held.
  void reapOne();
  void reapAll() {
    while (busy_ > 0) reapOne();
  }
  bool inFlight(std::uint64_t from, std::uint64_t to) const;

  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kSlotBytes = std::size_t{1} << 20;
  int fd_;
  unsigned long context_ = 0;  // aio_context_t, once started
  std::unique_ptr<Slot[]> slots_;
  std::size_t busy_ = 0;
  CachedWrite cached_;
  int failure_ = 0;
  bool refused_ = false;
  // The writing thread and a reader that must see what was written take turns.
  std::mutex mutex_;
};

}  // namespace parvane::core
#endif  // __linux__
