// Where --report writes on a real disk. RunCli uses it unless its
// environment brings another.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace parvane::cli {

// Creates the file at `path`, replacing one that is there; a stream in a
// failed state when it cannot be written.
std::unique_ptr<std::ostream> CreateReportFile(const std::string& path);

}  // namespace parvane::cli
