// Messages written through messaging::Store, generated in memory (run.sh runs
// it beside its baseline):
//   parvane_bench_store store PATH COUNT [FOLDERS] [BIG_EVERY] [ATTACH_EVERY] [keep]
//       COUNT messages of the realistic mix (bench/mix; BIG_EVERY and
//       ATTACH_EVERY as there, 0 for none) as .msg bytes, each
//       read back and written into a new store at PATH, spread over FOLDERS
//       folders (default 1). Unless `keep`, PATH is removed as soon as it is
//       created: the store is written whole but its space is freed when it
//       closes, so runs larger than the disk's free space can be simulated.
//   parvane_bench_store cat PATH COUNT [BIG_EVERY] [ATTACH_EVERY] [keep]
//       the baseline: the same .msg bytes generated and written one after the
//       other into PATH, then synced.
//   parvane_bench_store tiny PATH COUNT
//       COUNT copies of one small message into one folder.
// Each prints one line: messages, seconds, microseconds per message, bytes
// written and the process's peak resident memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/core/source.h"
#include "engine/messaging/store.h"
#include "engine/msg/message.h"
#include "import/message_translation.h"
#include "message_mix.h"

using namespace parvane;
using Clock = std::chrono::steady_clock;

namespace {

long peakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void report(const char* what, std::uint64_t count, Clock::time_point start, std::uint64_t bytes) {
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%s: %llu messages in %.3f s = %.1f us/message, %.1f MB written, peak RSS %.1f MB\n", what,
              static_cast<unsigned long long>(count), s, s * 1e6 / static_cast<double>(count),
              static_cast<double>(bytes) / 1e6, static_cast<double>(peakKiB()) / 1024.0);
}

void add(messaging::Store& store, messaging::FolderId folder, core::Bytes file) {
  auto m = msg::MessageFile::read(std::make_shared<core::MemorySource>(std::move(file)), "bench.msg");
  store.addMessage(folder, importer::TranslateMessage(m.message(), store.namedProperties()), std::nullopt);
}

std::uint64_t fileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n < 0 ? 0 : static_cast<std::uint64_t>(n);
}

int storeRun(const std::string& path, std::uint64_t count, std::uint64_t folders, const benchmix::MixOptions& mix, bool keep) {
  const auto start = Clock::now();
  auto store = messaging::Store::create(path, u"Bench");
  // a descriptor of our own tells the store's size after it is closed and unlinked
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (!keep) ::unlink(path.c_str());
  std::vector<messaging::FolderId> ids;
  for (std::uint64_t f = 0; f < folders; ++f)
    ids.push_back(store->createFolder(store->ipmSubtree(), u"Folder " + std::u16string(1, static_cast<char16_t>(u'A' + f % 26)) +
                                                                 std::u16string(1, static_cast<char16_t>(u'a' + f / 26 % 26)) +
                                                                 std::u16string(1, static_cast<char16_t>(u'a' + f / 676 % 26))));
  for (std::uint64_t i = 0; i < count; ++i) add(*store, ids[i % folders], testsupport::writeMsg(benchmix::mixMessage(i, mix)));
  store->close();
  struct stat st {};
  ::fstat(fd, &st);
  ::close(fd);
  report("store", count, start, static_cast<std::uint64_t>(st.st_size));
  return 0;
}

int catRun(const std::string& path, std::uint64_t count, const benchmix::MixOptions& mix, bool keep) {
  const auto start = Clock::now();
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 1;
  if (!keep) ::unlink(path.c_str());
  std::uint64_t bytes = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const core::Bytes file = testsupport::writeMsg(benchmix::mixMessage(i, mix));
    if (std::fwrite(file.data(), 1, file.size(), out) != file.size()) return 1;
    bytes += file.size();
  }
  std::fflush(out);
  ::fsync(::fileno(out));
  std::fclose(out);
  report("cat", count, start, bytes);
  return 0;
}

int tinyRun(const std::string& path, std::uint64_t count) {
  const auto start = Clock::now();
  auto store = messaging::Store::create(path, u"Tiny");
  const auto folder = store->createFolder(store->ipmSubtree(), u"All");
  const core::Bytes file = testsupport::writeMsg(testsupport::simpleMessage("Tiny", "a tiny body", {"to@example.com"}));
  for (std::uint64_t i = 0; i < count; ++i) add(*store, folder, file);
  store->close();
  report("tiny", count, start, fileSize(path));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  const auto num = [&](int i, std::uint64_t dflt) { return argc > i ? std::strtoull(argv[i], nullptr, 10) : dflt; };
  const bool keep = std::string(argv[argc - 1]) == "keep";
  const int args = argc - (keep ? 1 : 0);
  try {
    if (cmd == "store" && args >= 4)
      return storeRun(argv[2], num(3, 0), std::max<std::uint64_t>(1, args > 4 ? num(4, 1) : 1),
                      {args > 5 ? num(5, 1000) : 1000, args > 6 ? num(6, 5) : 5}, keep);
    if (cmd == "cat" && args >= 4) return catRun(argv[2], num(3, 0), {args > 4 ? num(4, 1000) : 1000, args > 5 ? num(5, 5) : 5}, keep);
    if (cmd == "tiny" && args == 4) return tinyRun(argv[2], num(3, 0));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "parvane_bench_store: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: parvane_bench_store store PATH COUNT [FOLDERS] [BIG_EVERY] [ATTACH_EVERY] [keep]\n"
                       "       parvane_bench_store cat PATH COUNT [BIG_EVERY] [ATTACH_EVERY] [keep]\n"
                       "       parvane_bench_store tiny PATH COUNT\n");
  return 2;
}
