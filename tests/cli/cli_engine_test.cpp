// parvane-cli end to end: real message files, our engine, a real .pst file,
// checked by the structural checker and read back by an independent reader.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "conversion/store_file_name.h"
#include "import/engine_store_service.h"
#include "engine/core/file_system.h"
#include "engine/core/file_system_posix.h"

namespace parvane::cli {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";

std::string ReadAll(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class CliEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("parvane-cli-" + std::to_string(::getpid()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "src" / "Mail" / "Work");
    fs::create_directories(root / "out");
    copy("HiraokaHyperTools-msgreader/Subject.msg", root / "src" / "Mail" / "Subject.msg");
    copy("HiraokaHyperTools-msgreader/attachAndInline.msg",
         root / "src" / "Mail" / "Work" / "attachAndInline.MSG");
    copy("HiraokaHyperTools-msgreader/Hello_CJK.msg", root / "src" / "Mail" / "Work" / "cjk.msg");
    environment.currentDirectory = root.string();
  }
  void TearDown() override { fs::remove_all(root); }

  static void copy(const std::string& from, const fs::path& to) {
    fs::copy_file(kCorpus / from, to, fs::copy_options::overwrite_existing);
  }
  int run(const std::vector<std::string>& args) {
    importer::EngineStoreService store;
    return RunCli(args, store, core::FileSystem::native(), environment, out, err);
  }
  static int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

  void expectCheckerPasses(const std::string& store) {
    EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + quoted(store) + " > " +
                    quoted(root / "pstcheck.txt") + " 2>&1"),
              0)
        << store << "\n" << ReadAll(root / "pstcheck.txt");
  }

  // Every message of the stores as pypff reads it: its folder, subject,
  // body size and number of attachments.
  std::multiset<std::string> messagesIn(const std::vector<std::string>& stores) {
    std::ofstream(root / "messages.py") <<
        "import pypff,sys\n"
        "for path in sys.argv[1:]:\n"
        "  f=pypff.file(); f.open(path)\n"
        "  def walk(folder, at):\n"
        "    for i in range(folder.number_of_sub_messages):\n"
        "      m=folder.get_sub_message(i)\n"
        "      print(repr((at, m.subject, len(m.plain_text_body or b''), m.number_of_attachments)))\n"
        "    for i in range(folder.number_of_sub_folders):\n"
        "      s=folder.get_sub_folder(i); walk(s, at+'/'+s.name)\n"
        "  walk(f.get_root_folder(), '')\n";
    std::string args;
    for (const auto& store : stores) args += " " + quoted(store);
    EXPECT_EQ(shell("/usr/bin/python3 " + quoted(root / "messages.py") + args + " > " +
                    quoted(root / "messages.txt") + " 2>&1"),
              0)
        << ReadAll(root / "messages.txt");
    std::multiset<std::string> found;
    std::istringstream text(ReadAll(root / "messages.txt"));
    for (std::string line; std::getline(text, line);) found.insert(line);
    return found;
  }

  fs::path root;
  CliEnvironment environment;
  std::ostringstream out, err;
};

TEST_F(CliEngineTest, WritesAStoreThatTheCheckerPassesAndReadersRead) {
  ASSERT_EQ(run({"-o", "out", "src"}), kExitConverted) << err.str();
  std::string pst = out.str();
  ASSERT_FALSE(pst.empty());
  pst.pop_back();
  ASSERT_TRUE(fs::exists(pst)) << pst;
  EXPECT_EQ(fs::path(pst).parent_path(), root / "out");
  EXPECT_EQ(fs::path(pst).filename().string().rfind("OstrelMSGMessages", 0), 0u);

  EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + quoted(pst) +
                  " > " + quoted(root / "pstcheck.txt") + " 2>&1"),
            0)
      << std::ifstream(root / "pstcheck.txt").rdbuf();

  // The folder tree below the store's top folder and the messages in it, as an
  // independent reader sees them.
  const std::string script =
      "import pypff,sys\n"
      "f=pypff.file(); f.open(sys.argv[1])\n"
      "def walk(folder, path):\n"
      "  for i in range(folder.number_of_sub_folders):\n"
      "    s=folder.get_sub_folder(i); p=path+'/'+s.name\n"
      "    print(p, s.number_of_sub_messages); walk(s, p)\n"
      "walk(f.get_root_folder(), '')\n";
  std::ofstream(root / "walk.py") << script;
  ASSERT_EQ(shell("/usr/bin/python3 " + quoted(root / "walk.py") + " " + quoted(pst) + " > " +
                  quoted(root / "walk.txt") + " 2>&1"),
            0)
      << std::ifstream(root / "walk.txt").rdbuf();
  std::stringstream listing;
  listing << std::ifstream(root / "walk.txt").rdbuf();
  const std::string tree = listing.str();
  // Every folder of the source path appears, and the two message folders hold
  // their messages.
  EXPECT_NE(tree.find("/src/Mail 1\n"), std::string::npos) << tree;
  EXPECT_NE(tree.find("/src/Mail/Work 2\n"), std::string::npos) << tree;
}

