#include "engine/ndb/format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "engine/ndb/errors.h"
#include "engine/ndb/x86_accel.h"

namespace parvane::ndb {

using core::ByteReader;
using core::loadU16;
using core::loadU32;
using core::loadU64;
using core::storeU16;
using core::storeU32;
using core::storeU64;

std::uint32_t computeCrc(ByteView data, std::uint32_t crc) {
  data = data.subspan(accel::crcFold(data.data(), data.size(), crc));
  // zlib's CRC-32 pre- and post-inverts; the format's CRC does neither.
  uLong z = crc ^ 0xFFFFFFFFu;
  while (!data.empty()) {
    auto n = static_cast<uInt>(std::min<std::size_t>(data.size(), 1u << 30));
    z = ::crc32(z, data.data(), n);
    data = data.subspan(n);
  }
  return static_cast<std::uint32_t>(z) ^ 0xFFFFFFFFu;
}

// ---- HEADER ----------------------------------------------------------------------------

namespace {
constexpr std::size_t kCrcPartialFrom = 8, kCrcPartialLen = 471;
constexpr std::size_t kCrcFullLen = 516;

void storeBref(std::uint8_t* p, const BREF& b) {
  storeU64(p, b.bid);
  storeU64(p + 8, b.ib);
}
BREF loadBref(const std::uint8_t* p) { return BREF{loadU64(p), loadU64(p + 8)}; }
}  // namespace

std::array<std::uint8_t, kHeaderSize> encodeHeader(const HEADER& h) {
  std::array<std::uint8_t, kHeaderSize> b{};
  std::uint8_t* p = b.data();
  std::memcpy(p, "!BDN", 4);
  storeU16(p + 8, 0x4D53);  // wMagicClient "SM"
  storeU16(p + 10, h.wVer);
  storeU16(p + 12, h.wVerClient);
  p[14] = 1;  // bPlatformCreate
  p[15] = 1;  // bPlatformAccess
  storeU64(p + 32, h.bidNextP);
  storeU32(p + 40, h.dwUnique);
  for (std::size_t i = 0; i < 32; ++i) storeU32(p + 44 + 4 * i, h.rgnid[i]);
  std::uint8_t* r = p + kRootOffset;
  storeU64(r + 4, h.root.ibFileEof);
  storeU64(r + 12, h.root.ibAMapLast);
  storeU64(r + 20, h.root.cbAMapFree);
  storeU64(r + 28, h.root.cbPMapFree);
  storeBref(r + 36, h.root.BREFNBT);
  storeBref(r + 52, h.root.BREFBBT);
  r[68] = static_cast<std::uint8_t>(h.root.fAMapValid);
  std::memset(p + 256, 0xFF, 256);  // rgbFM, rgbFP
  p[512] = 0x80;                    // bSentinel
  p[513] = static_cast<std::uint8_t>(h.bCryptMethod);
  storeU64(p + 516, h.bidNextB);
  storeU32(p + 4, computeCrc(ByteView(p + kCrcPartialFrom, kCrcPartialLen)));
  storeU32(p + 524, computeCrc(ByteView(p + kCrcPartialFrom, kCrcFullLen)));
  return b;
}

HEADER decodeHeader(ByteView data) {
  if (data.size() < kHeaderSize)
    throw NdbError::field("HEADER", "size", std::to_string(kHeaderSize) + " bytes",
                          std::to_string(data.size()) + " bytes");
  const std::uint8_t* p = data.data();
  if (std::memcmp(p, "!BDN", 4) != 0) throw NdbError::field("HEADER", "dwMagic", "!BDN", "other bytes");
  if (loadU16(p + 8) != 0x4D53)
    throw NdbError::field("HEADER", "wMagicClient", "0x4D53", hex(loadU16(p + 8)));
  HEADER h;
  h.wVer = loadU16(p + 10);
  if (h.wVer < 23 || h.wVer == 36)
    throw NdbError::field("HEADER", "wVer", "23 (Unicode)", std::to_string(h.wVer));
  std::uint32_t partial = computeCrc(ByteView(p + kCrcPartialFrom, kCrcPartialLen));
  if (loadU32(p + 4) != partial) throw NdbError::field("HEADER", "dwCRCPartial", hex(partial), hex(loadU32(p + 4)));
  std::uint32_t full = computeCrc(ByteView(p + kCrcPartialFrom, kCrcFullLen));
  if (loadU32(p + 524) != full) throw NdbError::field("HEADER", "dwCRCFull", hex(full), hex(loadU32(p + 524)));
  h.wVerClient = loadU16(p + 12);
  h.bidNextP = loadU64(p + 32);
  h.dwUnique = loadU32(p + 40);
  for (std::size_t i = 0; i < 32; ++i) h.rgnid[i] = loadU32(p + 44 + 4 * i);
  const std::uint8_t* r = p + kRootOffset;
  h.root.ibFileEof = loadU64(r + 4);
  h.root.ibAMapLast = loadU64(r + 12);
  h.root.cbAMapFree = loadU64(r + 20);
  h.root.cbPMapFree = loadU64(r + 28);
  h.root.BREFNBT = loadBref(r + 36);
  h.root.BREFBBT = loadBref(r + 52);
  h.root.fAMapValid = static_cast<AMapValidity>(r[68]);
  if (p[513] > 2) throw NdbError::field("HEADER", "bCryptMethod", "0, 1 or 2", hex(p[513]));
  h.bCryptMethod = static_cast<CryptMethod>(p[513]);
  h.bidNextB = loadU64(p + 516);
  return h;
}

// ---- pages -------------------------------------------------------------------------------

void sealPage(std::span<std::uint8_t, kPageSize> page, PageType type, Bid bid, std::uint64_t ib) {
  std::uint8_t* t = page.data() + kPageDataSize;
  t[0] = static_cast<std::uint8_t>(type);
  t[1] = static_cast<std::uint8_t>(type);
  bool signs = type == PageType::BBT || type == PageType::NBT || type == PageType::DList;
  storeU16(t + 2, signs ? computeSig(ib, bid) : 0);
  storeU32(t + 4, computeCrc(ByteView(page.data(), kPageDataSize)));
  storeU64(t + 8, bid);
}

PAGETRAILER checkPage(ByteView page, PageType expected, std::uint64_t ib) {
  std::string where = "PAGETRAILER at " + hex(ib);
  if (page.size() != kPageSize)
    throw NdbError::field(where, "size", "512 bytes", std::to_string(page.size()) + " bytes");
  const std::uint8_t* t = page.data() + kPageDataSize;
  PAGETRAILER tr;
  tr.ptype = static_cast<PageType>(t[0]);
  tr.wSig = loadU16(t + 2);
  tr.dwCRC = loadU32(t + 4);
  tr.bid = loadU64(t + 8);
  if (t[0] != static_cast<std::uint8_t>(expected))
    throw NdbError::field(where, "ptype", hex(static_cast<std::uint8_t>(expected)), hex(t[0]));
  if (t[1] != t[0]) throw NdbError::field(where, "ptypeRepeat", hex(t[0]), hex(t[1]));
  std::uint32_t crc = computeCrc(page.first(kPageDataSize));
  if (crc != tr.dwCRC) throw NdbError::field(where, "dwCRC", hex(crc), hex(tr.dwCRC));
  bool signs = expected == PageType::BBT || expected == PageType::NBT || expected == PageType::DList;
  std::uint16_t sig = signs ? computeSig(ib, tr.bid) : 0;
  if (sig != tr.wSig) throw NdbError::field(where, "wSig", hex(sig), hex(tr.wSig));
  return tr;
}

void encodeBtPage(std::span<std::uint8_t, kPageSize> page, PageType type, const BTPAGE& c, Bid bid,
                  std::uint64_t ib) {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  std::uint8_t* p = page.data();
  std::size_t count = 0, cbEnt = 0;
  if (c.cLevel > 0) {
    count = c.index.size();
    cbEnt = kBtEntrySize;
    if (count > kBtEntriesPerPage) throw NdbError::field("BTPAGE", "cEnt", "<= 20", std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
      storeU64(p + i * cbEnt, c.index[i].btkey);
      storeBref(p + i * cbEnt + 8, c.index[i].bref);
    }
  } else if (type == PageType::NBT) {
    count = c.nodes.size();
    cbEnt = kNbtEntrySize;
    if (count > kNbtEntriesPerPage) throw NdbError::field("BTPAGE", "cEnt", "<= 15", std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t* e = p + i * cbEnt;
      storeU64(e, c.nodes[i].nid);
      storeU64(e + 8, c.nodes[i].bidData);
      storeU64(e + 16, c.nodes[i].bidSub);
      storeU32(e + 24, c.nodes[i].nidParent);
    }
  } else {
    count = c.blocks.size();
    cbEnt = kBbtEntrySize;
    if (count > kBbtEntriesPerPage) throw NdbError::field("BTPAGE", "cEnt", "<= 20", std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t* e = p + i * cbEnt;
      storeBref(e, c.blocks[i].bref);
      storeU16(e + 16, c.blocks[i].cb);
      storeU16(e + 18, c.blocks[i].cRef);
    }
  }
  p[488] = static_cast<std::uint8_t>(count);
  p[489] = static_cast<std::uint8_t>(kBtEntriesSize / cbEnt);
  p[490] = static_cast<std::uint8_t>(cbEnt);
  p[491] = c.cLevel;
  sealPage(page, type, bid, ib);
}

BTPAGE decodeBtPage(ByteView page, PageType type, Bid bid, std::uint64_t ib) {
  PAGETRAILER tr = checkPage(page, type, ib);
  std::string where = std::string(type == PageType::NBT ? "NBT" : "BBT") + " BTPAGE at " + hex(ib);
  if (tr.bid != bid) throw NdbError::field(where, "PAGETRAILER.bid", hex(bid), hex(tr.bid));
  const std::uint8_t* p = page.data();
  BTPAGE c;
  std::size_t cEnt = p[488], cbEnt = p[490];
  c.cLevel = p[491];
  std::size_t want = c.cLevel > 0 ? kBtEntrySize : (type == PageType::NBT ? kNbtEntrySize : kBbtEntrySize);
  if (cbEnt != want) throw NdbError::field(where, "cbEnt", std::to_string(want), std::to_string(cbEnt));
  if (cEnt * cbEnt > kBtEntriesSize)
    throw NdbError::field(where, "cEnt", "<= " + std::to_string(kBtEntriesSize / cbEnt), std::to_string(cEnt));
  for (std::size_t i = 0; i < cEnt; ++i) {
    const std::uint8_t* e = p + i * cbEnt;
    if (c.cLevel > 0) {
      c.index.push_back(BTENTRY{loadU64(e), loadBref(e + 8)});
    } else if (type == PageType::NBT) {
      c.nodes.push_back(NBTENTRY{static_cast<Nid>(loadU64(e)), loadU64(e + 8), loadU64(e + 16), loadU32(e + 24)});
    } else {
      c.blocks.push_back(BBTENTRY{loadBref(e), loadU16(e + 16), loadU16(e + 18)});
    }
  }
  return c;
}

// ---- blocks ------------------------------------------------------------------------------

void encodeBlock(std::span<std::uint8_t> out, ByteView stored, Bid bid, std::uint64_t ib) {
  if (stored.size() > kMaxBlockData)
    throw NdbError::field("BLOCKTRAILER", "cb", "<= 8176", std::to_string(stored.size()));
  if (!stored.empty()) std::memcpy(out.data(), stored.data(), stored.size());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(stored.size()), out.end() - kBlockTrailerSize,
            std::uint8_t{0});
  std::uint8_t* t = out.data() + out.size() - kBlockTrailerSize;
  storeU16(t, static_cast<std::uint16_t>(stored.size()));
  storeU16(t + 2, computeSig(ib, bid));
  storeU32(t + 4, computeCrc(stored));
  storeU64(t + 8, bid);
}

