// parvane-cli over a store service and a file system held in memory.
#include "cli/cli.h"
#include "engine/core/forwarding_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <streambuf>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include "conversion/run_report.h"
#include "conversion/convert.h"
#include "conversion/store_file_name.h"
#include "platform/folder_paths.h"
#include "support/fake_ui.h"
#include "support/memory_store_service.h"
#include "support/native_path.h"

namespace parvane::cli {
namespace {

using List = std::vector<std::string>;
using testing::NativePath;

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    files.addFolder(NativePath("/"));
    files.addSubFolder(NativePath("/"), "out");
    files.addSubFolder(NativePath("/"), "mail");
    files.addFile(NativePath("/mail"), "a.msg");
    files.addFile(NativePath("/mail"), "notes.txt");
    files.addSubFolder(NativePath("/mail"), "Sub");
    files.addFile(NativePath("/mail/Sub"), "B.MSG");
    environment.currentDirectory = NativePath("/");
    environment.clock = [] { return conversion::LocalTime{2026, 12, 6, 9, 5, 7}; };
    environment.createReport = [this](const std::string& path) {
      reportPath = path;
      report.str({});
      if (reportRefused) return std::make_unique<std::ostream>(nullptr);  // fails at once
      return std::make_unique<std::ostream>(reportFull ? static_cast<std::streambuf*>(&full) : &report);
    };
    // A file's size is its path's length here; a FIFO has none.
    environment.fileSize = [](const std::string& path) -> std::optional<std::uint64_t> {
      if (path.find("fifo") != std::string::npos) return std::nullopt;
      return path.size();
    };
  }

  // The paths among `args` are written POSIX-style and given in the platform's form.
  int run(const List& args) {
    out.str({});
    err.str({});
    List given;
    for (const auto& arg : args) given.push_back(NativePath(arg));
    services.push_back(std::make_unique<testing::MemoryStoreService>());
    services.back()->unreadable = failing;
    services.back()->saveFailsFrom = failSavesFrom;
    if (prepareStore) prepareStore(*services.back());
    // A store file an earlier run made is there; a refused destination refuses all.
    services.back()->createFails = [this](const std::string& path) -> std::optional<conversion::StoreError> {
      if (refuseStore) {
        return conversion::StoreError{conversion::StoreFailure::NotWritable, "Read-only file system"};
      }
      for (std::size_t i = 0; i + 1 < services.size(); ++i) {
        if (services[i]->created && services[i]->path == path) {
          return conversion::StoreError{conversion::StoreFailure::AlreadyExists, "File exists"};
        }
      }
      return std::nullopt;
    };
    return RunCli(given, *services.back(), *fileSystem, environment, out, err);
  }
  std::string lastLine() const {
    std::string text = out.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  }
  // The service of the last run that wrote `pst`, or none.
  testing::MemoryStoreService* storeAt(const std::string& pst) const {
    for (auto it = services.rbegin(); it != services.rend(); ++it) {
      if ((*it)->path == NativePath(pst)) return it->get();
    }
    return nullptr;
  }
  List messagesIn(const std::string& pst, const std::string& folder) const {
    auto* store = storeAt(pst);
    if (!store) return {"<no store>"};
    auto paths = store->folderPaths();
    if (std::find(paths.begin(), paths.end(), folder) == paths.end()) return {"<no folder>"};
    return store->filesIn(folder);
  }
  // The calls of the last run that start with `name`.
  List callsOf(const std::string& name) const {
    List found;
    for (const auto& call : services.back()->calls) {
      if (call.rfind(name, 0) == 0) found.push_back(call);
    }
    return found;
  }
  bool noCalls() const { return services.empty() || services.back()->calls.empty(); }

