#include "support/msg_writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

#include "engine/core/text.h"

namespace parvane::testsupport {
namespace {

constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kSector = 512;
constexpr std::size_t kMiniSector = 64;
constexpr std::size_t kMiniCutoff = 4096;

Guid guidOf(std::uint32_t d1) {
  Guid g{};
  core::storeU32(g.data(), d1);
  g[8] = 0xC0;
  g[15] = 0x46;
  return g;
}

core::Bytes u16Bytes(const std::u16string& s) {
  core::Bytes out(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) core::storeU16(out.data() + 2 * i, s[i]);
  return out;
}

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Compound-file order of sibling names: shorter first, then by upper case.
bool cfbLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
  }
  return false;
}

struct DirNode {
  std::u16string name;
  std::uint8_t type = 2;  // 1 storage, 2 stream, 5 root
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
  const core::Bytes* data = nullptr;
  std::vector<std::uint32_t> children;
};

std::uint32_t balance(std::vector<DirNode>& nodes, std::vector<std::uint32_t>& sorted, std::size_t lo,
                      std::size_t hi) {
  if (lo >= hi) return kNoStream;
  std::size_t mid = lo + (hi - lo) / 2;
  std::uint32_t id = sorted[mid];
  nodes[id].left = balance(nodes, sorted, lo, mid);
  nodes[id].right = balance(nodes, sorted, mid + 1, hi);
  return id;
}

std::string hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

bool isFixed(std::uint16_t type) {
  switch (type) {
    case 0x0002: case 0x0003: case 0x0004: case 0x0005: case 0x0006: case 0x0007:
    case 0x000A: case 0x000B: case 0x0014: case 0x0040:
      return true;
    default:
      return false;
  }
}

struct MsgBuilder {
  std::vector<CfbEntry> entries;

  void add(const std::string& path, core::Bytes data) { entries.push_back({path, std::move(data), false}); }
  void storage(const std::string& path) { entries.push_back({path, {}, true}); }

  void properties(const std::string& prefix, const std::vector<MsgProperty>& props, core::Bytes header) {
    core::Bytes stream = std::move(header);
    core::ByteWriter w(stream);
    for (const auto& p : props) {
      auto type = static_cast<std::uint16_t>(p.tag & 0xFFFF);
      std::string sub = prefix + "__substg1.0_" + hex8(p.tag);
      w.u32(p.tag);
      w.u32(6);
      if (isFixed(type)) {
        core::Bytes v = p.value;
        v.resize(8, 0);
        w.bytes(v);
        continue;
      }
      std::uint32_t size = 0;
      if (type == 0x001F) {
        size = static_cast<std::uint32_t>(p.value.size() + 2);
        add(sub, p.value);
      } else if (type == 0x001E) {
        size = static_cast<std::uint32_t>(p.value.size() + 1);
        add(sub, p.value);
      } else if (type == 0x000D) {
        size = 0xFFFFFFFF;
      } else if (type == 0x101F || type == 0x101E || type == 0x1102) {
        core::Bytes lengths;
        core::ByteWriter lw(lengths);
        for (std::size_t i = 0; i < p.values.size(); ++i) {
          core::Bytes v = p.values[i];
          if (type == 0x101F) { v.push_back(0); v.push_back(0); }
          if (type == 0x101E) v.push_back(0);
          lw.u32(static_cast<std::uint32_t>(v.size()));
          if (type == 0x1102) lw.u32(0);
          add(sub + "-" + hex8(static_cast<std::uint32_t>(i)), std::move(v));
        }
        size = static_cast<std::uint32_t>(lengths.size());
        add(sub, std::move(lengths));
      } else {
        size = static_cast<std::uint32_t>(p.value.size());
        add(sub, p.value);
      }
      w.u32(size);
      w.u32(0);
    }
    add(prefix + "__properties_version1.0", std::move(stream));
  }

