// A writer process is killed at random moments; each time the file must pass
// the checker and hold everything it had committed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "engine/ndb/node_store.h"
#include "engine/ndb/store_reader.h"
#include "oracles.h"

namespace parvane::ndb {
namespace {

Bytes content(Nid nid) {
  // mostly small nodes, now and then one large enough to grow the file
  std::size_t n = nidIndex(nid) % 97 == 0 ? 200000 + nidIndex(nid) * 37 % 300000 : nidIndex(nid) * 131 % 6000;
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(nid * 7 + i * 13 + (i >> 9));
  return b;
}

// Runs in the child: writes nodes with interval commits and records in `log`
// how many nodes each finished commit made durable.
[[noreturn]] void writer(const std::string& path, int log) {
  try {
    CreateOptions o;
    o.commitEveryBytes = 256 * 1024;
    o.commitEvery = std::chrono::milliseconds(40);
    auto s = NodeStore::create(path, o);
    std::vector<Nid> nids;
    for (std::uint32_t i = 0;; ++i) {
      Nid nid = s->allocateNid(NidType::Internal);
      s->putNode(nid, 0, s->writeData(content(nid)));
      nids.push_back(nid);
      if (i % 10 == 5) {  // rewrite an older node with the same bytes: frees and reuses space
        Nid old = nids[i / 2];
        s->putNode(old, 0, s->writeData(content(old)));
      }
      if (s->checkpoint()) {
        std::string line = std::to_string(nids.size()) + "\n";
        if (::write(log, line.data(), line.size()) < 0) _exit(3);
      }
      if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  } catch (...) {
    _exit(2);
  }
}

std::uint64_t headerFileEof(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<std::uint8_t, 8> b{};
  in.seekg(0xB8);  // ROOT.ibFileEof
  in.read(reinterpret_cast<char*>(b.data()), b.size());
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | b[static_cast<std::size_t>(i)];
  return v;
}

TEST(NodeStoreKill, FileHoldsItsLastCommitWheneverTheWriterIsKilled) {
  int rounds = 20, killedWhileGrowing = 0;
  if (const char* env = std::getenv("PARVANE_KILL_ROUNDS")) rounds = std::atoi(env);
  std::mt19937 rng(static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int round = 0; round < rounds; ++round) {
    parvane::testing::TempDir dir;
    const std::string path = dir.file("killed.pst"), logPath = dir.file("commits.log");
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    ASSERT_GE(log, 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) writer(path, log);
    ::close(log);
    auto wait = std::chrono::milliseconds(20 + rng() % 400);
    std::this_thread::sleep_for(wait);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself, status " << status;

    std::size_t committed = 0;
    std::ifstream in(logPath);
    for (std::size_t n; in >> n;) committed = n;
    SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(wait.count()) +
                 " ms, " + std::to_string(committed) + " nodes committed");
    if (::access(path.c_str(), F_OK) != 0) {
      EXPECT_EQ(committed, 0u);  // killed before the file existed
      continue;
    }
    auto r = StoreReader::open(path);
    std::size_t present = 0;
    r->forEachNode([&](const NodeInfo& n) {
      ++present;
      EXPECT_EQ(readData(*r, n.bidData), content(n.nid)) << hex(n.nid);
    });
    EXPECT_GE(present, committed);
    for (std::uint32_t i = 0; i < committed; ++i)
      EXPECT_TRUE(r->findNode(makeNid(NidType::Internal, 0x401 + i))) << i;
    // A kill in the instant between extending the file and the header that
    // names its new size leaves unused bytes past ibFileEof; the store is the
    // file up to ibFileEof, which must then be whole.
    if (std::uint64_t eof = headerFileEof(path); eof < std::filesystem::file_size(path)) {
      ++killedWhileGrowing;
      std::filesystem::resize_file(path, eof);
    }
    auto check = parvane::testing::pstcheck(path);
    for (const auto& e : check.errors)
      EXPECT_NE(e.find("page has no entries"), std::string::npos) << e;  // only a store killed before its first node
    for (const auto& w : check.warnings) {
      bool ok = w.find("WARN messaging") != std::string::npos || w.find("INVALID_AMAP") != std::string::npos;
      EXPECT_TRUE(ok) << w;
    }
  }
  if (killedWhileGrowing) std::printf("%d of %d kills fell while the file grew\n", killedWhileGrowing, rounds);
}

}  // namespace
}  // namespace parvane::ndb
