// Every message file of the shared corpus: sound files read completely and
// agree with an independent reader (python3-olefile); the broken ones are
// rejected with a reason that names the file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/codepage.h"
#include "engine/msg/message.h"

using namespace parvane;

namespace {

const std::string kCorpus = std::string(PARVANE_SHARED_DIR) + "/corpus/msg/";

struct CorpusFile {
  std::string path;  // relative to the corpus folder
  bool broken = false;
};

std::vector<CorpusFile> corpusFiles() {
  std::ifstream in(kCorpus + "MANIFEST.tsv");
  std::vector<CorpusFile> out;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) cols.push_back(c);
    if (cols.size() < 6) continue;
    out.push_back({cols[0], cols[5].find("BROKEN CFB") != std::string::npos});
  }
  return out;
}

std::string crcOf(core::ByteView b) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%zu:%08lx", b.size(),
                crc32(0L, b.data(), static_cast<uInt>(b.size())));
  return buf;
}

std::string textOr(const msg::PropertyBag& bag, std::uint16_t id) {
  const auto t = bag.text(id);
  return t ? core::toUtf8(*t) : "None";
}

std::string hex(std::uint32_t v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", width, v);
  return buf;
}

void summarize(const msg::Message& m, std::vector<std::string>& out, bool top) {
  const auto& p = m.properties();
  out.push_back("subject: " + textOr(p, 0x0037));
  out.push_back("sender: " + textOr(p, 0x0C1A) + "|" + textOr(p, 0x0C1F));
  const auto body = p.text(0x1000);
  out.push_back("body: " + (body ? crcOf(core::ByteView(reinterpret_cast<const std::uint8_t*>(core::toUtf8(*body).data()),
                                                        core::toUtf8(*body).size()))
                                 : std::string("None")));
  std::string html = "None";
  if (const auto* h = p.findTag(0x10130102)) {
    html = crcOf(h->load());
  } else if (const auto t = p.text(0x1013)) {
    const std::string u = core::toUtf8(*t);
    html = crcOf(core::ByteView(reinterpret_cast<const std::uint8_t*>(u.data()), u.size()));
  }
  out.push_back("html: " + html);
  if (top) {
    for (const auto& prop : p.all()) {
      if (prop.id() >= 0x8000) {
        ASSERT_NE(prop.name(), nullptr) << "named property without a name: " << hex(prop.tag(), 8);
        const auto& n = *prop.name();
        out.push_back("prop: " + hex(prop.tag(), 8) + "|" + n.guid.toString() + "|" +
                      (n.kind == msg::PropertyName::Kind::Id ? "id:0x" + hex(n.id, 4) : "name:" + core::toUtf8(n.name)));
      }
    }
  }
  for (const auto& r : m.recipients()) {
    const auto type = r.properties().int32(0x0C15);
    out.push_back("recipient: " + (type ? std::to_string(*type) : std::string("None")) + "|" +
                  textOr(r.properties(), 0x3001) + "|" + textOr(r.properties(), 0x3003));
  }
  for (const auto& a : m.attachments()) {
    // The first non-empty of long name, short name, display name; else the
    // display name as it is.
    std::string name = textOr(a.properties(), 0x3001);
    for (const std::uint16_t id : std::initializer_list<std::uint16_t>{0x3707, 0x3704, 0x3001}) {
      const auto t = a.properties().text(id);
      if (t && !t->empty()) {
        name = core::toUtf8(*t);
        break;
      }
    }
    if (const auto* e = a.embedded()) {
      std::vector<std::string> inner;
      summarize(*e, inner, false);
      out.push_back("attachment: " + name + "|embedded|" + inner[0].substr(9));
      for (const auto& l : inner) out.push_back("  " + l);
    } else if (a.hasOleStorage()) {
      out.push_back("attachment: " + name + "|ole");
    } else if (const auto* d = a.data()) {
      // Read large data in chunks, as a store would.
      auto s = d->open();
      uLong c = crc32(0L, nullptr, 0);
      std::vector<std::uint8_t> buf(7000);
      for (std::uint64_t off = 0; off < s->size(); off += buf.size()) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), s->size() - off));
        s->readAt(off, std::span<std::uint8_t>(buf.data(), n));
        c = crc32(c, buf.data(), static_cast<uInt>(n));
      }
      char tmp[48];
      std::snprintf(tmp, sizeof tmp, "%llu:%08lx", static_cast<unsigned long long>(s->size()), c);
      out.push_back("attachment: " + name + "|" + tmp);
    } else {
      out.push_back("attachment: " + name + "|None");
    }
  }
}