  void message(const std::string& prefix, const MsgMessage& m, bool top) {
    core::Bytes header;
    core::ByteWriter h(header);
    h.zeros(8);
    h.u32(static_cast<std::uint32_t>(m.recipients.size()));
    h.u32(static_cast<std::uint32_t>(m.attachments.size()));
    h.u32(static_cast<std::uint32_t>(m.recipients.size()));
    h.u32(static_cast<std::uint32_t>(m.attachments.size()));
    if (top) h.zeros(8);
    properties(prefix, m.properties, std::move(header));
    for (std::size_t i = 0; i < m.recipients.size(); ++i) {
      std::string p = prefix + "__recip_version1.0_#" + hex8(static_cast<std::uint32_t>(i));
      storage(p);
      properties(p + "/", m.recipients[i].properties, core::Bytes(8, 0));
    }
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
      std::string p = prefix + "__attach_version1.0_#" + hex8(static_cast<std::uint32_t>(i));
      storage(p);
      const auto& a = m.attachments[i];
      auto props = a.properties;
      if (a.embedded) {
        props.push_back(MsgProperty{0x3701000D, {}, {}});
        std::string e = p + "/__substg1.0_3701000D";
        storage(e);
        message(e + "/", *a.embedded, false);
      }
      properties(p + "/", props, core::Bytes(8, 0));
    }
  }

  void namedMap(const std::vector<MsgNamedProperty>& named) {
    std::string p = "__nameid_version1.0";
    storage(p);
    std::vector<Guid> guids;
    core::Bytes entryStream, stringStream;
    core::ByteWriter ew(entryStream), sw(stringStream);
    for (std::size_t i = 0; i < named.size(); ++i) {
      const auto& n = named[i];
      std::uint16_t gi;
      if (n.guid == psMapi()) gi = 1;
      else if (n.guid == psPublicStrings()) gi = 2;
      else {
        auto it = std::find(guids.begin(), guids.end(), n.guid);
        if (it == guids.end()) { guids.push_back(n.guid); it = guids.end() - 1; }
        gi = static_cast<std::uint16_t>(3 + (it - guids.begin()));
      }
      if (n.number) {
        ew.u32(*n.number);
        ew.u16(static_cast<std::uint16_t>(gi << 1));
      } else {
        ew.u32(static_cast<std::uint32_t>(stringStream.size()));
        ew.u16(static_cast<std::uint16_t>((gi << 1) | 1));
        sw.u32(static_cast<std::uint32_t>(n.name.size() * 2));
        sw.bytes(u16Bytes(n.name));
        while (stringStream.size() % 4) sw.u8(0);
      }
      ew.u16(static_cast<std::uint16_t>(i));
    }
    core::Bytes guidStream;
    for (const auto& g : guids) guidStream.insert(guidStream.end(), g.begin(), g.end());
    add(p + "/__substg1.0_00020102", std::move(guidStream));
    add(p + "/__substg1.0_00030102", std::move(entryStream));
    add(p + "/__substg1.0_00040102", std::move(stringStream));
  }
};

}  // namespace

Guid psMapi() { return guidOf(0x00020328); }
Guid psPublicStrings() { return guidOf(0x00020329); }
Guid psetidCommon() { return guidOf(0x00062008); }

core::Bytes utf16le(const std::string& utf8) { return u16Bytes(core::utf8ToUtf16(utf8)); }

MsgProperty MsgProperty::i16(std::uint16_t id, std::int16_t v) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x0002, core::Bytes(2), {}};
  core::storeU16(p.value.data(), static_cast<std::uint16_t>(v));
  return p;
}
MsgProperty MsgProperty::i32(std::uint16_t id, std::int32_t v) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x0003, core::Bytes(4), {}};
  core::storeU32(p.value.data(), static_cast<std::uint32_t>(v));
  return p;
}
MsgProperty MsgProperty::i64(std::uint16_t id, std::int64_t v) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x0014, core::Bytes(8), {}};
  core::storeU64(p.value.data(), static_cast<std::uint64_t>(v));
  return p;
}
MsgProperty MsgProperty::boolean(std::uint16_t id, bool v) {
  return MsgProperty{(std::uint32_t{id} << 16) | 0x000B, core::Bytes{static_cast<std::uint8_t>(v ? 1 : 0), 0}, {}};
}
MsgProperty MsgProperty::time(std::uint16_t id, std::uint64_t fileTime) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x0040, core::Bytes(8), {}};
  core::storeU64(p.value.data(), fileTime);
  return p;
}
MsgProperty MsgProperty::unicode(std::uint16_t id, const std::string& utf8) {
  return MsgProperty{(std::uint32_t{id} << 16) | 0x001F, utf16le(utf8), {}};
}
MsgProperty MsgProperty::string8(std::uint16_t id, const std::string& bytes) {
  return MsgProperty{(std::uint32_t{id} << 16) | 0x001E, core::Bytes(bytes.begin(), bytes.end()), {}};
}
MsgProperty MsgProperty::binary(std::uint16_t id, core::Bytes bytes) {
  return MsgProperty{(std::uint32_t{id} << 16) | 0x0102, std::move(bytes), {}};
}
MsgProperty MsgProperty::multiUnicode(std::uint16_t id, const std::vector<std::string>& utf8) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x101F, {}, {}};
  for (const auto& s : utf8) p.values.push_back(utf16le(s));
  return p;
}
MsgProperty MsgProperty::multiBinary(std::uint16_t id, std::vector<core::Bytes> values) {
  return MsgProperty{(std::uint32_t{id} << 16) | 0x1102, {}, std::move(values)};
}
MsgProperty MsgProperty::multiI32(std::uint16_t id, const std::vector<std::int32_t>& values) {
  MsgProperty p{(std::uint32_t{id} << 16) | 0x1003, core::Bytes(values.size() * 4), {}};
  for (std::size_t i = 0; i < values.size(); ++i)
    core::storeU32(p.value.data() + 4 * i, static_cast<std::uint32_t>(values[i]));
  return p;
}

