#include "cli/cli.h"

#include <exception>
#include <utility>

#include "cli/cli_options.h"
#include "cli/progress_line.h"
#include "cli/source_files.h"
#include "cli/terminal_text.h"
#include "conversion/convert.h"
#include "conversion/failure_report.h"

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

void reportFailure(std::ostream& err, const std::string& file, const std::string& reason) {
  err << kProgram << ": cannot convert " << TerminalSafe(file) << ": " << TerminalSafe(reason)
      << '\n';
}

void reportFailure(std::ostream& err, const conversion::ImportError& failure) {
  // The line already names the file; say it once.
  std::string reason = conversion::FailureLine(failure);
  const std::string named = "Cannot import \"" + failure.path + "\": ";
  if (reason.rfind(named, 0) == 0) reason.erase(0, named.size());
  reportFailure(err, failure.path, reason);
}

std::string describe(const conversion::PreparationError& error) {
  if (error.cause != conversion::PreparationFailure::StoreNotCreated) {
    return conversion::PreparationCause(error);
  }
  return "Cannot create the store \"" + error.path + "\": " + error.store.detail;
}

// The run told on a terminal: a progress line, and a stop once a signal came.
class TerminalObserver final : public conversion::RunObserver {
 public:
  TerminalObserver(std::ostream& err, std::size_t total, bool showProgress,
                   const CliEnvironment& environment)
      : progress_(err, static_cast<std::int32_t>(total)), showProgress_(showProgress),
        environment_(environment) {}
  void fileDone(const conversion::FileProgress& done) override {
    if (showProgress_) progress_.update(done.percent);
  }
  void runEnded(const conversion::RunResult&) override { progress_.finish(); }
  bool stopRequested() override { return signalNow(environment_) != 0; }

 private:
  ProgressDisplay progress_;
  bool showProgress_;
  const CliEnvironment& environment_;
};

int convert(const CliOptions& options, conversion::StoreService& store,
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
  conversion::ConversionRequest request;
  request.pathRules = conversion::kNativePathRules;
  request.files.reserve(sources.files.size());
  for (auto& file : sources.files) {
    try {
      request.pathRules.relativeFolder(file);
      request.files.push_back(std::move(file));
    } catch (const std::exception& e) {
      reportFailure(err, file, e.what());
      someFailed = true;
    }
  }
  if (request.files.empty()) {
    err << kProgram << ": no message files to convert\n";
    return kExitUsage;
  }
  if (const int signal = signalNow(environment)) {
    err << kProgram << ": interrupted before any store was created\n";
    return kExitSignalBase + signal;
  }

  const std::size_t fileCount = request.files.size();
  request.destinationFolder = target.folder;
  request.storeFilePath = target.pstFile;
  request.clock = environment.clock;
  TerminalObserver observer(err, fileCount, environment.errorIsTerminal && !options.quiet,
                            environment);
  const conversion::RunResult result = conversion::convert(request, store, observer);

  if (result.stage != conversion::RunResult::Stage::Completed) {
    err << kProgram << ": the store could not be written: " << TerminalSafe(describe(*result.preparation))
        << '\n';
    return kExitUsage;
  }
  // A failed store is told once, before the files it does not hold.
  if (result.storeFailure) {
    err << kProgram << ": the store failed: " << TerminalSafe(result.storeFailure->detail) << '\n';
  }
  for (const auto& failure : result.failures) {
    if (failure.cause.cause == conversion::StoreFailure::StoreFailed) {
      err << kProgram << ": not converted: " << TerminalSafe(failure.path) << '\n';
    } else {
      reportFailure(err, failure);
    }
  }
  out << TerminalSafe(result.storeFilePath) << '\n';
  if (result.stopped) {
    const std::size_t attempted = result.converted + result.failures.size();
    err << kProgram << ": interrupted: " << result.converted << " of " << fileCount
        << " files converted, " << fileCount - attempted
        << " left out; the store is complete with those converted\n";
    return kExitSignalBase + signalNow(environment);
  }
  return someFailed || !result.failures.empty() ? kExitSomeFailed : kExitConverted;
}

int runCommand(const std::vector<std::string>& args, conversion::StoreService& store,
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
    return convert(options, store, fileSystem, environment, out, err);
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

int RunCli(const std::vector<std::string>& args, conversion::StoreService& store,
           const platform::FileSystem& fileSystem, const CliEnvironment& environment,
           std::ostream& out, std::ostream& err) {
  const int status = runCommand(args, store, fileSystem, environment, out, err);
  // A caller that reads the store's path from standard output must not take
  // a run whose output was lost (a full disk, a closed pipe) for a success.
  out.flush();
  if (out) return status;
  err << kProgram << ": cannot write to standard output\n";
  return status == kExitConverted ? kExitSomeFailed : status;
}

}  // namespace parvane::cli