  // The report's lines, then its summary's fields that do not vary with the time.
  List reportLines() const {
    List lines;
    std::istringstream text(report.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (!lines.empty()) {
      std::string& summary = lines.back();
      const auto seconds = summary.find(",\"seconds\":");
      const auto status = summary.find(",\"exit_status\":");
      if (seconds != std::string::npos && status != std::string::npos) summary.erase(seconds, status - seconds);
    }
    return lines;
  }
  static std::string fileLine(const std::string& posixPath, const std::string& folder,
                              const std::string& reason = {}) {
    const std::string path = NativePath(posixPath);
    return conversion::ReportLine(
        {path, folder, reason.empty(), reason, path.size(),
         reason.empty() ? NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst") : ""});
  }
  // A device that takes nothing.
  struct FullBuffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  };

  std::stringbuf report;
  FullBuffer full;
  std::string reportPath;
  bool reportRefused = false, reportFull = false;
  testing::MemoryFileSystem files{platform::kPathSeparator};
  core::FileSystem* fileSystem = &files;  // what the run lists folders with
  std::vector<std::unique_ptr<testing::MemoryStoreService>> services;
  std::set<std::string> failing;  // files whose import fails
  bool refuseStore = false;
  int failSavesFrom = 0;
  std::function<void(testing::MemoryStoreService&)> prepareStore;  // sizes, before each run
  CliEnvironment environment;
  std::ostringstream out, err;
};

const std::string kNamedPst = NativePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst");

TEST_F(CliTest, HelpAndVersionGoToStandardOutput) {
  EXPECT_EQ(run({"--help"}), kExitConverted);
  EXPECT_EQ(out.str().rfind("Usage: parvane-cli -o OUTPUT SOURCE...\n", 0), 0u);
  EXPECT_EQ(run({"--version"}), kExitConverted);
  EXPECT_EQ(out.str().rfind("parvane-cli ", 0), 0u);
  EXPECT_TRUE(err.str().empty());
  EXPECT_TRUE(noCalls());
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndWriteNothing) {
  const std::vector<std::pair<List, std::string>> cases = {
      {{}, "no output given"},
      {{"-o", "/out"}, "no source given"},
      {{"-z", "-o", "/out", "/mail"}, "unknown option -z"},
      {{"-o", "/mail/notes.txt", "/mail"}, "existing folder or a new .pst file"},
      {{"-o", "/nowhere/x.pst", "/mail"}, "folder does not exist"},
      {{"-o", "/out", "/mail/missing.msg"},
       "no such file or folder: " + NativePath("/mail/missing.msg")},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args), kExitUsage) << message;
    EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("Try 'parvane-cli --help'"), std::string::npos);
    EXPECT_TRUE(out.str().empty());
  }
  EXPECT_TRUE(noCalls());
}

TEST_F(CliTest, ExistingPstIsNotOverwritten) {
  files.addFile(NativePath("/out"), "old.PST");
  EXPECT_EQ(run({"-o", "/out/old.PST", "/mail"}), kExitUsage);
  EXPECT_NE(err.str().find("exists already"), std::string::npos);
  EXPECT_TRUE(noCalls());
}

