#include "cli/cli_options.h"

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
    "  -q, --quiet       no progress display\n"
    "      --report FILE write a report in JSON Lines to FILE (replaced if it exists):\n"
    "                    one line per listed file (path, folder in the store, outcome\n"
    "                    \"converted\" or \"refused\", reason, size), then a summary line\n"
    "                    (store, counts, seconds, exit status)\n"
    "  -h, --help        show this text\n"
    "      --version     show the version\n"
    "\n"
    "The path of the new .pst file is the last line written to standard output.\n"
    "Interrupted (SIGINT, SIGTERM, SIGHUP), it leaves the files not yet converted out\n"
    "and finishes the store with those converted so far; a second signal ends it at once.\n"
    "Exit status: 0 every file converted, 1 some files failed (listed on standard\n"
    "error) or standard output could not be written, 2 a usage error or no store\n"
    "could be written, 128 + the signal's number when a signal cut the run short.\n";

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
