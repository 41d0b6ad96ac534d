// The command line of parvane-cli: -o OUTPUT SOURCE... and the flags.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace parvane::cli {

// A command line that cannot be followed; the text says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CliOptions {
  std::string output;                // -o / --output
  std::vector<std::string> sources;  // message files and folders, in order
  std::string report;                // --report: the JSON Lines report's file; empty for none
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// Reads the arguments after the program name. -o OUTPUT, -oOUTPUT,
// --output OUTPUT and --output=OUTPUT name the output; "--" ends the options.
// --report FILE and --report=FILE name the run's report. --help and
// --version need nothing else. Raises UsageError.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

extern const char* const kUsageText;

}  // namespace parvane::cli
