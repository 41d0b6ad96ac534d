// A small import of real message files is stopped (SIGKILL, as a crash) on
// entry to each change of its store file in turn: every write and every size
// change. After each stop the store's name holds nothing, or a store that the
// outside checker accepts and that holds exactly the messages of a commit;
// the only other outcome allowed is a stop between extending the file and
// writing the header that covers the new length, which no order of writes can
// avoid: the bytes past the header's ibFileEof are then unused, and the file
// cut there is the store of the last commit.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/source.h"
#include "engine/messaging/message_content.h"
#include "engine/messaging/store.h"
#include "import/message_translation.h"
#include "engine/msg/message.h"
#include "engine/ndb/store_reader.h"
#include "engine/core/coding.h"
#include "engine/core/forwarding_file_system.h"
#include "support/faulty_file_system.h"
#include "support/memory_file_system.h"

namespace parvane::messaging {
namespace {

namespace fs = std::filesystem;
using parvane::testing::FaultyFileSystem;
using parvane::testing::MemoryFileSystem;

std::string runCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return "popen failed";
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int st = ::pclose(pipe);
  *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// Message files of the corpus that import, in a fixed order: small ones, so
// that a run has a few commits and grows the file a few times.
std::vector<core::Bytes> corpusMessages(std::size_t count) {
  std::vector<fs::path> paths;
  for (const auto& e : fs::recursive_directory_iterator(std::string(PARVANE_SHARED_DIR) + "/corpus/msg")) {
    if (e.is_regular_file() && e.path().extension() == ".msg" && e.file_size() < 200000) paths.push_back(e.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<core::Bytes> out;
  NamedPropertyMap scratch = NamedPropertyMap::outlookDefault();
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    core::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
      auto file = msg::MessageFile::read(std::make_shared<core::MemorySource>(bytes), p.filename().string());
      importer::TranslateMessage(file.message(), scratch);
    } catch (const std::exception&) {
      continue;  // damaged on purpose: not what this test is about
    }
    out.push_back(std::move(bytes));
    if (out.size() == count) break;
  }
  return out;
}

// What the writer did before it stopped, from its log.
struct WriterRun {
  bool killed = false;
  bool created = false;                 // Store::create returned
  std::vector<std::uint32_t> ids;       // messages added, in order
  std::vector<std::uint64_t> commits;   // committed message counts, in order
  std::vector<std::string> changes;     // "write 0", "resize 524288"... numbered from 1
};

// Runs the import in a child process that kills itself on entry to change
// number `stopAt` (0: never) and logs its progress to `log`.
[[noreturn]] void writer(const std::string& path, const std::vector<core::Bytes>& messages, std::uint64_t stopAt,
                         int log) {
  auto say = [log](const std::string& line) {
    const std::string l = line + "\n";
    if (::write(log, l.data(), l.size()) != static_cast<ssize_t>(l.size())) _exit(3);
  };
  try {
    FaultyFileSystem files;
    files.beforeChange = [&](std::uint64_t n, FaultyFileSystem::Change kind, std::uint64_t offset) {
      const char* name = kind == FaultyFileSystem::Change::Write    ? "change write "
                         : kind == FaultyFileSystem::Change::Extend ? "change extend "
                                                                    : "change resize ";
      say(name + std::to_string(offset));
      if (n == stopAt) ::kill(::getpid(), SIGKILL);
    };
    StoreOptions options;
    options.commitEveryBytes = 96 * 1024;
    options.commitEveryMilliseconds = 1000000;  // by bytes only, so every run takes the same steps
    options.fileSystem = &files;
    auto store = Store::create(path, u"Crash points", options);
    say("created");
    auto folder = store->createFolder(store->ipmSubtree(), u"Imported");
    std::uint64_t committed = store->committedMessageCount();
    for (std::size_t i = 0; i < messages.size(); ++i) {
      auto file = msg::MessageFile::read(std::make_shared<core::MemorySource>(messages[i]), "m.msg");
      auto id = store->addMessage(i % 3 == 2 ? store->ipmSubtree() : folder,
                                  importer::TranslateMessage(file.message(), store->namedProperties()), std::nullopt);
      say("id " + std::to_string(id));
      if (store->committedMessageCount() != committed) {
        committed = store->committedMessageCount();
        say("committed " + std::to_string(committed));
      }
    }
    store->close();
    say("committed " + std::to_string(store->committedMessageCount()));
  } catch (const std::exception& e) {
    say(std::string("error ") + e.what());
    _exit(2);
  }
  _exit(0);
}

WriterRun runWriter(const std::string& path, const std::vector<core::Bytes>& messages, std::uint64_t stopAt) {
  const std::string logPath = path + ".log";
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  if (log < 0) return {};
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) writer(path, messages, stopAt, log);
  ::close(log);
  int status = 0;
  ::waitpid(pid, &status, 0);
  WriterRun run;
  run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  EXPECT_TRUE(run.killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "writer status " << status;
  std::ifstream in(logPath);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "created") run.created = true;
    if (word == "id") run.ids.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(3))));
    if (word == "committed") run.commits.push_back(std::stoull(line.substr(10)));
    if (word == "change") run.changes.push_back(line.substr(7));
    if (word == "error") ADD_FAILURE() << line;
  }
  fs::remove(logPath);
  return run;
}

