#include "platform/native_files.h"

#include <fstream>
#include <system_error>

namespace parvane::platform {

std::filesystem::path FileSystemPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<std::uint64_t> RegularFileSize(const std::string& path) {
  std::error_code error;
  const std::filesystem::path file = FileSystemPath(path);
  if (!std::filesystem::is_regular_file(file, error) || error) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream file(FileSystemPath(path), std::ios::binary | std::ios::out | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

}  // namespace parvane::platform