TEST_F(CliEngineTest, ABrokenFileIsReportedAndLeavesNoMessage) {
  std::ofstream(root / "src" / "Mail" / "broken.msg") << "not a compound file";
  ASSERT_EQ(run({"--quiet", "-o", (root / "out" / "mixed.pst").string(), "src"}),
            kExitSomeFailed)
      << err.str();
  const std::string broken = (root / "src" / "Mail" / "broken.msg").string();
  EXPECT_NE(err.str().find("cannot convert " + broken), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find(broken, err.str().find(broken) + 1), std::string::npos)
      << "the path is named more than once: " << err.str();
  EXPECT_EQ(out.str(), (root / "out" / "mixed.pst").string() + "\n");
  EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " +
                  quoted(root / "out" / "mixed.pst") + " > " + quoted(root / "pstcheck.txt") + " 2>&1"),
            0)
      << ReadAll(root / "pstcheck.txt");
  // readpst sees exactly the three good messages (one file each, named by
  // number). Here and below it runs as one job (-j 0): its parallel jobs now
  // and then skip items of a folder.
  fs::create_directories(root / "read");
  ASSERT_EQ(shell("readpst -j 0 -q -S -o " + quoted(root / "read") + " " +
                  quoted(root / "out" / "mixed.pst") + " > " + quoted(root / "readpst.txt") + " 2>&1"),
            0)
      << ReadAll(root / "readpst.txt");
  int messages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root / "read")) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() &&
        name.find_first_not_of("0123456789") == std::string::npos) {
      ++messages;
    }
  }
  EXPECT_EQ(messages, 3);
}