// The NIDs of the messages in a store file as python3-pypff reads them, sorted,
// one line per file.
std::map<std::string, std::vector<std::uint32_t>> messagesRead(const std::vector<std::string>& files) {
  std::string command =
      "/usr/bin/python3 -c \""
      "import pypff, sys\n"
      "def walk(folder, out):\n"
      "    for i in range(folder.number_of_sub_messages): out.append(folder.get_sub_message(i).identifier)\n"
      "    for i in range(folder.number_of_sub_folders): walk(folder.get_sub_folder(i), out)\n"
      "for path in sys.argv[1:]:\n"
      "    try:\n"
      "        f = pypff.file(); f.open(path); ids = []; walk(f.get_root_folder(), ids); f.close()\n"
      "        print(path, *sorted(ids))\n"
      "    except Exception as e: print(path, 'unreadable:', str(e).replace(chr(10), ' '))\n"
      "\"";
  for (const auto& f : files) command += " '" + f + "'";
  int status = -1;
  std::istringstream lines(runCommand(command, &status));
  EXPECT_EQ(status, 0) << lines.str();
  std::map<std::string, std::vector<std::uint32_t>> out;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string path;
    words >> path;
    if (line.find(" unreadable:") != std::string::npos) {
      ADD_FAILURE() << line;
      continue;
    }
    auto& ids = out[path];
    for (std::uint32_t id; words >> id;) ids.push_back(id);
  }
  return out;
}