TEST_F(CliTest, FolderOutputIsNamedAsTheWindowNamesIt) {
  EXPECT_EQ(run({"-o", "/out/", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_EQ(callsOf("createStore"),
            (List{"createStore " + kNamedPst + " 1 Ostrel Software : Created - 6.12.26 9.5.07"}));
  EXPECT_EQ(storeAt(kNamedPst)->folderPaths(), (List{"mail", "mail\\Sub"}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail\\Sub"), (List{NativePath("/mail/Sub/B.MSG")}));
  EXPECT_FALSE(storeAt(kNamedPst)->attached);
  EXPECT_TRUE(err.str().empty());  // not a terminal: no progress
}

TEST_F(CliTest, ExplicitPstPathAndRelativeSources) {
  environment.currentDirectory = NativePath("/mail/Sub");
  EXPECT_EQ(run({"-o", "../../out/new.pst", "B.MSG", "../a.msg"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), NativePath("/out/new.pst"));
  EXPECT_EQ(callsOf("createStore"),
            (List{"createStore " + NativePath("/out/new.pst") +
                  " 1 Ostrel Software : Created - 6.12.26 9.5.07"}));
  EXPECT_EQ(messagesIn("/out/new.pst", "mail\\Sub"), (List{NativePath("/mail/Sub/B.MSG")}));
}

TEST_F(CliTest, AFileNamedTwiceIsConvertedOnce) {
  EXPECT_EQ(run({"-o", "/out", "/mail/a.msg", "/mail"}), kExitConverted);
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
  EXPECT_EQ(callsOf("save").size(), 2u);
  // the folder first, then a file and a folder it holds already
  EXPECT_EQ(run({"-o", "/out/again.pst", "/mail", "/mail/Sub/B.MSG", "/mail/Sub"}),
            kExitConverted);
  EXPECT_EQ(messagesIn("/out/again.pst", "mail\\Sub"), (List{NativePath("/mail/Sub/B.MSG")}));
  EXPECT_EQ(callsOf("save").size(), 2u);
}

TEST_F(CliTest, FailedFilesAreListedAndExitWithOne) {
  files.addFile(NativePath("/mail"), "bad.msg");
  failing = {NativePath("/mail/bad.msg")};
  EXPECT_EQ(run({"-o", "/out", "/mail"}), kExitSomeFailed);
  EXPECT_NE(err.str().find("parvane-cli: cannot convert " + NativePath("/mail/bad.msg") +
                           ": not a message file\n"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
}

TEST_F(CliTest, FileInTheRootIsLeftOutAndReported) {
  files.addFile(NativePath("/"), "top.msg");
  EXPECT_EQ(run({"-o", "/out", "/top.msg", "/mail/a.msg"}), kExitSomeFailed);
  EXPECT_NE(err.str().find("cannot convert " + NativePath("/top.msg")), std::string::npos);
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
  // left out between files that are kept: those before and after it stay, in order
  EXPECT_EQ(run({"-o", "/out/y.pst", "/mail/a.msg", "/top.msg", "/mail/Sub/B.MSG"}), kExitSomeFailed);
  EXPECT_EQ(messagesIn("/out/y.pst", "mail"), (List{NativePath("/mail/a.msg")}));
  EXPECT_EQ(messagesIn("/out/y.pst", "mail\\Sub"), (List{NativePath("/mail/Sub/B.MSG")}));
  EXPECT_EQ(callsOf("save").size(), 2u);

  EXPECT_EQ(run({"-o", "/out/x.pst", "/top.msg"}), kExitUsage);
  EXPECT_NE(err.str().find("no message files to convert"), std::string::npos);
}

TEST_F(CliTest, FolderWithoutMessagesWritesNoStore) {
  files.addSubFolder(NativePath("/"), "empty");
  EXPECT_EQ(run({"-o", "/out", "/empty"}), kExitUsage);
  EXPECT_TRUE(noCalls());
}

TEST_F(CliTest, UnreadableFolderIsReportedAndTheRestConverted) {
  files.makeUnreadable(NativePath("/mail/Sub"));
  EXPECT_EQ(run({"-o", "/out", "/mail"}), kExitSomeFailed);
  EXPECT_NE(err.str().find("cannot read folder " + NativePath("/mail/Sub/")), std::string::npos);
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
}

TEST_F(CliTest, StoreThatCannotBeWrittenExitsWithTwo) {
  refuseStore = true;
  EXPECT_EQ(run({"-o", "/out", "/mail"}), kExitUsage);
  EXPECT_NE(err.str().find("the store could not be written: Cannot create the store \"" +
                           kNamedPst + "\": Read-only file system\n"),
            std::string::npos)
      << err.str();
  EXPECT_TRUE(out.str().empty());
}

TEST_F(CliTest, ProgressOnlyOnATerminalAndNotWhenQuiet) {
  environment.errorIsTerminal = true;
  EXPECT_EQ(run({"-o", "/out", "/mail"}), kExitConverted);
  EXPECT_NE(err.str().find("\r[##########          ]  50%  1 of 2"), std::string::npos);
  // The rate and the time left follow once the clock has moved; the line ends the output.
  EXPECT_NE(err.str().find("\r[####################] 100%  2 of 2"), std::string::npos);
  EXPECT_EQ(err.str().find('\n'), err.str().size() - 1);
  EXPECT_EQ(lastLine(), kNamedPst);

  files.addSubFolder(NativePath("/"), "out2");
  EXPECT_EQ(run({"--quiet", "-o", "/out2", "/mail"}), kExitConverted);
  EXPECT_TRUE(err.str().empty());
}

TEST_F(CliTest, ASignalBetweenFilesFinishesTheStoreWithThoseConverted) {
  files.addFile(NativePath("/mail"), "c.msg");
  files.addFile(NativePath("/mail/Sub"), "d.msg");
  environment.pendingSignal = [this] {
    return callsOf("save").size() >= 2 ? 2 : 0;  // SIGINT
  };
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitSignalBase + 2);
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_NE(err.str().find("parvane-cli: interrupted: 2 of 4 files converted, 2 left out"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), 
            (List{NativePath("/mail/a.msg"), NativePath("/mail/c.msg")}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail\\Sub"), List{});
  EXPECT_FALSE(storeAt(kNamedPst)->attached);  // finished and closed
  EXPECT_TRUE(storeAt(kNamedPst)->sessionEnded);
}

TEST_F(CliTest, ASignalBeforeTheRunCreatesNoStore) {
  environment.pendingSignal = [] { return 15; };  // SIGTERM
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitSignalBase + 15);
  EXPECT_FALSE(services.back()->created);
  EXPECT_TRUE(out.str().empty());
  EXPECT_NE(err.str().find("interrupted before any store was created"), std::string::npos);
}

// Counts the reads of each folder.
class CountingFileSystem : public core::ForwardingFileSystem {
 public:
  explicit CountingFileSystem(core::FileSystem& files) : files_(files) {}
  core::FolderListing listFolder(const std::string& path) override {
    ++reads[key(path)];
    return files_.listFolder(path);
  }
  std::map<std::string, int> reads;

 private:
  static std::string key(std::string path) {
    if (path.size() > 1 && path.back() == platform::kPathSeparator) path.pop_back();
    return path;
  }
  core::FileSystem& target() override { return files_; }
  core::FileSystem& files_;
};

// A shell's "DIR/*.msg" names every file of a folder: each named file, and the
// folder walked beside them, costs no further reading of the folder.
TEST_F(CliTest, EachFolderIsReadOnceHoweverManyOfItsFilesAreNamed) {
  List args{"-o", "/out", "/mail/a.msg"};
  for (int i = 0; i < 40; ++i) {
    files.addFile(NativePath("/mail"), "m" + std::to_string(i) + ".msg");
    args.push_back("/mail/m" + std::to_string(i) + ".msg");
  }
  args.push_back("/mail/Sub/B.MSG");
  args.push_back("/mail");
  args.push_back("/mail/Sub");
  CountingFileSystem counting(files);
  fileSystem = &counting;
  EXPECT_EQ(run(args), kExitConverted) << err.str();
  EXPECT_EQ(counting.reads, (std::map<std::string, int>{{NativePath("/mail"), 1},
                                                        {NativePath("/mail/Sub"), 1}}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail").size(), 41u);
  EXPECT_EQ(messagesIn(kNamedPst, "mail\\Sub"), (List{NativePath("/mail/Sub/B.MSG")}));
  // A file its folder does not list is still refused.
  EXPECT_EQ(run({"-o", "/out", "/mail/a.msg", "/mail/nothing.msg"}), kExitUsage);
  EXPECT_NE(err.str().find("no such file or folder: " + NativePath("/mail/nothing.msg")),
            std::string::npos);
}

// Two runs in one second: the later store takes the next free number, under
// the same display name.
TEST_F(CliTest, AStampedNameTakenAlreadyGivesTheNextFreeNumber) {
  const std::string second = NativePath("/out/OstrelMSGMessages6.12.26 9.5.07 (2).pst");
  const std::string third = NativePath("/out/OstrelMSGMessages6.12.26 9.5.07 (3).pst");
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), second);
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), third);
  EXPECT_EQ(messagesIn(third, "mail"), (List{NativePath("/mail/a.msg")}));
  for (const auto& service : services) EXPECT_FALSE(service->attached);  // all closed
  const List added = callsOf("createStore");
  ASSERT_FALSE(added.empty());
  EXPECT_EQ(added.back(), "createStore " + third + " 1 Ostrel Software : Created - 6.12.26 9.5.07");
  // A path given by name is never numbered: an existing one is refused.
  EXPECT_EQ(run({"-q", "-o", kNamedPst, "/mail"}), kExitUsage);
}

// A stream whose every write fails, as standard output on a full disk.
class FailingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
  int sync() override { return -1; }
};

TEST_F(CliTest, LostStandardOutputMakesTheExitStatusNonZero) {
  FailingBuffer refusing;
  std::ostream lost(&refusing);
  testing::MemoryStoreService store;
  EXPECT_EQ(RunCli({"-q", "-o", NativePath("/out"), NativePath("/mail")}, store, files,
                   environment, lost, err),
            kExitSomeFailed);
  EXPECT_NE(err.str().find("parvane-cli: cannot write to standard output\n"), std::string::npos);
  std::ostream lostHelp(&refusing);
  EXPECT_EQ(RunCli({"--help"}, store, files, environment, lostHelp, err), kExitSomeFailed);
  // A run that failed already keeps its own status.
  std::ostream lostAgain(&refusing);
  EXPECT_EQ(RunCli({"-o", NativePath("/nowhere/x.pst"), NativePath("/mail")}, store, files,
                   environment, lostAgain, err),
            kExitUsage);
}

// A name can hold any byte but the separator: a newline must not start a
// line of its own, nor an escape sequence reach the terminal.
TEST_F(CliTest, PathsArePrintedWithControlCharactersEscaped) {
  const std::string evil = "x\nparvane-cli: all fine\x1b[2J\xff.msg";
  files.addFile(NativePath("/mail"), evil);
  failing = {NativePath("/mail/") + evil};
  files.addSubFolder(NativePath("/"), "out\x1b]0;t\a");
  EXPECT_EQ(run({"-q", "-o", "/out\x1b]0;t\a", "/mail"}), kExitSomeFailed);
  const std::string printedName = "x\\nparvane-cli: all fine\\x1b[2J\\xff.msg";
  EXPECT_NE(err.str().find("parvane-cli: cannot convert " + NativePath("/mail/") + printedName + ": "),
            std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find('\x1b'), std::string::npos);
  const std::string printed = err.str();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
  EXPECT_EQ(out.str(), NativePath("/out\\x1b]0;t\\x07/OstrelMSGMessages6.12.26 9.5.07.pst") + "\n");
  // A source that does not exist is named escaped too.
  EXPECT_EQ(run({"-o", "/out", "/mail/\r.msg"}), kExitUsage);
  EXPECT_NE(err.str().find("no such file or folder: " + NativePath("/mail/") + "\\r.msg"),
            std::string::npos)
      << err.str();
}

TEST_F(CliTest, AStoreThatFailsMidRunNamesEveryFileNotInItAndExitsWithOne) {
  files.addFile(NativePath("/mail"), "c.msg");
  failSavesFrom = 2;  // a.msg is saved and kept; c.msg fails, B.MSG is never tried
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitSomeFailed);
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_EQ(err.str(), "parvane-cli: the store failed: No space left on device\n"
                       "parvane-cli: not converted: " + NativePath("/mail/c.msg") + "\n"
                       "parvane-cli: not converted: " + NativePath("/mail/Sub/B.MSG") + "\n");
}

// --report: one line per listed file in list order, with the files left out
// before the run in their places, then the summary; what the terminal shows
// stays as it is without the report.
TEST_F(CliTest, TheReportNamesEveryListedFileInOrderAndTheSummaryAddsUp) {
  files.addFile(NativePath("/"), "top.msg");
  files.addFile(NativePath("/mail"), "bad.msg");
  failing = {NativePath("/mail/bad.msg")};
  const List args = {"-q", "-o", "/out", "/mail/bad.msg", "/top.msg", "/mail"};
  List withReport = args;
  withReport.insert(withReport.begin(), {"--report", "/out/run.jsonl"});
  EXPECT_EQ(run(withReport), kExitSomeFailed);
  const std::string printed = out.str() + err.str();
  EXPECT_EQ(reportPath, NativePath("/out/run.jsonl"));
  const std::string rootReason = err.str().substr(err.str().find(NativePath("/top.msg") + ": ") +
                                                  NativePath("/top.msg").size() + 2);
  EXPECT_EQ(reportLines(),
            (List{fileLine("/mail/bad.msg", "mail", "not a message file"),
                  fileLine("/top.msg", "", rootReason.substr(0, rootReason.find('\n'))),
                  fileLine("/mail/a.msg", "mail"), fileLine("/mail/Sub/B.MSG", "mail\\Sub"),
                  R"({"summary":true,"store":)" + conversion::JsonString(kNamedPst) + R"(,"stores":[)" +
                      conversion::JsonString(kNamedPst) + R"(],"listed":4,"converted":2,"refused":2,"stopped":false,"store_failure":null,)"
                      R"("unreadable_folders":[],"skipped_links":[],"exit_status":1})"}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));

  // The same run without the report prints the same.
  files.addSubFolder(NativePath("/"), "out2");
  List again = args;
  again[2] = NativePath("/out2");
  EXPECT_EQ(run(again), kExitSomeFailed);
  std::string expected = printed;
  for (std::size_t at; (at = expected.find(NativePath("/out/"))) != std::string::npos;) {
    expected.replace(at, NativePath("/out/").size(), NativePath("/out2/"));
  }
  EXPECT_EQ(out.str() + err.str(), expected);
}

TEST_F(CliTest, TheReportOfAFailedStoreCallsConvertedOnlyWhatTheStoreHolds) {
  files.addFile(NativePath("/mail"), "c.msg");
  failSavesFrom = 2;  // a.msg is saved and kept; c.msg fails, B.MSG is never tried
  EXPECT_EQ(run({"-q", "--report=/out/r.txt", "-o", "/out", "/mail"}), kExitSomeFailed);
  const std::string lost = "the store failed: No space left on device";
  const List lines = reportLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], fileLine("/mail/a.msg", "mail"));
  EXPECT_EQ(lines[1], fileLine("/mail/c.msg", "mail", lost));
  EXPECT_EQ(lines[2], fileLine("/mail/Sub/B.MSG", "mail\\Sub", lost));
  EXPECT_NE(lines[3].find(R"("converted":1,"refused":2,"stopped":false,"store_failure":"No space left on device")"),
            std::string::npos)
      << lines[3];
  EXPECT_EQ(messagesIn(kNamedPst, "mail"), (List{NativePath("/mail/a.msg")}));
  EXPECT_EQ(messagesIn(kNamedPst, "mail\\Sub"), List{});
}

TEST_F(CliTest, TheReportOfAStoppedOrUnmadeRunRefusesWhatItLeftOut) {
  files.addFile(NativePath("/mail"), "c.msg");
  files.makeUnreadable(NativePath("/mail/Sub"));
  environment.pendingSignal = [this] { return callsOf("save").size() >= 1 ? 15 : 0; };
  EXPECT_EQ(run({"-q", "--report", "/out/r.txt", "-o", "/out", "/mail"}), kExitSignalBase + 15);
  List lines = reportLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], fileLine("/mail/a.msg", "mail"));
  EXPECT_EQ(lines[1], fileLine("/mail/c.msg", "mail", conversion::kLeftOutReason));
  EXPECT_NE(lines[2].find(R"("converted":1,"refused":1,"stopped":true,"store_failure":null,"unreadable_folders":[)" +
                          conversion::JsonString(NativePath("/mail/Sub/")) + "]"),
            std::string::npos)
      << lines[2];
  EXPECT_NE(lines[2].find(R"("exit_status":143})"), std::string::npos) << lines[2];

  // A signal before the store: every file left out, no store.
  environment.pendingSignal = [] { return 2; };
  EXPECT_EQ(run({"-q", "--report", "/out/r.txt", "-o", "/out", "/mail/a.msg"}), kExitSignalBase + 2);
  lines = reportLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], fileLine("/mail/a.msg", "mail", conversion::kLeftOutReason));
  EXPECT_EQ(lines[1].rfind(R"({"summary":true,"store":null,"stores":[],"listed":1,"converted":0,"refused":1,"stopped":true,)", 0), 0u)
      << lines[1];

  // A store that cannot be made: every file refused with the cause.
  environment.pendingSignal = nullptr;
  refuseStore = true;
  EXPECT_EQ(run({"-q", "--report", "/out/r.txt", "-o", "/out", "/mail/a.msg"}), kExitUsage);
  lines = reportLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], fileLine("/mail/a.msg", "mail",
                               "The destination folder cannot be written: Read-only file system"));
  EXPECT_NE(lines[1].find(R"("store":null,)"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(R"("exit_status":2})"), std::string::npos) << lines[1];
}

