#include "engine/core/source.h"

#include <cstring>

namespace parvane::core {

namespace {

// A path's name as UTF-8 on every platform (string() would use the Windows
// code page there, and fail on names outside it).
std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

void checkRange(const std::string& what, std::uint64_t offset, std::uint64_t n, std::uint64_t size) {
  if (offset > size || n > size - offset) {
    const auto available = offset > size ? 0 : size - offset;
    throw TruncatedError(what, static_cast<std::size_t>(offset), static_cast<std::size_t>(n),
                         static_cast<std::size_t>(available));
  }
}

Bytes ByteSource::readAll() const {
  return read(0, static_cast<std::size_t>(size()));
}

void MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange("memory source", offset, out.size(), data_.size());
  if (!out.empty()) std::memcpy(out.data(), data_.data() + offset, out.size());
}

void ViewSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange("memory source", offset, out.size(), data_.size());
  if (!out.empty()) std::memcpy(out.data(), data_.data() + offset, out.size());
}

FileSource::FileSource(const std::filesystem::path& path, FileSystem& files)
    : name_(Utf8Name(path)), file_(files.openRead(name_)), size_(file_->size()) {}

void FileSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  checkRange(name_, offset, out.size(), size_);
  const std::size_t read = file_->readAt(offset, out);
  if (read < out.size()) throw IoError::shrank(name_, offset + read);
}

}  // namespace parvane::core