// Every message file of the corpus in stores of at most 2 MB: the output
// names every store, each passes the checker and Microsoft's reader, each is within the limit or
// holds one larger message alone, and an independent reader finds every
// message of a single-store run exactly once among them, in the same folder.
TEST_F(CliEngineTest, AStoreSizeLimitSplitsTheRunAndEveryMessageIsInExactlyOneStore) {
  fs::remove_all(root / "src");
  fs::create_directories(root / "src");
  fs::copy(kCorpus, root / "src" / "corpus", fs::copy_options::recursive);
  fs::create_directories(root / "whole");
  const int single = run({"--quiet", "-o", (root / "whole" / "all.pst").string(), "src"});
  ASSERT_NE(single, kExitUsage) << err.str();
  const std::string singleErrors = err.str();
  out.str({});
  err.str({});
  constexpr std::uintmax_t kLimit = 2u << 20;
  const int split = run({"--quiet", "--max-store-size", "2M", "-o", "out", "src"});
  EXPECT_EQ(split, single) << err.str();
  // the same files refused, in the same words
  std::string splitErrors = err.str(), oversized;
  for (std::size_t at; (at = splitErrors.find(" holds one message alone:")) != std::string::npos;) {
    const std::size_t begin = splitErrors.rfind('\n', at) + 1, end = splitErrors.find('\n', at) + 1;
    oversized += splitErrors.substr(begin, end - begin);
    splitErrors.erase(begin, end - begin);
  }
  EXPECT_EQ(splitErrors, singleErrors);

  std::vector<std::string> stores;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) stores.push_back(line);
  ASSERT_GE(stores.size(), 4u) << out.str();
  std::size_t onDisk = 0;
  for (const auto& entry : fs::directory_iterator(root / "out")) onDisk += entry.is_regular_file();
  EXPECT_EQ(onDisk, stores.size());
  for (std::size_t k = 1; k < stores.size(); ++k) {
    EXPECT_EQ(stores[k], conversion::NumberedStorePath(stores[0], static_cast<int>(k) + 1));
  }

  const auto whole = messagesIn({(root / "whole" / "all.pst").string()});
  ASSERT_GE(whole.size(), 100u);

  std::multiset<std::string> together;
  std::size_t alone = 0;
  for (const auto& store : stores) {
    expectCheckerPasses(store);
    const auto messages = messagesIn({store});
    EXPECT_FALSE(messages.empty()) << store;
    const bool named = oversized.find(store + " holds") != std::string::npos;
    if (named) {
      EXPECT_EQ(messages.size(), 1u) << store << " is named as holding one message";
      ++alone;
    }
    if (fs::file_size(store) > kLimit) {
      EXPECT_TRUE(named) << store << " is past the limit\n" << oversized;
    }
    together.insert(messages.begin(), messages.end());
  }
  EXPECT_EQ(together, whole);
  // Microsoft's own reader walks every store whole
  std::string all;
  for (const auto& store : stores) all += " " + quoted(store);
  EXPECT_EQ(shell(std::string(PARVANE_PSTWALK) + all + " > " + quoted(root / "pstwalk.txt") + " 2>&1"), 0)
      << ReadAll(root / "pstwalk.txt");
  EXPECT_GE(alone, 1u) << "the corpus holds a message larger than 2 MB";
  EXPECT_EQ(std::count(oversized.begin(), oversized.end(), '\n'), static_cast<long>(alone))
      << oversized;
}

// A store past the page cache's allowance has its blocks written around the
// cache, straight to the disk: the same messages arrive, and the store passes
// the checker, which checks every block's signature and CRC.
TEST_F(CliEngineTest, AStoreWrittenAroundThePageCacheHoldsTheSameMessages) {
  fs::remove_all(root / "src");
  fs::create_directories(root / "src");
  fs::copy(kCorpus, root / "src" / "corpus", fs::copy_options::recursive);
  const std::string cached = (root / "out" / "cached.pst").string();
  const std::string around = (root / "out" / "around.pst").string();
  importer::EngineStoreService service;
  const int status = RunCli({"--quiet", "-o", cached, "src"}, service, core::FileSystem::native(), environment, out, err);
  ASSERT_NE(status, kExitUsage) << err.str();
  const auto uncachedFiles = core::PosixFileSystemKeepingCached(0);
  EXPECT_EQ(RunCli({"--quiet", "-o", around, "src"}, service, *uncachedFiles, environment, out, err), status)
      << err.str();
  expectCheckerPasses(around);
  const auto expected = messagesIn({cached});
  ASSERT_GE(expected.size(), 100u);
  EXPECT_EQ(messagesIn({around}), expected);
}

#ifdef PARVANE_CLI
struct ProgramRun {
  bool ended = false;  // false: still running at the limit, and killed
  int status = -1;     // the exit status when it exited
  std::string out, err;
};