TEST_F(CliTest, AReportThatCannotBeWrittenIsRefusedBeforeAnyStore) {
  files.addFile(NativePath("/mail"), "run.jsonl");
  const std::vector<std::pair<List, std::string>> cases = {
      {{"--report", "/out", "-o", "/out", "/mail"}, "the report must be a file, not a folder"},
      {{"--report", "/out/x.pst", "-o", "/out/x.pst", "/mail"}, "the report must not be a .msg or .pst file"},
      {{"--report", "/mail/a.msg", "-o", "/out", "/mail"}, "the report must not be a .msg or .pst file"},
      {{"--report", "/out/old.PST", "-o", "/out", "/mail"}, "the report must not be a .msg or .pst file"},
      {{"--report", "/nowhere/r.txt", "-o", "/out", "/mail"}, "the report's folder does not exist"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args), kExitUsage) << message;
    EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
    EXPECT_TRUE(reportPath.empty()) << message;  // never created
  }
  reportRefused = true;
  EXPECT_EQ(run({"--report", "/out/r.txt", "-o", "/out", "/mail"}), kExitUsage);
  EXPECT_NE(err.str().find("the report cannot be written: " + NativePath("/out/r.txt")), std::string::npos)
      << err.str();
  EXPECT_TRUE(noCalls());

  // A report replaced while the command fails later ends with its summary.
  reportRefused = false;
  EXPECT_EQ(run({"--report", "/mail/run.jsonl", "-o", "/out", "/mail/missing.msg"}), kExitUsage);
  EXPECT_EQ(reportLines(), (List{R"({"summary":true,"store":null,"stores":[],"listed":0,"converted":0,"refused":0,)"
                                 R"("stopped":false,"store_failure":null,"unreadable_folders":[],)"
                                 R"("skipped_links":[],"exit_status":2})"}));
  EXPECT_TRUE(noCalls());
}

