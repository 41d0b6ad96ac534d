// Test-only writer of message files: property streams, value streams,
// multi-valued item streams and the named-property map, on top of cfb::Writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/cfb/writer.h"
#include "engine/core/coding.h"

namespace parvane::testing {

struct TestProp {
  std::uint32_t tag = 0;
  std::uint64_t fixed = 0;             // fixed-size values
  core::Bytes data;                    // values kept in a stream
  std::vector<core::Bytes> items;      // multi-valued strings and binaries
  bool stream = false;                 // written as __substg1.0_ stream(s)
  bool omitStream = false;             // declared in the property stream only

  static TestProp fixedValue(std::uint32_t tag, std::uint64_t v) { return {tag, v, {}, {}, false, false}; }
  static TestProp bytes(std::uint32_t tag, core::Bytes b) { return {tag, 0, std::move(b), {}, true, false}; }
  static TestProp unicode(std::uint32_t tag, std::u16string_view s) {
    core::Bytes b;
    core::ByteWriter w(b);
    for (char16_t c : s) w.u16(c);
    w.u16(0);
    return bytes(tag, std::move(b));
  }
  static TestProp string8(std::uint32_t tag, std::string_view s) {
    core::Bytes b(s.begin(), s.end());
    b.push_back(0);
    return bytes(tag, std::move(b));
  }
  static TestProp multi(std::uint32_t tag, std::vector<core::Bytes> items) {
    TestProp p{tag, 0, {}, std::move(items), true, false};
    return p;
  }
};

inline std::u16string u16(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// Writes `props` into `storage`: the property stream with a header of
// `headerSize` bytes (32 top level, 24 embedded, 8 recipient/attachment) and
// one stream per value.
inline void writeProps(cfb::Writer& w, std::uint32_t storage, std::size_t headerSize, const std::vector<TestProp>& props,
                       std::uint32_t recipients = 0, std::uint32_t attachments = 0) {
  core::Bytes ps;
  core::ByteWriter out(ps);
  out.zeros(8);
  if (headerSize >= 24) {
    out.u32(recipients);
    out.u32(attachments);
    out.u32(recipients);
    out.u32(attachments);
  }
  out.zeros(headerSize - ps.size());
  char name[48];
  for (const auto& p : props) {
    out.u32(p.tag);
    out.u32(6);
    const bool mv = (p.tag & 0x1000) != 0;
    const bool variableItems = mv && ((p.tag & 0xFFF) == 0x01E || (p.tag & 0xFFF) == 0x01F || (p.tag & 0xFFF) == 0x102);
    if (!p.stream) {
      out.u64(p.fixed);
      continue;
    }
    core::Bytes value = p.data;
    if (variableItems) {
      core::ByteWriter lw(value);
      for (const auto& item : p.items) {
        lw.u32(static_cast<std::uint32_t>(item.size()));
        if ((p.tag & 0xFFF) == 0x102) lw.u32(0);
      }
    } else if (mv) {
      for (const auto& item : p.items) value.insert(value.end(), item.begin(), item.end());
    }
    out.u32(static_cast<std::uint32_t>(value.size()));
    out.u32(0);
    if (p.omitStream) continue;
    std::snprintf(name, sizeof name, "__substg1.0_%08X", p.tag);
    w.addStream(storage, u16(name), value);
    if (variableItems) {
      for (std::size_t i = 0; i < p.items.size(); ++i) {
        std::snprintf(name, sizeof name, "__substg1.0_%08X-%08X", p.tag, static_cast<unsigned>(i));
        w.addStream(storage, u16(name), p.items[i]);
      }
    }
  }
  w.addStream(storage, u"__properties_version1.0", ps);
}

struct NameEntry {
  std::uint32_t valueOrOffset;
  std::uint16_t indexAndKind;
  std::uint16_t propertyIndex;
};

inline void writeNameMap(cfb::Writer& w, const core::Bytes& guids, const std::vector<NameEntry>& entries,
                         const core::Bytes& strings) {
  const auto s = w.addStorage(w.root(), u"__nameid_version1.0");
  core::Bytes e;
  core::ByteWriter ew(e);
  for (const auto& x : entries) {
    ew.u32(x.valueOrOffset);
    ew.u16(x.indexAndKind);
    ew.u16(x.propertyIndex);
  }
  w.addStream(s, u"__substg1.0_00020102", guids);
  w.addStream(s, u"__substg1.0_00030102", e);
  w.addStream(s, u"__substg1.0_00040102", strings);
}

inline std::u16string numbered(std::string_view prefix, std::uint32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", n);
  return u16(std::string(prefix) + buf);
}

}  // namespace parvane::testing