// The header of a store file; none when the file has no whole header.
std::optional<ndb::HEADER> headerOf(const std::string& path) {
  try {
    return ndb::StoreReader::open(path)->header();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::uint32_t> firstSorted(const std::vector<std::uint32_t>& ids, std::uint64_t n) {
  std::vector<std::uint32_t> v(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(n));
  std::sort(v.begin(), v.end());
  return v;
}

TEST(StoreCrashPoints, TheStoreNameHoldsNothingOrACommitWhereverTheWriterStops) {
  const auto messages = corpusMessages(14);
  ASSERT_GE(messages.size(), 10u);
  const fs::path dir = fs::temp_directory_path() / ("crash-points-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  const WriterRun whole = runWriter((dir / "whole.pst").string(), messages, 0);
  ASSERT_FALSE(whole.killed);
  ASSERT_EQ(whole.ids.size(), messages.size());
  ASSERT_GE(whole.commits.size(), 3u) << "too few commits to stop between";
  ASSERT_EQ(whole.commits.back(), messages.size());
  const std::size_t total = whole.changes.size();
  // every change while they are few; else every Kth and each one during an extension
  const std::size_t every = std::max<std::size_t>(1, total / 150);

  struct Stopped {
    std::uint64_t at;
    WriterRun run;
    std::string path;
  };
  std::vector<Stopped> kept;
  std::set<std::uint64_t> rejected;  // stop points with a finding
  int stops = 0, absent = 0, cut = 0;
  auto reject = [&](std::uint64_t n, const std::string& why) {
    ADD_FAILURE() << "stopped on entry to change " << n << " of " << total << " (" << whole.changes[n - 1]
                  << "): " << why;
    rejected.insert(n);
  };
  for (std::uint64_t n = 1; n <= total; ++n) {
    // the change just before made the file longer (a size change or a write
    // past its end): the stop may fall before the header covering it
    const bool extending = n >= 2 && whole.changes[n - 2].rfind("write", 0) != 0;
    if (n % every != 0 && !extending && n != total) continue;
    const fs::path folder = dir / ("stop-" + std::to_string(n));
    fs::create_directories(folder);
    const std::string path = (folder / "store.pst").string();
    WriterRun run = runWriter(path, messages, n);
    ASSERT_TRUE(run.killed) << n;
    ASSERT_EQ(run.changes.size(), n);
    ++stops;
    if (!fs::exists(path)) {
      // stopped before the first commit was on disk: only the temporary file is there
      if (run.created) reject(n, "the store lost its name");
      for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() != ".partial") reject(n, "left " + e.path().string());
      ++absent;
      continue;
    }
    if (!run.created) reject(n, "the store has its name before its first commit");
    const auto header = headerOf(path);
    if (!header) {
      reject(n, "no store header");
      continue;
    }
    const std::uint64_t eof = header->root.ibFileEof, size = fs::file_size(path);
    if (size != eof) {
      if (!extending || size < eof)
        reject(n, "file " + std::to_string(size) + " bytes, ibFileEof " + std::to_string(eof));
      fs::resize_file(path, eof);
      ++cut;
    }
    int status = -1;
    const std::string check = runCommand(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck --all '" + path + "'",
                                         &status);
    std::istringstream lines(check);
    bool accepted = status == 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("WARN ", 0) == 0 && line.find("INVALID_AMAP") == std::string::npos) accepted = false;
    }
    if (!accepted) reject(n, check);
    kept.push_back(Stopped{n, std::move(run), path});
  }

  std::vector<std::string> files;
  for (const auto& s : kept) files.push_back(s.path);
  const auto read = messagesRead(files);
  for (const auto& s : kept) {
    // the messages of the last commit the writer saw finish, or of the next
    // one when its header had switched to it (its maps then marked invalid)
    const std::uint64_t last = s.run.commits.empty() ? 0 : s.run.commits.back();
    const auto next = std::upper_bound(whole.commits.begin(), whole.commits.end(), last);
    if (!read.count(s.path)) {
      reject(s.at, "python3-pypff cannot read it");
      continue;
    }
    const auto& found = read.at(s.path);
    const bool asLast = found == firstSorted(whole.ids, last);
    const bool asNext = next != whole.commits.end() && found == firstSorted(whole.ids, *next) &&
                        headerOf(s.path)->root.fAMapValid == ndb::AMapValidity::Invalid;
    if (!asLast && !asNext)
      reject(s.at, std::to_string(found.size()) + " messages read; " + std::to_string(last) + " committed");
  }
  std::printf("%zu changes, %d stop points: %d without a store, %zu stores (%d cut to ibFileEof), %zu rejected\n",
              total, stops, absent, kept.size(), cut, rejected.size());
  if (!HasFailure()) fs::remove_all(dir);
}


// A file system in memory that logs, in order, every change of the files it
// creates (writes and size changes), their syncs and the renames, so that a
// test can rebuild what a disk may hold after a power cut at any point: all
// that was synced, and any subset of what was not.
class PowerCutFileSystem final : public core::ForwardingFileSystem {
 public:
  struct Change {
    enum Kind { Write, Resize, Sync, Rename } kind;
    std::uint64_t at = 0;  // offset of a write, size of a resize
    core::Bytes data;
  };