void sealBlock(std::span<std::uint8_t> out, std::size_t cb, Bid bid, std::uint64_t ib) {
  if (cb > kMaxBlockData) throw NdbError::field("BLOCKTRAILER", "cb", "<= 8176", std::to_string(cb));
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(cb), out.end() - kBlockTrailerSize, std::uint8_t{0});
  std::uint8_t* t = out.data() + out.size() - kBlockTrailerSize;
  storeU16(t, static_cast<std::uint16_t>(cb));
  storeU16(t + 2, computeSig(ib, bid));
  storeU32(t + 4, computeCrc(ByteView(out.data(), cb)));
  storeU64(t + 8, bid);
}

ByteView checkBlock(ByteView disk, std::uint16_t cb, Bid bid, std::uint64_t ib) {
  std::string where = "BLOCKTRAILER of block " + hex(bid) + " at " + hex(ib);
  if (disk.size() != blockDiskSize(cb) || cb > kMaxBlockData)
    throw NdbError::field(where, "size", std::to_string(blockDiskSize(cb)) + " bytes",
                          std::to_string(disk.size()) + " bytes");
  const std::uint8_t* t = disk.data() + disk.size() - kBlockTrailerSize;
  if (loadU16(t) != cb) throw NdbError::field(where, "cb", std::to_string(cb), std::to_string(loadU16(t)));
  if (loadU64(t + 8) != bid) throw NdbError::field(where, "bid", hex(bid), hex(loadU64(t + 8)));
  if (loadU16(t + 2) != computeSig(ib, bid))
    throw NdbError::field(where, "wSig", hex(computeSig(ib, bid)), hex(loadU16(t + 2)));
  ByteView stored = disk.first(cb);
  std::uint32_t crc = computeCrc(stored);
  if (loadU32(t + 4) != crc) throw NdbError::field(where, "dwCRC", hex(crc), hex(loadU32(t + 4)));
  return stored;
}

