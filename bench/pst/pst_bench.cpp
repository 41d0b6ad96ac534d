// Store-writing benchmarks (run through run.sh, which measures the baselines):
//   pst_bench large PATH MIB [CRYPT]   MIB MiB of node data, streamed in 64 KiB
//                                      pieces into nodes of up to 256 MiB, then close()
//   pst_bench small PATH COUNT BYTES   COUNT nodes of BYTES bytes each, with the
//                                      default interval commits, then close()
// CRYPT is none, permute (default) or cyclic. Times include the final sync.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "engine/ndb/node_store.h"

using namespace parvane;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int large(const std::string& path, std::uint64_t mib, ndb::CryptMethod crypt) {
  ::unlink(path.c_str());
  ndb::CreateOptions o;
  o.crypt = crypt;
  core::Bytes piece(64 * 1024);
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 131 + (i >> 10));
  auto start = Clock::now();
  auto s = ndb::NodeStore::create(path, o);
  std::uint64_t total = mib << 20, done = 0;
  while (done < total) {
    ndb::DataWriter w = s->newData();
    std::uint64_t node = std::min<std::uint64_t>(total - done, 256ull << 20);
    for (std::uint64_t at = 0; at < node; at += piece.size()) w.append(piece);
    s->putNode(s->allocateNid(ndb::NidType::Internal), 0, w.finish());
    s->checkpoint();
    done += node;
  }
  s->close();
  double t = seconds(start);
  std::printf("pst large: %.1f MB of node data in %.3f s = %.1f MB/s\n", static_cast<double>(total) / 1e6, t, static_cast<double>(total) / 1e6 / t);
  return 0;
}

int small(const std::string& path, std::uint64_t count, std::size_t bytes) {
  ::unlink(path.c_str());
  core::Bytes data(bytes, 0x42);
  auto start = Clock::now();
  auto s = ndb::NodeStore::create(path);
  for (std::uint64_t i = 0; i < count; ++i) {
    data[0] = static_cast<std::uint8_t>(i);
    s->putNode(s->allocateNid(ndb::NidType::Internal), 0, s->writeData(data));
    s->checkpoint();
  }
  auto stats = s->stats();
  s->close();
  double t = seconds(start);
  std::printf("pst small: %llu nodes of %zu bytes in %.3f s = %.0f nodes/s (%llu commits, file %.1f MB)\n",
              static_cast<unsigned long long>(count), bytes, t, static_cast<double>(count) / t,
              static_cast<unsigned long long>(stats.commits), static_cast<double>(stats.fileSize) / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "large" && argc >= 4) {
      ndb::CryptMethod c = ndb::CryptMethod::Permute;
      if (argc > 4 && std::string(argv[4]) == "none") c = ndb::CryptMethod::None;
      if (argc > 4 && std::string(argv[4]) == "cyclic") c = ndb::CryptMethod::Cyclic;
      return large(argv[2], std::strtoull(argv[3], nullptr, 10), c);
    }
    if (mode == "small" && argc == 5)
      return small(argv[2], std::strtoull(argv[3], nullptr, 10), std::strtoul(argv[4], nullptr, 10));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pst_bench: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: pst_bench large PATH MIB [none|permute|cyclic] | small PATH COUNT BYTES\n");
  return 2;
}
