#ifdef __linux__
#include "engine/core/direct_writes_linux.h"

#include <linux/aio_abi.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace parvane::core {

struct DirectWrites::Slot {
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> buffer;
  std::uint64_t from = 0, to = 0;  // the bytes in flight; from == to when idle
  iocb request{};
};

namespace {

// The raw system calls: glibc has no wrappers, and libaio is one more package.
long IoSetup(unsigned events, aio_context_t* context) { return ::syscall(SYS_io_setup, events, context); }
long IoDestroy(aio_context_t context) { return ::syscall(SYS_io_destroy, context); }
long IoSubmit(aio_context_t context, long n, iocb** requests) { return ::syscall(SYS_io_submit, context, n, requests); }
long IoGetEvents(aio_context_t context, long least, long most, io_event* events) {
  return ::syscall(SYS_io_getevents, context, least, most, events, nullptr);
}

}  // namespace

DirectWrites::DirectWrites(int fd, CachedWrite cached) : fd_(fd), slots_(new Slot[kSlots]), cached_(std::move(cached)) {}

DirectWrites::~DirectWrites() {
  if (context_ != 0) {
    finishAll();  // a failure here has no one left to tell: the file's sync did, or will never come
    IoDestroy(context_);
  }
  ::close(fd_);
}

bool DirectWrites::start() {
  // Made at the first write, not before: a file that never writes around the
  // cache (a store that stays small) would wait at its close for the
  // kernel's tearing down of them, about 70 ms on a virtual machine.
  aio_context_t context = 0;
  if (IoSetup(kSlots, &context) != 0) return false;
  context_ = context;
  for (std::size_t k = 0; k < kSlots; ++k) {
    void* memory = nullptr;
    if (::posix_memalign(&memory, kAlignment, kSlotBytes) != 0) return false;
    slots_[k].buffer.reset(static_cast<std::uint8_t*>(memory));
  }
  return true;
}

void DirectWrites::reapOne() {
  io_event done[kSlots];
  long n;
  do {
    n = IoGetEvents(context_, 1, kSlots, done);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    // Cannot happen with requests in flight; were it to, they are lost to
    // us, so the file cannot be trusted either.
    if (!failure_) failure_ = n < 0 ? errno : EIO;
    for (std::size_t k = 0; k < kSlots; ++k) slots_[k].from = slots_[k].to = 0;
    busy_ = 0;
    return;
  }
  for (long i = 0; i < n; ++i) {
    Slot& slot = slots_[done[i].data];
    const std::int64_t result = done[i].res;
    const std::uint64_t size = slot.to - slot.from;
    if (!failure_ && (result < 0 || static_cast<std::uint64_t>(result) < size)) {
      // What the disk did not take goes through the cache from the copy: a
      // refusal (EINVAL) is then written after all, and a short write (a
      // full disk) fails there with the system's own cause.
      const std::uint64_t written = result < 0 ? 0 : static_cast<std::uint64_t>(result);
      if (result < 0 && result != -EINVAL) {
        failure_ = static_cast<int>(-result);
      } else {
        failure_ = cached_(slot.from + written, {slot.buffer.get() + written, static_cast<std::size_t>(size - written)});
        if (result == -EINVAL) refused_ = true;
      }
    }
    slot.from = slot.to = 0;
    --busy_;
  }
}

bool DirectWrites::inFlight(std::uint64_t from, std::uint64_t to) const {
  for (std::size_t k = 0; k < kSlots; ++k) {
    const Slot& slot = slots_[k];
    if (slot.from != slot.to && slot.from < to && from < slot.to) return true;
  }
  return false;
}

int DirectWrites::write(std::uint64_t offset, std::span<const std::uint8_t> pages) {
  std::lock_guard lock(mutex_);
  if (context_ == 0 && !refused_ && !start()) refused_ = true;  // no asynchronous I/O for this process
  for (std::size_t at = 0; at < pages.size();) {
    if (failure_) return failure_;
    if (refused_) {
      // what was started of `pages` is finished, so that the caller's own
      // writing of them lands last
      reapAll();
      return failure_ ? failure_ : kRefused;
    }
    const std::size_t n = std::min(kSlotBytes, pages.size() - at);
    // two writes of the same bytes in flight could land in either order
    if (busy_ == kSlots || inFlight(offset + at, offset + at + n)) {
      reapOne();
      continue;
    }
    std::size_t k = 0;
    while (slots_[k].from != slots_[k].to) ++k;
    Slot& slot = slots_[k];
    std::memcpy(slot.buffer.get(), pages.data() + at, n);
    slot.request = iocb{};
    slot.request.aio_data = k;
    slot.request.aio_lio_opcode = IOCB_CMD_PWRITE;
    slot.request.aio_fildes = static_cast<std::uint32_t>(fd_);
    slot.request.aio_buf = reinterpret_cast<std::uintptr_t>(slot.buffer.get());
    slot.request.aio_nbytes = n;
    slot.request.aio_offset = static_cast<std::int64_t>(offset + at);
    iocb* request = &slot.request;
    if (IoSubmit(context_, 1, &request) == 1) {
      slot.from = offset + at;
      slot.to = slot.from + n;
      ++busy_;
      at += n;
    } else if (errno == EAGAIN && busy_ > 0) {
      reapOne();
    } else if (errno == EAGAIN || errno == EINVAL) {
      refused_ = true;  // no room for any request, or none of this kind: through the cache
    } else if (errno != EINTR) {
      failure_ = errno;
    }
  }
  return failure_;
}

int DirectWrites::finish(std::uint64_t from, std::uint64_t to) {
  std::lock_guard lock(mutex_);
  while (inFlight(from, to)) reapOne();
  return failure_;
}

}  // namespace parvane::core
#endif  // __linux__