// A report lost on the way (a full disk) is told; a run that converted
// everything then exits with 1, as with a lost standard output.
TEST_F(CliTest, AReportThatFailsToBeWrittenMakesTheExitStatusNonZero) {
  reportFull = true;
  EXPECT_EQ(run({"-q", "--report", "/out/r.txt", "-o", "/out", "/mail"}), kExitSomeFailed);
  EXPECT_EQ(err.str(), "parvane-cli: cannot write the report: " + NativePath("/out/r.txt") + "\n");
  EXPECT_EQ(lastLine(), kNamedPst);
}

// The run over a store of at most 1.5 MB: every store on its own line, and the
// one message too large to share a store named on standard error.
TEST_F(CliTest, AStoreSizeLimitNamesEveryStoreWrittenAndTheMessagesLeftAlone) {
  files.addFile(NativePath("/mail"), "c.msg");
  files.addFile(NativePath("/mail"), "huge.msg");
  prepareStore = [](testing::MemoryStoreService& store) {
    store.emptyStoreSize = 256 << 10;
    store.defaultFileSize = 600 << 10;
    store.fileSizes[NativePath("/mail/huge.msg")] = 3 << 20;
  };
  EXPECT_EQ(run({"--max-store-size", "1.5M", "-o", "/out", "/mail"}), kExitConverted) << err.str();
  const std::string second = conversion::NumberedStorePath(kNamedPst, 2),
                    third = conversion::NumberedStorePath(kNamedPst, 3);
  // a, c | huge | B: the list is sorted, the folder's own files first
  EXPECT_EQ(out.str(), kNamedPst + "\n" + second + "\n" + third + "\n");
  EXPECT_EQ(err.str(), "parvane-cli: " + second +
                           " holds one message alone: it is too large for a store of at most 1.5 MB"
                           " (the store is 3.3 MB)\n");
  EXPECT_EQ(services.back()->finished.size(), 3u);

  // Without the option, one store, whatever its size.
  EXPECT_EQ(run({"-o", "/out", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(out.str().find('\n'), out.str().size() - 1) << out.str();
  EXPECT_EQ(err.str(), "");
}

TEST_F(CliTest, AStorePastTheSizeOutlookWarnsAtIsToldWithTheWayToSplit) {
  prepareStore = [](testing::MemoryStoreService& store) {
    store.emptyStoreSize = conversion::kOutlookWarningStoreSize;
  };
  EXPECT_EQ(run({"-q", "-o", "/out", "/mail"}), kExitConverted) << err.str();
  EXPECT_EQ(lastLine(), kNamedPst);
  EXPECT_NE(err.str().find("warning: " + kNamedPst + " is 47.5 GB: Outlook warns past 47.5 GB"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("--max-store-size 20G"), std::string::npos) << err.str();
}

TEST_F(CliTest, AStoreSizeThatCannotBeReadIsAUsageError) {
  for (const std::string size : {"", "big", "-5M", "2X", "0.5K", "1000", "99999999999999999999"}) {
    EXPECT_EQ(run({"--max-store-size", size, "-o", "/out", "/mail"}), kExitUsage) << size;
    EXPECT_TRUE(out.str().empty());
  }
  EXPECT_EQ(run({"-o", "/out", "/mail", "--max-store-size"}), kExitUsage);
  EXPECT_NE(err.str().find("needs a size"), std::string::npos) << err.str();
  EXPECT_TRUE(noCalls());
}
}  // namespace
}  // namespace parvane::cli
