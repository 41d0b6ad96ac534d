// The command line of parvane-cli: -o OUTPUT SOURCE... and the flags.
#pragma once

#include <cstdint>
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
  std::uint64_t maxStoreSize = 0;    // --max-store-size, in bytes; 0: one store
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// Reads the arguments after the program name. -o OUTPUT, -oOUTPUT,
// --output OUTPUT and --output=OUTPUT name the output; "--" ends the options.
// --report FILE and --report=FILE name the run's report. --help and
// --version need nothing else. Raises UsageError.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

// A size as --max-store-size takes it: a whole number of bytes, or a number
// (decimals allowed) followed by K, M, G or T (powers of 1024), each
// optionally followed by B or iB: "500M", "20G", "1.5GiB". Raises UsageError
// for anything else and for sizes below kSmallestStoreSize.
std::uint64_t ParseStoreSize(const std::string& text);
// An empty store's file takes about a quarter of a megabyte.
inline constexpr std::uint64_t kSmallestStoreSize = 1ull << 20;
// "500 MB", "20 GB", "1.5 GB": sizes as the output shows them (powers of 1024).
std::string ShowSize(std::uint64_t bytes);

extern const char* const kUsageText;

}  // namespace parvane::cli
