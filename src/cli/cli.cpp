#include "cli/cli.h"

#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "cli/cli_options.h"
#include "cli/progress_line.h"
#include "cli/report_file.h"
#include "cli/source_files.h"
#include "cli/terminal_text.h"
#include "conversion/convert.h"
#include "conversion/failure_report.h"
#include "conversion/run_report.h"
#include "filelist/add_folder.h"
#include "platform/native_files.h"

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

OutputTarget resolveOutput(const std::string& output, core::FileSystem& fileSystem,
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

void reportFailure(std::ostream& err, const conversion::ImportError& failure,
                   const conversion::RunResult& result) {
  // The line already names the file; say it once.
  reportFailure(err, failure.path, conversion::FailureReason(failure, result));
}

std::string describe(const conversion::PreparationError& error) {
  if (error.cause != conversion::PreparationFailure::StoreNotCreated) {
    return conversion::PreparationCause(error);
  }
  return "Cannot create the store \"" + error.path + "\": " + error.store.detail;
}

// --report FILE: checked and created before any store is made. Once created
// it always ends with its summary line, whatever ends the command.
class Report {
 public:
  Report(std::string path, std::unique_ptr<std::ostream> file, conversion::FileSize sizeOf)
      : path_(std::move(path)), file_(std::move(file)), sizeOf_(std::move(sizeOf)) {}

  // A file left out before the run, in its place in the list.
  void refuse(const std::string& file, const std::string& reason) {
    early_.push_back({accepted_, {file, {}, false, reason, sizeOf_(file), {}}});
  }
  void accept() { ++accepted_; }
  void walked(const SourceFiles& sources) {
    unreadableFolders_ = sources.unreadableFolders;
    skippedLinks_ = sources.folderLinks;
    skippedLinks_.insert(skippedLinks_.end(), sources.danglingLinks.begin(), sources.danglingLinks.end());
  }
  // The run's files, among those left out before.
  void ran(const conversion::ConversionRequest& request, const conversion::RunResult& result) {
    run_ = result;
    runFiles_ = conversion::RunOutcomes(request, result, sizeOf_);
  }
  // The files accepted, none tried: a signal came before the store.
  void stoppedBefore(const conversion::ConversionRequest& request) {
    conversion::RunResult none;
    none.stopped = true;
    ran(request, none);
  }

  // Writes the lines with the command's exit status; a report that cannot be
  // written is told, and a command that would exit with 0 then exits with 1.
  int finish(int status, std::ostream& err) {
    std::vector<conversion::FileOutcome> files;
    files.reserve(early_.size() + runFiles_.size());
    auto early = early_.begin();
    for (std::size_t k = 0; k <= runFiles_.size(); ++k) {
      for (; early != early_.end() && early->first == k; ++early) files.push_back(std::move(early->second));
      if (k < runFiles_.size()) files.push_back(std::move(runFiles_[k]));
    }
    conversion::RunSummary summary = conversion::SummaryOf(run_, files);
    summary.unreadableFolders = unreadableFolders_;
    summary.skippedLinks = skippedLinks_;
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    summary.exitStatus = status;
    conversion::WriteReport(*file_, files, summary);
    file_->flush();
    if (*file_) return status;
    err << kProgram << ": cannot write the report: " << TerminalSafe(path_) << '\n';
    return status == kExitConverted ? kExitSomeFailed : status;
  }

 private:
  std::string path_;
  std::unique_ptr<std::ostream> file_;
  conversion::FileSize sizeOf_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::size_t accepted_ = 0;
  // Each with the number of files accepted before it.
  std::vector<std::pair<std::size_t, conversion::FileOutcome>> early_;
  conversion::RunResult run_;  // none: no store, nothing tried
  std::vector<conversion::FileOutcome> runFiles_;
  std::vector<std::string> unreadableFolders_, skippedLinks_;
};

// The report's file, refused before anything is written when it would be a
// folder, or a message file or store (the new one among them) that it would
// replace.
std::optional<Report> openReport(const std::string& given, core::FileSystem& fileSystem,
                                 const CliEnvironment& environment) {
  if (given.empty()) return std::nullopt;
  const std::string path = AbsolutePath(given, environment.currentDirectory);
  if (fileSystem.folderExists(path)) throw UsageError("the report must be a file, not a folder: " + given);
  if (endsWithPst(path) || filelist::IsMessageFile(path)) {
    throw UsageError("the report must not be a .msg or .pst file: " + given);
  }
  if (!fileSystem.folderExists(ParentFolder(path))) {
    throw UsageError("the report's folder does not exist: " + given);
  }
  auto file = environment.createReport ? environment.createReport(path) : CreateReportFile(path);
  if (!file || !*file) throw UsageError("the report cannot be written: " + given);
  return Report(path, std::move(file),
                environment.fileSize ? environment.fileSize : conversion::FileSize(platform::RegularFileSize));
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

// Every store written, one a line on standard output, in order; on standard
// error what a user must know about their sizes.
void ReportStores(const conversion::RunResult& result, std::uint64_t maxStoreSize,
                  std::ostream& out, std::ostream& err) {
  for (const auto& store : result.stores) out << TerminalSafe(store.path) << '\n';
  for (const auto& store : result.stores) {
    if (store.oversizedMessage) {
      // Whether a message fits is judged before it is written, by the most
      // it can take; written, it may take less and leave the store small.
      err << kProgram << ": " << TerminalSafe(store.path) << " holds one message alone: ";
      if (store.bytes > maxStoreSize) {
        err << "it is too large for a store of at most " << ShowSize(maxStoreSize) << " (the store is "
            << ShowSize(store.bytes) << ")\n";
      } else {
        err << "before it was written, it could take more than a store of at most " << ShowSize(maxStoreSize)
            << " allows beside other messages (written, the store is " << ShowSize(store.bytes) << ")\n";
      }
    }
  }
  for (const auto* store : conversion::StoresPastOutlookWarning(result)) {
    err << kProgram << ": warning: " << TerminalSafe(store->path) << " is " << ShowSize(store->bytes)
        << ": Outlook warns past 47.5 GB and by default opens no store past 50 GB; "
           "--max-store-size 20G writes the messages into stores of at most 20 GB\n";
  }
}

int convert(const CliOptions& options, conversion::StoreService& store,
            core::FileSystem& fileSystem, const CliEnvironment& environment,
            std::ostream& out, std::ostream& err, std::optional<Report>& report) {
  const OutputTarget target = resolveOutput(options.output, fileSystem, environment.currentDirectory);
  report = openReport(options.report, fileSystem, environment);
  SourceFiles sources = CollectSourceFiles(options.sources, fileSystem, environment.currentDirectory);
  if (report) report->walked(sources);
  bool someFailed = false;
  for (const auto& folder : sources.unreadableFolders) {
    err << kProgram << ": cannot read folder " << TerminalSafe(folder) << '\n';
    someFailed = true;
  }
  ReportSkippedLinks(sources, err);

  // A file that cannot go into a store folder would stop the whole run; it is
  // reported and left out instead.
  // The walk's list goes to the run as it is, unless a file is left out: the
  // files kept are then listed anew from there on.
  conversion::ConversionRequest request;
  request.pathRules = conversion::kNativePathRules;
  conversion::PathList kept;
  bool leftOut = false;
  for (std::size_t i = 0; i < sources.files.size(); ++i) {
    const std::string file = sources.files.path(i);
    try {
      request.pathRules.relativeFolder(file);
      if (leftOut) kept.append(file);
      if (report) report->accept();
    } catch (const std::exception& e) {
      reportFailure(err, file, e.what());
      if (report) report->refuse(file, e.what());
      someFailed = true;
      if (!leftOut) {
        for (std::size_t k = 0; k < i; ++k) kept.append(sources.files.path(k));
        leftOut = true;
      }
    }
  }
  // the paths live on in the request alone
  request.files = leftOut ? std::move(kept) : std::move(sources.files);
  sources.files = {};
  if (request.files.empty()) {
    err << kProgram << ": no message files to convert\n";
    return kExitUsage;
  }
  if (const int signal = signalNow(environment)) {
    err << kProgram << ": interrupted before any store was created\n";
    if (report) report->stoppedBefore(request);
    return kExitSignalBase + signal;
  }

  const std::size_t fileCount = request.files.size();
  request.destinationFolder = target.folder;
  request.storeFilePath = target.pstFile;
  request.clock = environment.clock;
  request.maxStoreSize = options.maxStoreSize;
  TerminalObserver observer(err, fileCount, environment.errorIsTerminal && !options.quiet,
                            environment);
  const conversion::RunResult result = conversion::convert(request, store, observer);
  if (report) report->ran(request, result);

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
      reportFailure(err, failure, result);
    }
  }
  ReportStores(result, options.maxStoreSize, out, err);
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
               core::FileSystem& fileSystem, const CliEnvironment& environment,
               std::ostream& out, std::ostream& err, std::optional<Report>& report) {
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
    return convert(options, store, fileSystem, environment, out, err, report);
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
           core::FileSystem& fileSystem, const CliEnvironment& environment,
           std::ostream& out, std::ostream& err) {
  std::optional<Report> report;
  int status = runCommand(args, store, fileSystem, environment, out, err, report);
  // A caller that reads the store's path from standard output must not take
  // a run whose output was lost (a full disk, a closed pipe) for a success.
  out.flush();
  if (!out) {
    err << kProgram << ": cannot write to standard output\n";
    if (status == kExitConverted) status = kExitSomeFailed;
  }
  // Last, so that it holds the status the command exits with.
  return report ? report->finish(status, err) : status;
}

}  // namespace parvane::cli