std::vector<std::string> summary(const msg::MessageFile& f) {
  std::vector<std::string> out;
  for (const auto& n : f.namedProperties()) {
    out.push_back("named: " + hex(n.localId, 4) + "|" + n.name.guid.toString() + "|" +
                  (n.name.kind == msg::PropertyName::Kind::Id ? "id:0x" + hex(n.name.id, 4)
                                                               : "name:" + core::toUtf8(n.name.name)));
  }
  summarize(f.message(), out, true);
  return out;
}

std::map<std::string, std::vector<std::string>> oracleSummaries(const std::vector<CorpusFile>& files) {
  std::string cmd = "cd '" + kCorpus + "' && /usr/bin/python3 '" + PARVANE_SOURCE_DIR +
                    "/tests/engine/msg/oracle_msg.py'";
  for (const auto& f : files) cmd += " '" + f.path + "'";
  std::map<std::string, std::vector<std::string>> out;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return out;
  std::string current, line;
  char buf[65536];
  while (fgets(buf, sizeof buf, pipe)) {
    line = buf;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (line.rfind("== ", 0) == 0) {
      current = line.substr(3);
      out[current];
    } else {
      out[current].push_back(line);
    }
  }
  pclose(pipe);
  return out;
}

// Reads every value of a message the way a store would, so that values read
// on demand are exercised too.
std::uint64_t readEverything(const msg::Message& m) {
  std::uint64_t total = 0;
  auto bag = [&](const msg::PropertyBag& b) {
    for (const auto& p : b.all()) {
      if (!p.isFixed() && !p.isMultiValued()) total += p.load().size();
    }
  };
  bag(m.properties());
  for (const auto& r : m.recipients()) bag(r.properties());
  for (const auto& a : m.attachments()) {
    bag(a.properties());
    if (a.embedded()) total += readEverything(*a.embedded());
    if (a.hasOleStorage()) total += a.oleImage().size();
  }
  return total;
}

}  // namespace

TEST(MessageCorpus, SoundFilesReadCompletelyAndBrokenOnesAreRejected) {
  const auto files = corpusFiles();
  ASSERT_GE(files.size(), 100u);
  std::size_t broken = 0;
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    if (f.broken) {
      ++broken;
      try {
        (void)msg::MessageFile::open(kCorpus + f.path);
        ADD_FAILURE() << "a broken file was accepted";
      } catch (const msg::ReadError& e) {
        EXPECT_NE(std::string(e.what()).find(f.path), std::string::npos) << e.what();
      }
      continue;
    }
    msg::MessageFile file = msg::MessageFile::open(kCorpus + f.path);
    EXPECT_GT(file.message().properties().size(), 5u);
    EXPECT_GT(readEverything(file.message()), 0u);
  }
  EXPECT_EQ(broken, 2u);
}

TEST(MessageCorpus, AgreesWithIndependentReader) {
  const auto files = corpusFiles();
  const auto oracle = oracleSummaries(files);
  ASSERT_EQ(oracle.size(), files.size()) << "python3-olefile oracle did not run";
  for (const auto& f : files) {
    if (f.broken) continue;
    SCOPED_TRACE(f.path);
    const auto& expected = oracle.at(f.path);
    const auto actual = summary(msg::MessageFile::open(kCorpus + f.path));
    EXPECT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
      if (actual[i] != expected[i]) {
        ADD_FAILURE() << "line " << i << "\n ours:   " << actual[i] << "\n oracle: " << expected[i];
        break;
      }
    }
  }
}

TEST(MessageCorpus, WarningsNameWhatWasSkipped) {
  // A fuzzer-made copy of a sound file: one property's stream is missing.
  const auto file = msg::MessageFile::open(
      kCorpus + "apache-poi/clusterfuzz-testcase-minimized-POIHSMFFuzzer-4848576776503296.msg");
  ASSERT_EQ(file.warnings().size(), 1u);
  EXPECT_NE(file.warnings()[0].find("__substg1.0_00710102"), std::string::npos) << file.warnings()[0];
  EXPECT_EQ(file.message().properties().findTag(0x00710102), nullptr);
  EXPECT_NE(file.message().properties().findId(0x0037), nullptr);
}

TEST(MessageFuzzFindings, EachEndsInAClearError) {
  // Inputs the fuzzer once crashed on; each must now be rejected cleanly.
  const std::filesystem::path dir = std::string(PARVANE_SOURCE_DIR) + "/tests/engine/msg/data/fuzz";
  std::size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().string());
    ++seen;
    EXPECT_THROW(
        {
          const auto file = msg::MessageFile::open(entry.path());
          (void)readEverything(file.message());
        },
        msg::ReadError);
  }
  EXPECT_GE(seen, 1u);
}