Bytes encodeXBlock(const XBLOCK& x) {
  if (x.rgbid.empty() || x.rgbid.size() > kXBlockMaxEntries)
    throw NdbError::field("XBLOCK", "cEnt", "1..1021", std::to_string(x.rgbid.size()));
  Bytes out;
  core::ByteWriter w(out);
  w.u8(0x01);
  w.u8(x.cLevel);
  w.u16(static_cast<std::uint16_t>(x.rgbid.size()));
  w.u32(x.lcbTotal);
  for (Bid b : x.rgbid) w.u64(b);
  return out;
}

XBLOCK decodeXBlock(ByteView data) {
  ByteReader r(data, "XBLOCK");
  XBLOCK x;
  std::uint8_t btype = r.u8();
  x.cLevel = r.u8();
  if (btype != 0x01) throw NdbError::field("XBLOCK", "btype", "0x01", hex(btype));
  if (x.cLevel != 1 && x.cLevel != 2) throw NdbError::field("XBLOCK", "cLevel", "1 or 2", std::to_string(x.cLevel));
  std::uint16_t cEnt = r.u16();
  x.lcbTotal = r.u32();
  if (cEnt == 0 || std::size_t{cEnt} * 8 > r.remaining())
    throw NdbError::field("XBLOCK", "cEnt", "1.." + std::to_string(r.remaining() / 8), std::to_string(cEnt));
  x.rgbid.reserve(cEnt);
  for (std::size_t i = 0; i < cEnt; ++i) x.rgbid.push_back(r.u64());
  return x;
}