core::Bytes writeCompoundFile(const std::vector<CfbEntry>& entries) {
  std::vector<DirNode> nodes(1);
  nodes[0].name = u"Root Entry";
  nodes[0].type = 5;
  std::map<std::string, std::uint32_t> byPath{{"", 0}};
  auto ensure = [&](const std::string& path, bool storage, const core::Bytes* data) {
    auto slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    auto pit = byPath.find(parent);
    if (pit == byPath.end()) throw std::invalid_argument("compound file: no storage " + parent);
    DirNode n;
    n.name = core::utf8ToUtf16(leaf);
    if (n.name.size() > 31) throw std::invalid_argument("compound file: name too long: " + leaf);
    n.type = storage ? 1 : 2;
    n.data = data;
    n.size = data ? data->size() : 0;
    auto id = static_cast<std::uint32_t>(nodes.size());
    nodes.push_back(std::move(n));
    nodes[pit->second].children.push_back(id);
    byPath[path] = id;
  };
  for (const auto& e : entries) ensure(e.path, e.isStorage, e.isStorage ? nullptr : &e.data);
  for (auto& n : nodes) {
    if (n.children.empty()) continue;
    auto sorted = n.children;
    std::sort(sorted.begin(), sorted.end(),
              [&](std::uint32_t a, std::uint32_t b) { return cfbLess(nodes[a].name, nodes[b].name); });
    n.child = balance(nodes, sorted, 0, sorted.size());
  }

  // Small streams live in the mini stream, the others in sectors of their own.
  core::Bytes mini;
  std::vector<std::uint32_t> miniFat;
  for (auto& n : nodes) {
    if (n.type != 2 || n.size == 0 || n.size >= kMiniCutoff) continue;
    auto first = static_cast<std::uint32_t>(mini.size() / kMiniSector);
    std::size_t count = (n.size + kMiniSector - 1) / kMiniSector;
    n.start = first;
    for (std::size_t i = 0; i < count; ++i)
      miniFat.push_back(i + 1 < count ? first + static_cast<std::uint32_t>(i) + 1 : kEndOfChain);
    mini.insert(mini.end(), n.data->begin(), n.data->end());
    mini.resize(static_cast<std::size_t>(first + count) * kMiniSector, 0);
  }

  std::vector<std::uint32_t> fat;
  core::Bytes body;
  auto place = [&](const std::uint8_t* data, std::size_t size) -> std::uint32_t {
    if (size == 0) return kEndOfChain;
    auto first = static_cast<std::uint32_t>(fat.size());
    std::size_t count = (size + kSector - 1) / kSector;
    for (std::size_t i = 0; i < count; ++i)
      fat.push_back(i + 1 < count ? first + static_cast<std::uint32_t>(i) + 1 : kEndOfChain);
    body.insert(body.end(), data, data + size);
    body.resize(fat.size() * kSector, 0);
    return first;
  };
  nodes[0].start = place(mini.data(), mini.size());
  nodes[0].size = mini.size();
  for (auto& n : nodes) {
    if (n.type == 2 && n.size >= kMiniCutoff) n.start = place(n.data->data(), n.data->size());
  }
  core::Bytes miniFatBytes(miniFat.size() * 4);
  for (std::size_t i = 0; i < miniFat.size(); ++i) core::storeU32(miniFatBytes.data() + 4 * i, miniFat[i]);
  std::uint32_t miniFatStart = place(miniFatBytes.data(), miniFatBytes.size());
  auto miniFatSectors = static_cast<std::uint32_t>((miniFatBytes.size() + kSector - 1) / kSector);

  core::Bytes dir;
  core::ByteWriter dw(dir);
  for (const auto& n : nodes) {
    core::Bytes name(64, 0);
    for (std::size_t i = 0; i < n.name.size(); ++i) core::storeU16(name.data() + 2 * i, n.name[i]);
    dw.bytes(name);
    dw.u16(static_cast<std::uint16_t>((n.name.size() + 1) * 2));
    dw.u8(n.type);
    dw.u8(1);  // black
    dw.u32(n.left);
    dw.u32(n.right);
    dw.u32(n.child);
    dw.zeros(16 + 4 + 16);
    dw.u32(n.type == 1 ? 0 : n.start);
    dw.u64(n.type == 1 ? 0 : n.size);
  }
  while (dir.size() % kSector) {
    core::Bytes empty(128, 0);
    core::storeU32(empty.data() + 68, kNoStream);
    core::storeU32(empty.data() + 72, kNoStream);
    core::storeU32(empty.data() + 76, kNoStream);
    dw.bytes(empty);
  }
  std::uint32_t dirStart = place(dir.data(), dir.size());

  // FAT and DIFAT sectors go last; find how many the file needs.
  std::size_t dataSectors = fat.size();
  std::size_t fatCount = 1, difatCount = 0;
  for (;;) {
    difatCount = fatCount > 109 ? (fatCount - 109 + 126) / 127 : 0;
    if (fatCount * 128 >= dataSectors + fatCount + difatCount) break;
    ++fatCount;
  }
  auto fatStart = static_cast<std::uint32_t>(dataSectors);
  for (std::size_t i = 0; i < fatCount; ++i) fat.push_back(kFatSector);
  auto difatStart = static_cast<std::uint32_t>(fat.size());
  for (std::size_t i = 0; i < difatCount; ++i) fat.push_back(kDifatSector);
  fat.resize(fatCount * 128, kFree);

  core::Bytes out;
  core::ByteWriter w(out);
  const std::uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  w.bytes(magic);
  w.zeros(16);
  w.u16(0x003E);
  w.u16(0x0003);
  w.u16(0xFFFE);
  w.u16(9);
  w.u16(6);
  w.zeros(6);
  w.u32(0);
  w.u32(static_cast<std::uint32_t>(fatCount));
  w.u32(dirStart);
  w.u32(0);
  w.u32(static_cast<std::uint32_t>(kMiniCutoff));
  w.u32(miniFatSectors ? miniFatStart : kEndOfChain);
  w.u32(miniFatSectors);
  w.u32(difatCount ? difatStart : kEndOfChain);
  w.u32(static_cast<std::uint32_t>(difatCount));
  for (std::size_t i = 0; i < 109; ++i)
    w.u32(i < fatCount ? fatStart + static_cast<std::uint32_t>(i) : kFree);
  w.bytes(body);
  for (auto v : fat) w.u32(v);
  for (std::size_t d = 0; d < difatCount; ++d) {
    for (std::size_t k = 0; k < 127; ++k) {
      std::size_t idx = 109 + d * 127 + k;
      w.u32(idx < fatCount ? fatStart + static_cast<std::uint32_t>(idx) : kFree);
    }
    w.u32(d + 1 < difatCount ? difatStart + static_cast<std::uint32_t>(d) + 1 : kEndOfChain);
  }
  return out;
}

