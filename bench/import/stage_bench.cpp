// Where the time of an import goes, stage by stage, on real message files:
//
//   parvane_bench_stages SOURCE_FOLDER STORE.pst [COMMIT_MB]
//
// Every .msg file under SOURCE_FOLDER (in path order) goes through the stages
// of a conversion one after another on this one thread, each timed on its own:
//   read       the file opened and parsed (compound file, properties, values
//              up to the in-memory limit), as the read-ahead does it;
//   translate  the message turned into the store's terms;
//   write      the message written into the store (blocks, tables, the write
//              buffer handed to the store's writer);
//   commit     a commit after every COMMIT_MB (default 64, the store's own
//              interval) of source files, and the last one at close: the
//              B-tree pages, the maps, the headers and the syncs.
// Each stage is printed in seconds and MB/s of source files, by the clock
// and by the CPU time of the process (the store's writer thread included,
// which works during the write and commit stages): on a busy machine the
// CPU figures say more. The slowest stage and the sum (a run on one core)
// compare directly with reading the same bytes.
// The run itself overlaps reading with the rest on a second thread; this
// program does not, so that each stage is seen alone.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/core/source.h"
#include "engine/messaging/store.h"
#include "engine/msg/message.h"
#include "import/message_translation.h"

namespace fs = std::filesystem;
using namespace parvane;

namespace {

using Clock = std::chrono::steady_clock;

struct Stage {
  const char* name;
  double seconds = 0;
  double cpuSeconds = 0;
  std::uint64_t calls = 0;
};

double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <class Fn>
auto timed(Stage& stage, Fn&& fn) {
  struct Stop {
    Stage& stage;
    Clock::time_point start = Clock::now();
    double cpuStart = processCpuSeconds();
    ~Stop() {
      stage.seconds += std::chrono::duration<double>(Clock::now() - start).count();
      stage.cpuSeconds += processCpuSeconds() - cpuStart;
      ++stage.calls;
    }
  } stop{stage};
  return fn();
}

std::vector<fs::path> messageFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file() && e.path().extension() == ".msg") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SOURCE_FOLDER STORE.pst [COMMIT_MB]\n", argv[0]);
    return 2;
  }
  const fs::path source = argv[1];
  const std::string pst = argv[2];
  const std::uint64_t commitEvery = (argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 64) << 20;
  std::error_code ec;
  if (fs::exists(pst, ec)) {
    std::fprintf(stderr, "%s exists\n", pst.c_str());
    return 2;
  }
  const auto files = messageFiles(source);

  Stage read{"read"}, translate{"translate"}, write{"write"}, commit{"commit"};
  // Commits come only from here, so that their time is counted apart.
  messaging::StoreOptions options;
  options.commitEveryBytes = ~std::uint64_t{0};
  options.commitEveryMilliseconds = ~std::uint32_t{0};
  auto store = messaging::Store::create(pst, u"Stages", options);
  const auto folder = store->createFolder(store->ipmSubtree(), u"Imported");

  std::uint64_t bytes = 0, refused = 0, sinceCommit = 0;
  for (const auto& path : files) {
    const std::uint64_t size = fs::file_size(path, ec);
    bytes += ec ? 0 : size;
    sinceCommit += ec ? 0 : size;
    std::shared_ptr<const msg::MessageFile> file;
    try {
      file = timed(read, [&] {
        return std::make_shared<const msg::MessageFile>(
            msg::MessageFile::read(std::make_shared<core::FileSource>(path), path.string()));
      });
    } catch (const std::exception&) {
      ++refused;  // broken files are refused: their time counts as reading
      continue;
    }
    auto content = timed(translate, [&] { return importer::TranslateMessage(file->message(), store->namedProperties()); });
    timed(write, [&] { return store->addMessage(folder, std::move(content), 1); });
    file.reset();
    if (sinceCommit >= commitEvery) {
      timed(commit, [&] { store->commit(); return 0; });
      sinceCommit = 0;
    }
  }
  timed(commit, [&] { store->close(); return 0; });

  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%zu files, %.1f MB, %llu refused\n", files.size(), mb, static_cast<unsigned long long>(refused));
  const auto rate = [&](double seconds) { return seconds > 0 ? mb / seconds : 0.0; };
  std::printf("%-10s %9s %9s %9s %9s %7s\n", "stage", "seconds", "MB/s", "CPU s", "CPU MB/s", "calls");
  double total = 0, cpuTotal = 0;
  for (const Stage* s : {&read, &translate, &write, &commit}) {
    total += s->seconds;
    cpuTotal += s->cpuSeconds;
    std::printf("%-10s %9.3f %9.1f %9.3f %9.1f %7llu\n", s->name, s->seconds, rate(s->seconds), s->cpuSeconds,
                rate(s->cpuSeconds), static_cast<unsigned long long>(s->calls));
  }
  std::printf("%-10s %9.3f %9.1f %9.3f %9.1f\n", "all", total, rate(total), cpuTotal, rate(cpuTotal));
  return 0;
}
