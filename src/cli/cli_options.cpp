#include "cli/cli_options.h"

#include <cstdint>
#include <string>

namespace parvane::cli {

const char* const kUsageText =
    "Usage: parvane-cli -o OUTPUT SOURCE...\n"
    "Imports Outlook message files (.msg) into a new Outlook personal folders file (.pst).\n"
    "\n"
    "  SOURCE            a .msg file, or a folder whose .msg files (in any folder below it)\n"
    "                    are all imported; each file goes into the store folder that\n"
    "                    matches its own folder\n"
    "  -o, --output OUTPUT\n"
    "                    an existing folder (the new file is named by the time stamp), or\n"
    "                    the path of a .pst file that does not exist yet\n"
    "      --max-store-size SIZE\n"
    "                    when the next message would take the store past SIZE (e.g. 500M,\n"
    "                    20G; K, M, G, T are powers of 1024), that store is finished and\n"
    "                    the run goes on in a new one named with the next number\n"
    "                    (\"... (2).pst\"), with the folders its messages need; a message\n"
    "                    larger than SIZE goes alone into a store of its own. Without it\n"
    "                    the run writes one store, and warns once it passes 47.5 GB\n"
    "                    (Outlook's default limit for a store is 50 GB)\n"
    "  -q, --quiet       no progress display\n"
    "      --report FILE write a report in JSON Lines to FILE (replaced if it exists):\n"
    "                    one line per listed file (path, folder in the store, the store\n"
    "                    that holds it, outcome \"converted\" or \"refused\", reason, size),\n"
    "                    then a summary line (stores, counts, seconds, exit status)\n"
    "  -h, --help        show this text\n"
    "      --version     show the version\n"
    "\n"
    "The path of each new .pst file is written to standard output, one a line, in the\n"
    "order they were written; the last line names the last store.\n"
    "Interrupted (SIGINT, SIGTERM, SIGHUP), it leaves the files not yet converted out\n"
    "and finishes the store with those converted so far; a second signal ends it at once.\n"
    "Exit status: 0 every file converted, 1 some files failed (listed on standard\n"
    "error) or standard output could not be written, 2 a usage error or no store\n"
    "could be written, 128 + the signal's number when a signal cut the run short.\n";

std::uint64_t ParseStoreSize(const std::string& text) {
  const UsageError refused("not a store size (a number of bytes, or with K, M, G or T): " + text);
  std::size_t at = 0;
  std::uint64_t whole = 0;
  std::uint64_t fraction = 0, scale = 1;  // fraction / scale
  bool digits = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true) {
    if (whole > (UINT64_MAX - 9) / 10) throw refused;
    whole = whole * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, digits = true) {
      if (scale < 1000000000) {
        fraction = fraction * 10 + static_cast<std::uint64_t>(text[at] - '0');
        scale *= 10;
      }
    }
  }
  if (!digits) throw refused;
  std::string unit = text.substr(at);
  for (char& c : unit) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  int power = 0;
  if (!unit.empty()) {
    const std::string letters = "KMGT";
    const std::size_t found = letters.find(unit[0]);
    if (found != std::string::npos) {
      power = static_cast<int>(found) + 1;
      unit.erase(0, 1);
      if (unit == "IB") unit = "B";
    }
    if (!unit.empty() && unit != "B") throw refused;
  }
  if (power == 0 && fraction != 0) throw refused;  // no part of a byte
  std::uint64_t multiplier = 1;
  for (int i = 0; i < power; ++i) multiplier *= 1024;
  if (whole > UINT64_MAX / multiplier) throw refused;
  const auto part = static_cast<std::uint64_t>(static_cast<long double>(fraction) /
                                               static_cast<long double>(scale) *
                                               static_cast<long double>(multiplier));
  if (whole * multiplier > UINT64_MAX - part) throw refused;
  const std::uint64_t bytes = whole * multiplier + part;
  if (bytes < kSmallestStoreSize) {
    throw UsageError("a store size must be at least 1M (an empty store takes a quarter of that): " +
                     text);
  }
  return bytes;
}

std::string ShowSize(std::uint64_t bytes) {
  static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB"};
  int unit = 0;
  double value = static_cast<double>(bytes);
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  if (unit == 0) return std::to_string(bytes) + " bytes";
  // one decimal, none when it is zero
  const auto tenths = static_cast<std::uint64_t>(value * 10 + 0.5);
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text + " " + units[unit];
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  bool outputSeen = false, reportSeen = false, optionsEnded = false;
  auto setOutput = [&](const std::string& value) {
    if (outputSeen) throw UsageError("the output is given more than once");
    if (value.empty()) throw UsageError("the output path is empty");
    outputSeen = true;
    options.output = value;
  };
  auto setReport = [&](const std::string& value) {
    if (reportSeen) throw UsageError("the report is given more than once");
    if (value.empty()) throw UsageError("the report path is empty");
    reportSeen = true;
    options.report = value;
  };
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      options.sources.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--max-store-size") {
      if (k + 1 == args.size()) throw UsageError("option " + arg + " needs a size");
      options.maxStoreSize = ParseStoreSize(args[++k]);
    } else if (arg.rfind("--max-store-size=", 0) == 0) {
      options.maxStoreSize = ParseStoreSize(arg.substr(17));
    } else if (arg == "-o" || arg == "--output") {
      if (k + 1 == args.size()) throw UsageError("option " + arg + " needs a path");
      setOutput(args[++k]);
    } else if (arg == "--report") {
      if (k + 1 == args.size()) throw UsageError("option --report needs a path");
      setReport(args[++k]);
    } else if (arg.rfind("--report=", 0) == 0) {
      setReport(arg.substr(9));
    } else if (arg.rfind("--output=", 0) == 0) {
      setOutput(arg.substr(9));
    } else if (arg.rfind("-o", 0) == 0 && arg[1] == 'o') {
      setOutput(arg.substr(2));
    } else {
      throw UsageError("unknown option " + arg);
    }
  }
  if (options.help || options.version) return options;
  if (!outputSeen) throw UsageError("no output given (-o OUTPUT)");
  if (options.sources.empty()) throw UsageError("no source given");
  return options;
}

}  // namespace parvane::cli
