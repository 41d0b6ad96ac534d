#include "cli/report_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/source_files.h"

namespace parvane::cli {

std::unique_ptr<std::ostream> CreateReportFile(const std::string& path) {
  return std::make_unique<std::ofstream>(FileSystemPath(path),
                                         std::ios::binary | std::ios::out | std::ios::trunc);
}

std::optional<std::uint64_t> RegularFileSize(const std::string& path) {
  std::error_code error;
  const std::filesystem::path file = FileSystemPath(path);
  if (!std::filesystem::is_regular_file(file, error) || error) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

}  // namespace parvane::cli
