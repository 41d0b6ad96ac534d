#include "cli/cli.h"

#include <exception>
#include <utility>

#include "cli/cli_options.h"
#include "cli/memory_controls.h"
#include "cli/progress_line.h"
#include "cli/source_files.h"
#include "cli/terminal_text.h"
#include "conversion/conversion_run.h"

#ifndef PARVANE_VERSION
#define PARVANE_VERSION "0.0.0"
#endif

namespace parvane::cli {

namespace {

constexpr const char* kProgram = "parvane-cli";

// Where the store goes: the folder the run's chooser answers, and the file
// path when the command line names one.
struct OutputTarget {
  std::string folder;
  std::string pstFile;  // empty: named by the time stamp inside `folder`
};

bool endsWithPst(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return tail == ".pst";
}

OutputTarget resolveOutput(const std::string& output, const platform::FileSystem& fileSystem,
                           const std::string& currentDirectory) {
  const std::string path = AbsolutePath(output, currentDirectory);
  if (fileSystem.folderExists(path)) return {path, {}};
  if (!endsWithPst(path)) {
    throw UsageError("the output must be an existing folder or a new .pst file: " + output);
  }
  if (FileExists(fileSystem, path)) throw UsageError("the output exists already: " + output);
  const std::string folder = ParentFolder(path);
  if (!fileSystem.folderExists(folder)) {
    throw UsageError("the output's folder does not exist: " + output);
  }
  return {folder, path};
}

int signalNow(const CliEnvironment& environment) {
  return environment.pendingSignal ? environment.pendingSignal() : 0;
}

void reportFailure(std::ostream& err, const conversion::RowFailure& failure) {
  // The store's own text already names the file; say it once.
  std::string reason = failure.reason;
  const std::string named = "Cannot import \"" + failure.file + "\": ";
  if (reason.rfind(named, 0) == 0) reason.erase(0, named.size());
  err << kProgram << ": cannot convert " << TerminalSafe(failure.file) << ": " << TerminalSafe(reason)
      << '\n';
}

int convert(const CliOptions& options, platform::ObjectFactory& factory,
            const platform::FileSystem& fileSystem, const CliEnvironment& environment,
            std::ostream& out, std::ostream& err) {
  const OutputTarget target = resolveOutput(options.output, fileSystem, environment.currentDirectory);
  SourceFiles sources = CollectSourceFiles(options.sources, fileSystem, environment.currentDirectory);
  bool someFailed = false;
  for (const auto& folder : sources.unreadableFolders) {
    err << kProgram << ": cannot read folder " << TerminalSafe(folder) << '\n';
    someFailed = true;
  }
  ReportSkippedLinks(sources, err);

  // A file that cannot go into a store folder would stop the whole run; it is
  // reported and left out instead.
  const auto& rules = conversion::kNativePathRules;
  std::vector<std::string> rows;
  rows.reserve(sources.files.size());
  for (auto& file : sources.files) {
    try {
      rules.relativeFolder(file);
      rows.push_back(std::move(file));
    } catch (const std::exception& e) {
      reportFailure(err, {0, file, e.what()});
      someFailed = true;
    }
  }
  if (rows.empty()) {
    err << kProgram << ": no message files to convert\n";
    return kExitUsage;
  }
  if (const int signal = signalNow(environment)) {
    err << kProgram << ": interrupted before any store was created\n";
    return kExitSignalBase + signal;
  }

  const std::size_t rowCount = rows.size();
  MemoryGrid grid(std::move(rows));
  MemoryLabel frame, current;
  ReportingProgressBar overall, second;
  MemoryButton extract, add, addFolder, clear;
  NotingMessageBox messages;
  FixedFolderDialog chooser(target.folder);
  QuietDesktop desktop;
  ProgressDisplay progress(err, grid.rows());
  if (environment.errorIsTerminal && !options.quiet) {
    overall.onValue = [&progress](float percent) { progress.update(percent); };
  }

  conversion::WindowValues values;
  const conversion::RunControls controls{grid,   frame,     current, overall,  second,
                                         extract, add,      addFolder, clear,  messages,
                                         chooser, desktop};
  conversion::RunOptions runOptions;
  runOptions.pstFilePath = target.pstFile;
  runOptions.reportFailures = false;
  runOptions.clock = environment.clock;
  runOptions.pathRules = rules;
  runOptions.stopRequested = [&environment] { return signalNow(environment) != 0; };
  const conversion::RunOutcome outcome =
      conversion::CmdExtractDBX_Click(values, controls, factory, runOptions);
  progress.finish();

  if (outcome.stage != conversion::RunOutcome::Stage::Completed) {
    err << kProgram << ": the store could not be written";
    if (!outcome.preparationError.empty()) err << ": " << TerminalSafe(outcome.preparationError);
    err << '\n';
    return kExitUsage;
  }
  for (const auto& failure : outcome.failures) reportFailure(err, failure);
  out << TerminalSafe(outcome.pstFilePath) << '\n';
  if (outcome.stopped) {
    const std::size_t attempted =
        static_cast<std::size_t>(outcome.rowsConverted) + outcome.failures.size();
    err << kProgram << ": interrupted: " << outcome.rowsConverted << " of " << rowCount
        << " files converted, " << rowCount - attempted
        << " left out; the store is complete with those converted\n";
    return kExitSignalBase + signalNow(environment);
  }
  return someFailed || !outcome.failures.empty() ? kExitSomeFailed : kExitConverted;
}

int runCommand(const std::vector<std::string>& args, platform::ObjectFactory& factory,
               const platform::FileSystem& fileSystem, const CliEnvironment& environment,
               std::ostream& out, std::ostream& err) {
  try {
    const CliOptions options = ParseCommandLine(args);
    if (options.help) {
      out << kUsageText;
      return kExitConverted;
    }
    if (options.version) {
      out << kProgram << ' ' << PARVANE_VERSION << '\n';
      return kExitConverted;
    }
    return convert(options, factory, fileSystem, environment, out, err);
  } catch (const UsageError& e) {
    err << kProgram << ": " << TerminalSafe(e.what()) << '\n'
        << "Try '" << kProgram << " --help' for more information.\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    err << kProgram << ": " << TerminalSafe(e.what()) << '\n';
    return kExitUsage;
  }
}

}  // namespace

int RunCli(const std::vector<std::string>& args, platform::ObjectFactory& factory,
           const platform::FileSystem& fileSystem, const CliEnvironment& environment,
           std::ostream& out, std::ostream& err) {
  const int status = runCommand(args, factory, fileSystem, environment, out, err);
  // A caller that reads the store's path from standard output must not take
  // a run whose output was lost (a full disk, a closed pipe) for a success.
  out.flush();
  if (out) return status;
  err << kProgram << ": cannot write to standard output\n";
  return status == kExitConverted ? kExitSomeFailed : status;
}

}  // namespace parvane::cli