// Runs the program on `args`, its output streams caught in `work`; killed
// when it has not ended within `limit`.
ProgramRun RunProgram(const std::vector<std::string>& args, const fs::path& work,
                      std::chrono::seconds limit) {
  const std::string stdoutPath = (work / "program-stdout.txt").string();
  const std::string stderrPath = (work / "program-stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{PARVANE_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ProgramRun run;
  pid_t child = 0;
  const int spawned = posix_spawn(&child, PARVANE_CLI, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.ended = WIFEXITED(status);
  run.status = run.ended ? WEXITSTATUS(status) : -1;
  run.out = ReadAll(stdoutPath);
  run.err = ReadAll(stderrPath);
  return run;
}

// Only regular files are read: a FIFO (which would hold an open for ever), a
// socket and a device are refused by name, in a folder and as an argument;
// links to folders and broken message-file links are named as skipped. The
// rest is converted, and nothing waits.
TEST_F(CliEngineTest, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  const fs::path mail = root / "src" / "Mail";
  ASSERT_EQ(::mkfifo((mail / "fifo.msg").c_str(), 0600), 0);
  fs::create_directories(root / "lone");
  ASSERT_EQ(::mkfifo((root / "lone" / "given.msg").c_str(), 0600), 0);
  const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listening, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (mail / "socket.msg").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("/dev/null", mail / "null.msg");
  fs::create_symlink(root / "nothing", mail / "gone.msg");
  fs::create_symlink(root / "nothing", mail / "gone.txt");  // not a message file: not named
  fs::create_directories(root / "elsewhere");
  copy("HiraokaHyperTools-msgreader/test1.msg", root / "elsewhere" / "far.msg");
  fs::create_directory_symlink(root / "elsewhere", mail / "linked");

  const fs::path pst = root / "out" / "hostile.pst";
  const ProgramRun run = RunProgram({"-q", "-o", pst.string(), (root / "src").string(),
                                     (root / "lone" / "given.msg").string()},
                                    root, std::chrono::seconds(60));
  ::close(listening);
  ASSERT_TRUE(run.ended) << "the run did not end";
  EXPECT_EQ(run.status, kExitSomeFailed) << run.err;
  EXPECT_EQ(run.out, pst.string() + "\n");
  for (const std::string& line :
       {"cannot convert " + (mail / "fifo.msg").string() + ": not a regular file (a FIFO)\n",
        "cannot convert " + (root / "lone" / "given.msg").string() + ": not a regular file (a FIFO)\n",
        "cannot convert " + socketPath + ": not a regular file (a socket)\n",
        "cannot convert " + (mail / "null.msg").string() + ": not a regular file (a character device)\n",
        "skipped link to a folder (links are not followed): " + (mail / "linked").string() + "\n",
        "skipped dangling link: " + (mail / "gone.msg").string() + "\n",
        std::string("parvane-cli: 2 links skipped\n")}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\nin:\n" << run.err;
  }
  EXPECT_EQ(run.err.find("gone.txt"), std::string::npos) << run.err;

  EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + quoted(pst) + " > " +
                  quoted(root / "pstcheck.txt") + " 2>&1"),
            0)
      << ReadAll(root / "pstcheck.txt");
  fs::create_directories(root / "read");
  ASSERT_EQ(shell("readpst -j 0 -q -S -o " + quoted(root / "read") + " " + quoted(pst) + " > /dev/null 2>&1"), 0);
  int messages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root / "read")) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.find_first_not_of("0123456789") == std::string::npos) ++messages;
  }
  EXPECT_EQ(messages, 3);  // the three regular files of the fixture
}

// Standard output on a full device: the path of the store is lost, and the
// exit status says so.
TEST_F(CliEngineTest, AFailedWriteToStandardOutputIsAFailure) {
  EXPECT_EQ(shell(quoted(PARVANE_CLI) + " -q -o " + quoted(root / "out") + " " + quoted(root / "src") +
                  " > /dev/full 2> " + quoted(root / "stderr.txt")),
            kExitSomeFailed);
  EXPECT_NE(ReadAll(root / "stderr.txt").find("parvane-cli: cannot write to standard output"),
            std::string::npos)
      << ReadAll(root / "stderr.txt");
  EXPECT_EQ(shell(quoted(PARVANE_CLI) + " --version > /dev/full 2>/dev/null"), kExitSomeFailed);
}