core::Bytes writeMsg(const MsgMessage& message, const std::vector<MsgNamedProperty>& named) {
  MsgBuilder b;
  b.namedMap(named);
  b.message("", message, true);
  return writeCompoundFile(b.entries);
}

void writeMsgFile(const std::filesystem::path& path, const MsgMessage& message,
                  const std::vector<MsgNamedProperty>& named) {
  auto bytes = writeMsg(message, named);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

MsgMessage simpleMessage(const std::string& subject, const std::string& body,
                         const std::vector<std::string>& toAddresses,
                         const std::vector<std::pair<std::string, core::Bytes>>& attachments) {
  MsgMessage m;
  m.properties.push_back(MsgProperty::unicode(0x001A, "IPM.Note"));
  m.properties.push_back(MsgProperty::unicode(0x0037, subject));
  m.properties.push_back(MsgProperty::unicode(0x0070, subject));
  m.properties.push_back(MsgProperty::unicode(0x1000, body));
  m.properties.push_back(MsgProperty::unicode(0x0C1A, "Sender Name"));
  m.properties.push_back(MsgProperty::unicode(0x0042, "Sender Name"));
  m.properties.push_back(MsgProperty::time(0x0039, 133000000000000000ULL));
  m.properties.push_back(MsgProperty::time(0x0E06, 133000000000000000ULL));
  m.properties.push_back(MsgProperty::i32(0x0E07, 1));
  for (const auto& to : toAddresses) {
    MsgRecipient r;
    r.properties.push_back(MsgProperty::i32(0x0C15, 1));
    r.properties.push_back(MsgProperty::unicode(0x3001, to));
    r.properties.push_back(MsgProperty::unicode(0x3002, "SMTP"));
    r.properties.push_back(MsgProperty::unicode(0x3003, to));
    m.recipients.push_back(std::move(r));
  }
  for (const auto& [name, data] : attachments) {
    MsgAttachment a;
    a.properties.push_back(MsgProperty::i32(0x3705, 1));
    a.properties.push_back(MsgProperty::unicode(0x3707, name));
    a.properties.push_back(MsgProperty::unicode(0x3704, name));
    a.properties.push_back(MsgProperty::binary(0x3701, data));
    a.properties.push_back(MsgProperty::i32(0x370B, -1));
    m.attachments.push_back(std::move(a));
  }
  return m;
}

}  // namespace parvane::testsupport
