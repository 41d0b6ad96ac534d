// A random-access byte source: the one way the format layers reach a file.
// Readers ask for exact ranges and never need the whole file in memory; the
// file-backed source reads through the file-system seam, the in-memory one
// serves tests and the fuzzer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "engine/core/coding.h"
#include "engine/core/file_system.h"
#include "engine/core/io_error.h"

namespace parvane::core {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Fills `out` with the bytes at [offset, offset + out.size()). A range that
  // passes size() raises TruncatedError; a failing read raises IoError.
  virtual void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

  // Convenience: the bytes of [offset, offset + n).
  Bytes read(std::uint64_t offset, std::size_t n) const {
    Bytes out(n);
    readAt(offset, out);
    return out;
  }
  // The whole source. Only for sources whose size is known to be small.
  Bytes readAll() const;
};

// Reads a regular file (FileSystem::openRead refuses anything else). The file
// stays open for the lifetime of the object; its size is taken when it is
// opened, and a file that shrinks below it fails the read.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::filesystem::path& path, FileSystem& files = FileSystem::native());

  std::uint64_t size() const override { return size_; }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::string name_;
  std::unique_ptr<File> file_;
  std::uint64_t size_ = 0;
};

// Serves bytes it owns.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(Bytes data) : data_(std::move(data)) {}
  std::uint64_t size() const override { return data_.size(); }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  const Bytes& data() const { return data_; }

 private:
  Bytes data_;
};

// Serves bytes owned by someone else (the fuzzer's input); the caller keeps
// them alive for as long as the source is used.
class ViewSource final : public ByteSource {
 public:
  explicit ViewSource(ByteView data) : data_(data) {}
  std::uint64_t size() const override { return data_.size(); }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  ByteView data() const { return data_; }

 private:
  ByteView data_;
};

// Checks [offset, offset + n) against `size`, raising TruncatedError with
// `what` named when it does not fit. Shared by every source.
void checkRange(const std::string& what, std::uint64_t offset, std::uint64_t n, std::uint64_t size);

}  // namespace parvane::core