// The program itself, stopped by a signal in the middle of a run (SIGHUP as
// SIGTERM): it leaves the remaining files out, finishes the store with those
// converted, prints its path and exits with 128 + the signal's number.
// Under a file-size limit (ulimit -f) the store's growth fails with EFBIG
// rather than the process dying of SIGXFSZ: the run tells that the store
// failed, names the files not in it, writes its report and exits with 1.
TEST_F(CliEngineTest, AFileSizeLimitIsAFullDiskNotASilentDeath) {
  constexpr int kFiles = 40;
  fs::create_directories(root / "many");
  for (int i = 0; i < kFiles; ++i)
    copy("HiraokaHyperTools-msgreader/test.msg", root / "many" / ("m" + std::to_string(i) + ".msg"));
  const fs::path report = root / "report.jsonl", stderrPath = root / "stderr.txt";
  std::vector<std::string> args{PARVANE_CLI, "--quiet", "--report", report.string(), "-o", (root / "out").string(),
                                (root / "many").string()};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{1u << 20, 1u << 20};  // the store outgrows it; the report does not
    const int errors = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_WRONLY);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || errors < 0 || null < 0 || ::dup2(errors, 2) < 0 || ::dup2(null, 1) < 0)
      _exit(120);
    ::execv(PARVANE_CLI, argv.data());
    _exit(121);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::string errors = ReadAll(stderrPath);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << errors;
  EXPECT_EQ(WEXITSTATUS(status), 1) << errors;
  EXPECT_NE(errors.find("File too large"), std::string::npos) << errors;
  std::istringstream lines(ReadAll(report));
  int converted = 0, refused = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"outcome\":\"converted\"") != std::string::npos) ++converted;
    if (line.find("\"outcome\":\"refused\"") != std::string::npos) ++refused;
  }
  // the failure came before a commit with messages: none is in the file
  EXPECT_EQ(converted, 0) << ReadAll(report);
  EXPECT_EQ(refused, kFiles) << ReadAll(report);
}

TEST_F(CliEngineTest, ASignalMidRunLeavesAFinishedStoreOfTheConvertedFiles) {
  constexpr int kFiles = 3000;
  fs::create_directories(root / "many");
  for (int i = 0; i < kFiles; ++i) {
    fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader/test1.msg",
                  root / "many" / ("m" + std::to_string(i) + ".msg"));
  }
  // A FIFO listed first, which the reading ahead meets at once: it is refused
  // without being opened, so it holds up neither the run nor the signal.
  ASSERT_EQ(::mkfifo((root / "many" / "a-fifo.msg").c_str(), 0600), 0);
  constexpr int kListed = kFiles + 1;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const fs::path destination = root / ("out" + std::to_string(signal));
    fs::create_directories(destination);
    const std::string stdoutPath = (root / "stdout.txt").string();
    const std::string stderrPath = (root / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{PARVANE_CLI, "--quiet", "-o", destination.string(), (root / "many").string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, PARVANE_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The store file appears when the run starts; the signal follows at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool started = false;
    while (!started && std::chrono::steady_clock::now() < deadline) {
      for (const auto& entry : fs::directory_iterator(destination)) started |= entry.path().extension() == ".pst";
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(started);
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    const std::string errors = ReadAll(stderrPath);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << errors;

    std::string pst = ReadAll(stdoutPath);
    ASSERT_FALSE(pst.empty()) << errors;
    pst.pop_back();
    EXPECT_EQ(fs::path(pst).parent_path(), destination);
    const auto at = errors.find("interrupted: ");
    ASSERT_NE(at, std::string::npos) << errors;
    const int converted = std::atoi(errors.c_str() + at + 13);
    EXPECT_NE(errors.find(" of " + std::to_string(kListed) + " files converted"), std::string::npos) << errors;
    EXPECT_LT(converted, kFiles);

    EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + quoted(pst) + " > " +
                    quoted(root / "pstcheck.txt") + " 2>&1"),
              0)
        << ReadAll(root / "pstcheck.txt");
    const fs::path read = root / ("read" + std::to_string(signal));
    fs::create_directories(read);
    ASSERT_EQ(shell("readpst -j 0 -q -S -o " + quoted(read) + " " + quoted(pst) + " > /dev/null 2>&1"), 0);
    int messages = 0;
    for (const auto& entry : fs::recursive_directory_iterator(read)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name.find_first_not_of("0123456789") == std::string::npos) {
        ++messages;
      }
    }
    EXPECT_EQ(messages, converted);
  }
}
#endif

}  // namespace
}  // namespace parvane::cli
