#include "engine/ltp/format.h"

#include "engine/core/text.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

LtpError LtpError::field(const std::string& structure, const std::string& field,
                         const std::string& expected, const std::string& found) {
  return LtpError(structure + "." + field + ": expected " + expected + ", found " + found);
}

std::uint8_t fillLevel(std::size_t freeBytes) {
  static constexpr std::size_t kFloor[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                           512,  256,  128,  64,   32,   16,   8};
  for (std::uint8_t i = 0; i < 15; ++i)
    if (freeBytes >= kFloor[i]) return i;
  return 15;
}

Bytes encodeBthHeader(const BTHHEADER& h) {
  Bytes out;
  out.reserve(kBthHeaderSize);
  core::ByteWriter w(out);
  w.u8(h.bType);
  w.u8(h.cbKey);
  w.u8(h.cbEnt);
  w.u8(h.bIdxLevels);
  w.u32(h.hidRoot);
  return out;
}

BTHHEADER decodeBthHeader(ByteView data) {
  if (data.size() != kBthHeaderSize)
    throw LtpError::field("BTHHEADER", "size", "8 bytes", std::to_string(data.size()) + " bytes");
  core::ByteReader r(data, "BTHHEADER");
  BTHHEADER h;
  h.bType = r.u8();
  h.cbKey = r.u8();
  h.cbEnt = r.u8();
  h.bIdxLevels = r.u8();
  h.hidRoot = r.u32();
  if (h.bType != static_cast<std::uint8_t>(ClientSig::BTH)) throw LtpError::field("BTHHEADER", "bType", "0xB5", hex(h.bType));
  if (h.cbKey != 2 && h.cbKey != 4 && h.cbKey != 8 && h.cbKey != 16)
    throw LtpError::field("BTHHEADER", "cbKey", "2, 4, 8 or 16", std::to_string(h.cbKey));
  if (h.cbEnt < 1 || h.cbEnt > 32) throw LtpError::field("BTHHEADER", "cbEnt", "1..32", std::to_string(h.cbEnt));
  if (h.bIdxLevels > 8) throw LtpError::field("BTHHEADER", "bIdxLevels", "<= 8", std::to_string(h.bIdxLevels));
  return h;
}

Bytes encodeTcInfo(const TCINFO& t) {
  Bytes out(kTcInfoFixedSize + kTcolDescSize * t.rgTCOLDESC.size());
  encodeTcInfo(t, out);
  return out;
}

void encodeTcInfo(const TCINFO& t, std::span<std::uint8_t> out) {
  const std::size_t size = kTcInfoFixedSize + kTcolDescSize * t.rgTCOLDESC.size();
  if (out.size() != size)
    throw LtpError::field("TCINFO", "size", std::to_string(size) + " bytes", std::to_string(out.size()) + " bytes");
  std::uint8_t* p = out.data();
  p[0] = t.bType;
  p[1] = static_cast<std::uint8_t>(t.rgTCOLDESC.size());
  for (std::size_t i = 0; i < 4; ++i) core::storeU16(p + 2 + 2 * i, t.rgib[i]);
  core::storeU32(p + 10, t.hidRowIndex);
  core::storeU32(p + 14, t.hnidRows);
  core::storeU32(p + 18, t.hidIndex);
  p += kTcInfoFixedSize;
  for (const auto& c : t.rgTCOLDESC) {
    core::storeU32(p, c.tag);
    core::storeU16(p + 4, c.ibData);
    p[6] = c.cbData;
    p[7] = c.iBit;
    p += kTcolDescSize;
  }
}

TCINFO decodeTcInfo(ByteView data) {
  core::ByteReader r(data, "TCINFO");
  TCINFO t;
  try {
    t.bType = r.u8();
    if (t.bType != static_cast<std::uint8_t>(ClientSig::TC)) throw LtpError::field("TCINFO", "bType", "0x7C", hex(t.bType));
    t.cCols = r.u8();
    for (auto& v : t.rgib) v = r.u16();
    t.hidRowIndex = r.u32();
    t.hnidRows = r.u32();
    t.hidIndex = r.u32();
    if (data.size() != kTcInfoFixedSize + kTcolDescSize * t.cCols)
      throw LtpError::field("TCINFO", "size", std::to_string(kTcInfoFixedSize + kTcolDescSize * t.cCols) + " bytes for " +
                            std::to_string(t.cCols) + " columns", std::to_string(data.size()) + " bytes");
    for (std::size_t i = 0; i < t.cCols; ++i) {
      TCOLDESC c;
      c.tag = r.u32();
      c.ibData = r.u16();
      c.cbData = r.u8();
      c.iBit = r.u8();
      t.rgTCOLDESC.push_back(c);
    }
  } catch (const core::TruncatedError& e) {
    throw LtpError(e.what());
  }
  return t;
}

void checkValue(std::uint32_t tag, ByteView v) {
  PropType t = tagType(tag);
  // composed only for an error
  const auto what = [tag] { return "property " + hex(tag); };
  if (!isKnownType(t)) throw LtpError::field(what(), "type", "a known property type", hex(tag & 0xFFFF));
  if (t == PropType::Object) throw LtpError::field(what(), "type", "a value type (objects are set with setObject)", "PtypObject");
  if (auto f = fixedSize(t)) {
    if (v.size() != *f) throw LtpError::field(what(), "size", std::to_string(*f) + " bytes", std::to_string(v.size()) + " bytes");
    return;
  }
  auto raw = static_cast<std::uint16_t>(t);
  if (t == PropType::String && v.size() % 2)
    throw LtpError::field(what(), "size", "an even byte count (UTF-16)", std::to_string(v.size()));
  if (raw & 0x1000) {
    auto elem = fixedSize(static_cast<PropType>(raw & 0x0FFF));
    if (elem) {
      if (v.size() % *elem) throw LtpError::field(what(), "size", "a multiple of " + std::to_string(*elem), std::to_string(v.size()));
      return;
    }
    if (v.empty()) return;
    if (v.size() < 4) throw LtpError::field(what(), "size", ">= 4 bytes (count)", std::to_string(v.size()));
    std::uint64_t count = core::loadU32(v.data());
    if (4 + 4 * count > v.size())
      throw LtpError::field(what(), "ulCount", "<= " + std::to_string((v.size() - 4) / 4), std::to_string(count));
    std::uint64_t prev = 4 + 4 * count;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint32_t o = core::loadU32(v.data() + 4 + 4 * i);
      if (o < prev || o > v.size())
        throw LtpError::field(what(), "rgulDataOffsets[" + std::to_string(i) + "]", "ascending within the value", std::to_string(o));
      prev = o;
    }
  }
}

std::uint8_t columnWidth(PropType t) {
  auto f = fixedSize(t);
  if (f && *f <= 8) return static_cast<std::uint8_t>(*f);
  return 4;
}

}  // namespace parvane::ltp
