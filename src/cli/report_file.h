// Where --report writes on a real disk: the report's file and the sizes of
// the listed files. RunCli uses these unless its environment brings others.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace parvane::cli {

// Creates the file at `path`, replacing one that is there; a stream in a
// failed state when it cannot be written.
std::unique_ptr<std::ostream> CreateReportFile(const std::string& path);

// The size of the regular file at `path` (links followed); none for anything
// else or a file that cannot be reached.
std::optional<std::uint64_t> RegularFileSize(const std::string& path);

}  // namespace parvane::cli