  std::vector<Change> log;  // of the one file created here
  int created = 0;

  std::unique_ptr<core::File> createExclusive(const std::string& path) override {
    ++created;
    return std::make_unique<Logged>(memory_.createExclusive(path), *this);
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    memory_.renameNoReplace(from, to);
    add(Change{Change::Rename, 0, {}});
  }

 private:
  class Logged final : public core::File {
   public:
    Logged(std::unique_ptr<core::File> file, PowerCutFileSystem& owner) : file_(std::move(file)), owner_(owner) {}
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
      file_->writeAt(offset, data);
      owner_.add(Change{Change::Write, offset, core::Bytes(data.begin(), data.end())});
    }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
      return file_->readAt(offset, out);
    }
    void sync() override { owner_.add(Change{Change::Sync, 0, {}}); }
    std::uint64_t size() const override { return file_->size(); }
    void resize(std::uint64_t size) override {
      file_->resize(size);
      owner_.add(Change{Change::Resize, size, {}});
    }

   private:
    std::unique_ptr<core::File> file_;
    PowerCutFileSystem& owner_;
  };

  core::FileSystem& target() override { return memory_; }
  void add(Change c) {
    std::lock_guard lock(mutex_);
    log.push_back(std::move(c));
  }

  MemoryFileSystem memory_{'/'};
  std::mutex mutex_;
};

// The file after a cut following the first `cut` changes of `log`: every
// change up to the last sync before the cut, then those of `kept` after it
// (a write past the end still extends the file, as on any disk).
core::Bytes fileAfterCut(const std::vector<PowerCutFileSystem::Change>& log, std::size_t cut,
                         const std::vector<bool>& kept) {
  using Change = PowerCutFileSystem::Change;
  std::size_t synced = 0;
  for (std::size_t i = 0; i < cut; ++i)
    if (log[i].kind == Change::Sync) synced = i + 1;
  core::Bytes file;
  for (std::size_t i = 0; i < cut; ++i) {
    const Change& c = log[i];
    if (i >= synced && !kept[i - synced]) continue;
    if (c.kind == Change::Resize) file.resize(static_cast<std::size_t>(c.at));
    if (c.kind != Change::Write) continue;
    if (file.size() < c.at + c.data.size()) file.resize(static_cast<std::size_t>(c.at + c.data.size()));
    std::copy(c.data.begin(), c.data.end(), file.begin() + static_cast<std::ptrdiff_t>(c.at));
  }
  return file;
}

