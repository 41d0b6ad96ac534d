// Files named by UTF-8 paths on the native disk: std::filesystem's path for
// one (on Windows a plain string would be read in the system code page), a
// regular file's size, and a whole small file written at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace parvane::platform {

std::filesystem::path FileSystemPath(const std::string& utf8);

// The size of the regular file at `path` (links followed); none for anything
// else or a file that cannot be reached.
std::optional<std::uint64_t> RegularFileSize(const std::string& path);

// Writes `bytes` to the file at `path`, replacing one that is there; false
// when it cannot be written whole.
bool WriteWholeFile(const std::string& path, std::string_view bytes);

}  // namespace parvane::platform
