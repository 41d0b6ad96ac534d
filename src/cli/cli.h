// parvane-cli as a function: the command line, the store service, the file
// system and the two output streams in; the exit status out. It drives the
// same conversion run as the window, told on the terminal.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "conversion/run_report.h"
#include "conversion/store_service.h"
#include "conversion/time_stamp.h"
#include "engine/core/file_system.h"
#include "platform/ui.h"

namespace parvane::cli {

inline constexpr int kExitConverted = 0;   // every file converted
// The store was written; some files were not, or standard output could not be written.
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;       // a usage error, or no store could be written
// A stop signal cut the run short: 128 + the signal's number, as shells report it.
inline constexpr int kExitSignalBase = 128;

struct CliEnvironment {
  std::string currentDirectory = "/";  // relative paths are read from here
  bool errorIsTerminal = false;        // draw the progress line on the error stream
  conversion::Clock clock = conversion::SystemLocalTime;
  // The stop signal received so far (SIGINT, SIGTERM), 0 for none; asked
  // between files. Once it answers, the files not yet converted are left out
  // and the store is finished with those converted so far.
  std::function<int()> pendingSignal;
  // For --report: creates the report's file (replacing one), and gives a
  // listed file's size. Empty: the disk's (report_file.h).
  std::function<std::unique_ptr<std::ostream>(const std::string& path)> createReport;
  conversion::FileSize fileSize;
};

// `args` are the arguments after the program name.
int RunCli(const std::vector<std::string>& args, conversion::StoreService& store,
           core::FileSystem& fileSystem, const CliEnvironment& environment,
           std::ostream& out, std::ostream& err);

}  // namespace parvane::cli