// The power is cut after each change of a small run's store file in turn,
// and each time the disk keeps what was synced and a random subset of the
// changes since (several subsets per point, from fixed seeds; also none and
// all of them). Once the file has its name, what the disk holds, cut to its
// header's ibFileEof when longer (never shorter), must pass the checker and
// hold exactly the messages of one commit.
TEST(StorePowerCuts, AfterACutWithAnyUnsyncedChangesLostTheFileIsACommit) {
  using Change = PowerCutFileSystem::Change;
  const auto messages = corpusMessages(24);
  ASSERT_GE(messages.size(), 20u);
  PowerCutFileSystem files;
  std::vector<std::uint32_t> ids;
  std::set<std::uint64_t> commits{0};
  {
    StoreOptions options;
    options.commitEveryBytes = 32 * 1024;
    options.commitEveryMilliseconds = 1000000;
    options.fileSystem = &files;
    auto store = Store::create("/store.pst", u"Power cuts", options);
    auto folder = store->createFolder(store->ipmSubtree(), u"Imported");
    for (std::size_t i = 0; i < messages.size(); ++i) {
      auto file = msg::MessageFile::read(std::make_shared<core::MemorySource>(messages[i]), "m.msg");
      ids.push_back(store->addMessage(i % 3 == 2 ? store->ipmSubtree() : folder,
                                      importer::TranslateMessage(file.message(), store->namedProperties()),
                                      std::nullopt));
      commits.insert(store->committedMessageCount());
    }
    store->close();
    commits.insert(store->committedMessageCount());
  }
  ASSERT_EQ(files.created, 1);
  ASSERT_GE(commits.size(), 4u) << "too few commits to cut between";
  const auto& log = files.log;
  const auto named = std::find_if(log.begin(), log.end(), [](const Change& c) { return c.kind == Change::Rename; });
  ASSERT_NE(named, log.end());
  ASSERT_GE(std::count_if(named, log.end(), [](const Change& c) { return c.kind == Change::Resize; }), 2)
      << "too few growths of the named file";

  const fs::path dir = fs::temp_directory_path() / ("power-cuts-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::map<std::string, std::string> cutAt;  // file -> where and what the cut kept
  std::set<std::size_t> seen;                // hashes of the files made so far
  int points = 0, cutShort = 0;
  for (std::size_t cut = static_cast<std::size_t>(named - log.begin()) + 1; cut <= log.size(); ++cut) {
    ++points;
    std::size_t synced = 0;
    for (std::size_t i = 0; i < cut; ++i)
      if (log[i].kind == Change::Sync) synced = i + 1;
    const std::size_t open = cut - synced;
    for (unsigned variant = 0; variant < (open == 0 ? 1u : 5u); ++variant) {
      std::vector<bool> kept(open, variant == 1);
      std::mt19937_64 random(cut * 31 + variant);
      std::string what;
      for (std::size_t i = 0; i < open; ++i) {
        if (variant >= 2) kept[i] = (random() & 1) != 0;
        what += kept[i] ? '1' : '0';
      }
      core::Bytes file = fileAfterCut(log, cut, kept);
      if (!seen.insert(std::hash<std::string_view>{}(
                           std::string_view(reinterpret_cast<const char*>(file.data()), file.size())))
               .second)
        continue;
      const std::string where = "cut after change " + std::to_string(cut) + " of " + std::to_string(log.size()) +
                                ", unsynced kept " + (what.empty() ? "-" : what);
      ASSERT_GE(file.size(), 0x200u) << where;
      const std::uint64_t eof = core::loadU64(file.data() + 0xB8);
      if (file.size() < eof) {
        ADD_FAILURE() << where << ": the header names " << eof << " bytes, the file has " << file.size();
        continue;
      }
      if (file.size() > eof) ++cutShort;
      file.resize(static_cast<std::size_t>(eof));
      const std::string path = (dir / ("cut-" + std::to_string(cutAt.size()) + ".pst")).string();
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                  static_cast<std::streamsize>(file.size()));
      cutAt[path] = where;
    }
  }
  // every file checked and read in one process
  std::string command = "/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                        "/tests/engine/messaging/tools/check_stores.py";
  for (const auto& [path, where] : cutAt) command += " '" + path + "'";
  int status = -1;
  std::istringstream lines(runCommand(command, &status));
  ASSERT_EQ(status, 0) << lines.str().substr(0, 2000);
  std::set<std::vector<std::uint32_t>> commitsRead;
  for (std::uint64_t c : commits) commitsRead.insert(firstSorted(ids, c));
  std::size_t checked = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    const std::string path = line.substr(0, tab), verdict = line.substr(tab + 1, tab2 - tab - 1);
    ASSERT_TRUE(cutAt.count(path)) << line;
    ++checked;
    if (verdict != "ok") {
      ADD_FAILURE() << cutAt[path] << ": " << verdict;
      continue;
    }
    std::istringstream words(line.substr(tab2 + 1));
    std::vector<std::uint32_t> found;
    for (std::uint32_t id; words >> id;) found.push_back(id);
    if (!commitsRead.count(found))
      ADD_FAILURE() << cutAt[path] << ": " << found.size() << " messages, not those of a commit";
  }
  EXPECT_EQ(checked, cutAt.size());
  std::printf("%zu changes, %d cut points after the store has its name: %zu distinct files (%d cut to ibFileEof)\n",
              log.size(), points, cutAt.size(), cutShort);
  if (!HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace parvane::messaging
