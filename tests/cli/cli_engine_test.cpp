// parvane-cli end to end: real message files, our engine, a real .pst file,
// checked by the structural checker and read back by an independent reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "engine/session/engine_object_factory.h"
#include "platform/posix_file_system.h"

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
    session::EngineObjectFactory factory;
    platform::PosixFileSystem files;
    return RunCli(args, factory, files, environment, out, err);
  }
  static int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

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
  // readpst sees exactly the three good messages (one file each, named by number).
  fs::create_directories(root / "read");
  ASSERT_EQ(shell("readpst -q -S -o " + quoted(root / "read") + " " +
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

#ifdef PARVANE_CLI
// The program itself, stopped by a signal in the middle of a run: it leaves the
// remaining files out, finishes the store with those converted, prints its path
// and exits with 128 + the signal's number.
TEST_F(CliEngineTest, ASignalMidRunLeavesAFinishedStoreOfTheConvertedFiles) {
  constexpr int kFiles = 3000;
  fs::create_directories(root / "many");
  for (int i = 0; i < kFiles; ++i) {
    fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader/test1.msg",
                  root / "many" / ("m" + std::to_string(i) + ".msg"));
  }
  for (const int signal : {SIGINT, SIGTERM}) {
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
    EXPECT_NE(errors.find(" of " + std::to_string(kFiles) + " files converted"), std::string::npos) << errors;
    EXPECT_LT(converted, kFiles);

    EXPECT_EQ(shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + quoted(pst) + " > " +
                    quoted(root / "pstcheck.txt") + " 2>&1"),
              0)
        << ReadAll(root / "pstcheck.txt");
    const fs::path read = root / ("read" + std::to_string(signal));
    fs::create_directories(read);
    ASSERT_EQ(shell("readpst -q -S -o " + quoted(read) + " " + quoted(pst) + " > /dev/null 2>&1"), 0);
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
