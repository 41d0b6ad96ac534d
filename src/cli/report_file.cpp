#include "cli/report_file.h"

#include <fstream>

#include "platform/native_files.h"

namespace parvane::cli {

std::unique_ptr<std::ostream> CreateReportFile(const std::string& path) {
  return std::make_unique<std::ofstream>(platform::FileSystemPath(path),
                                         std::ios::binary | std::ios::out | std::ios::trunc);
}

}  // namespace parvane::cli
