// Imports a generated corpus the way the conversion run does (folder by path,
// new item, Import, flags, Save) and reports messages/s, MB/s and peak memory
// beside `cat` of the same files, measured in the same run.
//
//   parvane_bench_import [--dir D] [--small N] [--large N] [--large-mb M]
//
// The corpus is generated first (small messages: text, recipients, some with a
// small attachment; large ones: one attachment of M MB each), then each set is
// read once by cat to warm the cache, timed with cat, copied with cat into one
// file and synced (the cost of writing the bytes durably), and imported in a
// child process whose peak resident size and CPU time come from the kernel.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "import/engine_store_service.h"
#include "support/msg_writer.h"

namespace fs = std::filesystem;
using namespace parvane;

namespace {

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::uint64_t generateSmall(const fs::path& dir, int count) {
  fs::create_directories(dir);
  std::uint64_t bytes = 0;
  std::string body;
  for (int i = 0; i < 40; ++i) body += "Line of a plain text body with some words in it. ";
  for (int i = 0; i < count; ++i) {
    std::vector<std::pair<std::string, core::Bytes>> atts;
    if (i % 3 == 0) atts.push_back({"note.txt", core::Bytes(2048, static_cast<std::uint8_t>('a' + i % 26))});
    auto m = testsupport::simpleMessage("Message " + std::to_string(i), body,
                                        {"first@example.com", "second@example.com"}, atts);
    char name[32];
    std::snprintf(name, sizeof name, "%06d.msg", i);
    testsupport::writeMsgFile(dir / name, m);
    bytes += fs::file_size(dir / name);
  }
  return bytes;
}

std::uint64_t generateLarge(const fs::path& dir, int count, std::size_t megabytes) {
  fs::create_directories(dir);
  std::uint64_t bytes = 0;
  core::Bytes data(megabytes << 20);
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>((k * 2654435761u) >> 13);
  for (int i = 0; i < count; ++i) {
    data[0] = static_cast<std::uint8_t>(i);
    auto m = testsupport::simpleMessage("Large " + std::to_string(i), "see attachment", {"x@example.com"},
                                        {{"data.bin", data}});
    char name[32];
    std::snprintf(name, sizeof name, "%03d.msg", i);
    testsupport::writeMsgFile(dir / name, m);
    bytes += fs::file_size(dir / name);
  }
  return bytes;
}

double timeCat(const fs::path& dir) {
  std::string cmd = "find '" + dir.string() + "' -name '*.msg' -print0 | xargs -0 cat > /dev/null";
  if (std::system(cmd.c_str()) != 0) return -1;  // warm the cache
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return seconds(std::chrono::steady_clock::now() - t0);
}

// `cat` into one file on the store's disk, then sync: what writing the same
// bytes durably costs, for comparison with an import that commits durably.
double timeCopySync(const fs::path& dir, const fs::path& copy) {
  std::string cmd = "find '" + dir.string() + "' -name '*.msg' -print0 | xargs -0 cat > '" + copy.string() +
                    "' && sync '" + copy.string() + "'";
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  double s = seconds(std::chrono::steady_clock::now() - t0);
  fs::remove(copy);
  return s;
}

// The child: imports every file of `dir` into a new store at `pst`. Prints the seconds taken.
int importOnly(const fs::path& dir, const fs::path& pst) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  importer::EngineStoreService store;
  auto t0 = std::chrono::steady_clock::now();
  int failures = 0;
  if (!store.createStore(pst.string(), conversion::StoreFormat::Default, "Bench")) return 1;
  const auto folder =
      store.addFolder(store.topFolder().value(), "Import", conversion::FolderKind::Mail);
  if (!folder) return 1;
  for (const auto& f : files) {
    const auto item = store.addItem(folder.value());
    conversion::Status done = item ? store.importMessage(item.value(), f.string()) : item.error();
    if (done) {
      (void)store.setFlags(item.value(), 17);
      done = store.save(item.value());
    }
    if (!done && ++failures < 5) std::fprintf(stderr, "%s: %s\n", f.c_str(), done.error().detail.c_str());
  }
  (void)store.removeStore();
  store.endSession();
  std::printf("%.6f %d\n", seconds(std::chrono::steady_clock::now() - t0), failures);
  return failures ? 1 : 0;
}

struct ImportResult {
  double seconds = -1;
  double cpuSeconds = -1;  // user + system: the rest of the wall time waits for the disk
  long peakKb = 0;
};

ImportResult runImport(const char* self, const fs::path& dir, const fs::path& pst) {
  fs::remove(pst);
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::execl(self, self, "--import-only", dir.c_str(), pst.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(fds[1]);
  char buf[128] = {0};
  auto n = ::read(fds[0], buf, sizeof buf - 1);
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  ImportResult r;
  if (n > 0) r.seconds = std::atof(buf);
  r.peakKb = usage.ru_maxrss;
  r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return r;
}

void report(const char* set, int count, std::uint64_t bytes, double cat, double copySync, const ImportResult& imp) {
  double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%-6s cat > file + sync %7.3f s %9.1f MB/s; import is %5.1f%% of that\n", set, copySync, mb / copySync,
              100.0 * copySync / imp.seconds);
  std::printf("%-6s %6d files %9.1f MB | cat %7.3f s %9.1f MB/s %10.0f files/s | import %7.3f s %9.1f MB/s %10.0f msg/s"
              " (%5.1f%% of cat) | cpu %7.3f s %10.0f msg/s | peak %6.1f MB\n",
              set, count, mb, cat, mb / cat, count / cat, imp.seconds, mb / imp.seconds, count / imp.seconds,
              100.0 * cat / imp.seconds, imp.cpuSeconds, count / imp.cpuSeconds, static_cast<double>(imp.peakKb) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import-only") == 0) return importOnly(argv[2], argv[3]);
  fs::path dir = fs::temp_directory_path() / "parvane-bench-import";
  int small = 10000, large = 4;
  std::size_t largeMb = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--small") small = std::atoi(argv[i + 1]);
    else if (a == "--large") large = std::atoi(argv[i + 1]);
    else if (a == "--large-mb") largeMb = static_cast<std::size_t>(std::atoi(argv[i + 1]));
  }
  fs::remove_all(dir);
  std::printf("generating %d small and %d large (%zu MB) messages in %s\n", small, large, largeMb, dir.c_str());
  std::fflush(stdout);
  auto smallBytes = generateSmall(dir / "small", small);
  auto largeBytes = generateLarge(dir / "large", large, largeMb);
  auto smallCat = timeCat(dir / "small");
  auto smallCopy = timeCopySync(dir / "small", dir / "copy.bin");
  auto smallImport = runImport("/proc/self/exe", dir / "small", dir / "small.pst");
  report("small", small, smallBytes, smallCat, smallCopy, smallImport);
  std::fflush(stdout);
  auto largeCat = timeCat(dir / "large");
  auto largeCopy = timeCopySync(dir / "large", dir / "copy.bin");
  auto largeImport = runImport("/proc/self/exe", dir / "large", dir / "large.pst");
  report("large", large, largeBytes, largeCat, largeCopy, largeImport);
  fs::remove_all(dir);
  return 0;
}