void encodeSlBlock(std::span<const SLENTRY> leaves, Bytes& out) {
  const std::size_t n = leaves.size();
  if (n == 0 || n > kSlBlockMaxEntries)
    throw NdbError::field("SLBLOCK", "cEnt", "1.." + std::to_string(kSlBlockMaxEntries), std::to_string(n));
  out.resize(8 + 24 * n);
  std::uint8_t* p = out.data();
  p[0] = 0x02;
  p[1] = 0;
  core::storeU16(p + 2, static_cast<std::uint16_t>(n));
  core::storeU32(p + 4, 0);  // dwPadding
  p += 8;
  for (const auto& e : leaves) {
    core::storeU64(p, e.nid);
    core::storeU64(p + 8, e.bidData);
    core::storeU64(p + 16, e.bidSub);
    p += 24;
  }
}

Bytes encodeSubnodeBlock(const SUBNODEBLOCK& s) {
  std::size_t n = s.cLevel == 0 ? s.leaves.size() : s.index.size();
  std::size_t max = s.cLevel == 0 ? kSlBlockMaxEntries : kSiBlockMaxEntries;
  if (n == 0 || n > max)
    throw NdbError::field(s.cLevel == 0 ? "SLBLOCK" : "SIBLOCK", "cEnt", "1.." + std::to_string(max), std::to_string(n));
  Bytes out;
  core::ByteWriter w(out);
  w.u8(0x02);
  w.u8(s.cLevel);
  w.u16(static_cast<std::uint16_t>(n));
  w.u32(0);  // dwPadding
  if (s.cLevel == 0) {
    for (const auto& e : s.leaves) {
      w.u64(e.nid);
      w.u64(e.bidData);
      w.u64(e.bidSub);
    }
  } else {
    for (const auto& e : s.index) {
      w.u64(e.nid);
      w.u64(e.bid);
    }
  }
  return out;
}

