// Reading speed and memory of the message-file reader.
//
//   msg_bench read ROUNDS FILE...   reads every file ROUNDS times, touching every
//                                   value as an import would; prints MB/s
//   msg_bench make FILE MB          writes a message with one attachment of MB MiB
//   msg_bench memory FILE           reads FILE, streaming large values in 64 KiB
//                                   chunks; prints the peak resident memory
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/cfb/writer.h"
#include "engine/core/codepage.h"
#include "engine/msg/message.h"

using namespace parvane;

namespace {

struct Totals {
  std::uint64_t valueBytes = 0;
  std::uint64_t largest = 0;
  std::uint64_t checksum = 0;
};

void consume(const msg::PropertyBag& bag, Totals& t) {
  std::vector<std::uint8_t> buf(64 * 1024);
  for (const auto& p : bag.all()) {
    if (p.isFixed()) {
      t.checksum += p.raw();
      continue;
    }
    t.largest = std::max(t.largest, p.size());
    if (p.isMultiValued()) {
      for (std::size_t i = 0; i < p.count(); ++i) t.valueBytes += p.item(i).size();
    } else if (p.baseType() == msg::ptype::String8 || p.baseType() == msg::ptype::Unicode) {
      t.valueBytes += p.text().size() * 2;
    } else {
      auto s = p.open();
      for (std::uint64_t off = 0; off < s->size(); off += buf.size()) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), s->size() - off));
        s->readAt(off, std::span<std::uint8_t>(buf.data(), n));
        t.checksum += buf[n - 1];
      }
      t.valueBytes += s->size();
    }
  }
}

void consume(const msg::Message& m, Totals& t) {
  consume(m.properties(), t);
  for (const auto& r : m.recipients()) consume(r.properties(), t);
  for (const auto& a : m.attachments()) {
    consume(a.properties(), t);
    if (a.embedded()) consume(*a.embedded(), t);
    if (a.hasOleStorage()) t.valueBytes += a.oleImage().size();
  }
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int read(int rounds, const std::vector<std::string>& files) {
  std::uint64_t fileBytes = 0, failures = 0;
  Totals t;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  for (int r = 0; r < rounds; ++r) {
    for (const auto& f : files) {
      try {
        const auto file = msg::MessageFile::open(f);
        consume(file.message(), t);
      } catch (const msg::ReadError&) {
        ++failures;
      }
      std::ifstream in(f, std::ios::binary | std::ios::ate);
      fileBytes += static_cast<std::uint64_t>(in.tellg());
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuStart;
  std::printf("read %zu files x %d rounds: %.1f MB in %.3f s = %.1f MB/s (CPU %.3f s = %.1f MB/s; %llu rejected reads, %.1f MB of values, peak RSS %ld KiB, checksum %llu)\n",
              files.size(), rounds, static_cast<double>(fileBytes) / 1e6, seconds,
              static_cast<double>(fileBytes) / 1e6 / seconds, cpu, static_cast<double>(fileBytes) / 1e6 / cpu,
              static_cast<unsigned long long>(failures),
              static_cast<double>(t.valueBytes) / 1e6, peakRssKiB(), static_cast<unsigned long long>(t.checksum));
  return 0;
}

void addProps(cfb::Writer& w, std::uint32_t storage, std::size_t header, const std::vector<std::pair<std::uint32_t, core::Bytes>>& streams,
              const std::vector<std::pair<std::uint32_t, std::uint32_t>>& fixed) {
  core::Bytes ps(header, 0);
  core::ByteWriter out(ps);
  char name[40];
  for (const auto& [tag, v] : fixed) {
    out.u32(tag);
    out.u32(6);
    out.u64(v);
  }
  for (const auto& [tag, data] : streams) {
    out.u32(tag);
    out.u32(6);
    out.u64(data.size());
    std::snprintf(name, sizeof name, "__substg1.0_%08X", tag);
    w.addStream(storage, std::u16string(name, name + std::char_traits<char>::length(name)), data);
  }
  w.addStream(storage, u"__properties_version1.0", ps);
}

core::Bytes utf16z(std::u16string_view s) {
  core::Bytes b;
  core::ByteWriter w(b);
  for (auto c : s) w.u16(c);
  w.u16(0);
  return b;
}

int make(const std::string& path, std::size_t mib) {
  cfb::Writer w;
  core::Bytes data(mib * 1024 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
  const auto a = w.addStorage(w.root(), u"__attach_version1.0_#00000000");
  addProps(w, a, 8, {{0x37010102, std::move(data)}, {0x3707001F, utf16z(u"big.bin")}}, {{0x37050003, 1}});
  addProps(w, w.root(), 32, {{0x0037001F, utf16z(u"A message with a big attachment")}, {0x1000001F, utf16z(u"body")}}, {});
  const auto image = w.finish();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  std::printf("wrote %s: %zu bytes\n", path.c_str(), image.size());
  return out ? 0 : 1;
}

int memory(const std::string& path) {
  const long before = peakRssKiB();
  Totals t;
  const auto file = msg::MessageFile::open(path);
  consume(file.message(), t);
  std::printf("memory: %s: largest property %.1f MB, read %.1f MB of values; peak RSS %ld KiB (%ld KiB at start)\n",
              path.c_str(), static_cast<double>(t.largest) / 1e6, static_cast<double>(t.valueBytes) / 1e6, peakRssKiB(),
              before);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "read" && argc > 3) return read(std::atoi(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
  if (mode == "make" && argc == 4) return make(argv[2], static_cast<std::size_t>(std::atoi(argv[3])));
  if (mode == "memory" && argc == 3) return memory(argv[2]);
  std::fprintf(stderr, "usage: msg_bench read ROUNDS FILE... | make FILE MB | memory FILE\n");
  return 2;
}