SUBNODEBLOCK decodeSubnodeBlock(ByteView data) {
  ByteReader r(data, "SLBLOCK");
  SUBNODEBLOCK s;
  std::uint8_t btype = r.u8();
  s.cLevel = r.u8();
  const char* name = s.cLevel == 0 ? "SLBLOCK" : "SIBLOCK";
  if (btype != 0x02) throw NdbError::field(name, "btype", "0x02", hex(btype));
  if (s.cLevel > 1) throw NdbError::field("SLBLOCK", "cLevel", "0 or 1", std::to_string(s.cLevel));
  std::uint16_t cEnt = r.u16();
  r.skip(4);
  std::size_t esz = s.cLevel == 0 ? 24 : 16;
  if (cEnt == 0 || cEnt * esz > r.remaining())
    throw NdbError::field(name, "cEnt", "1.." + std::to_string(r.remaining() / esz), std::to_string(cEnt));
  for (std::size_t i = 0; i < cEnt; ++i) {
    // Only the low 32 bits of the 8-byte NID fields are significant.
    Nid nid = r.u32();
    r.skip(4);
    if (s.cLevel == 0) {
      Bid d = r.u64();
      Bid sub = r.u64();
      s.leaves.push_back(SLENTRY{nid, d, sub});
    } else {
      s.index.push_back(SIENTRY{nid, r.u64()});
    }
  }
  return s;
}

std::vector<PageType> mapPagesAfterAMap(std::size_t index) {
  std::vector<PageType> out;
  if (index % kPMapEvery == 0) out.push_back(PageType::PMap);
  if (index >= kFMapFirst && (index - kFMapFirst) % kFMapEvery == 0) out.push_back(PageType::FMap);
  if (index >= kFPMapFirst && (index - kFPMapFirst) % kFPMapEvery == 0) out.push_back(PageType::FPMap);
  return out;
}

namespace {
// How many spans k of [first, end) have k >= from and (k - from) % every == 0.
std::uint64_t countEvery(std::size_t first, std::size_t end, std::size_t from, std::size_t every) {
  const auto upTo = [&](std::size_t n) -> std::uint64_t { return n <= from ? 0 : (n - from + every - 1) / every; };
  return end <= first ? 0 : upTo(end) - upTo(first);
}
}  // namespace

std::uint64_t freshSpanRoom(std::size_t first, std::size_t end) {
  if (end <= first) return 0;
  constexpr std::uint64_t kPageUnits = kPageSize / kAllocUnit, kWaste = kMaxBlockSize / kAllocUnit - 1;
  const std::uint64_t spans = end - first;
  const std::uint64_t mapPages = spans + countEvery(first, end, 0, kPMapEvery) +
                                 countEvery(first, end, kFMapFirst, kFMapEvery) +
                                 countEvery(first, end, kFPMapFirst, kFPMapEvery);
  return (spans * (kUnitsPerAMap - kWaste) - mapPages * kPageUnits) * kAllocUnit;
}

}  // namespace parvane::ndb
