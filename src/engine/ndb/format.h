// On-disk structures of the node database of a Unicode personal folders file,
// with the format's own field names. Each structure has its encoder and decoder
// side by side; decoders read field by field from a bounded cursor.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/core/coding.h"
#include "engine/ndb/ids.h"

namespace parvane::ndb {

using core::ByteView;
using core::Bytes;

// ---- sizes and places -------------------------------------------------------
inline constexpr std::size_t kHeaderSize = 564;
inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kPageTrailerSize = 16;
inline constexpr std::size_t kPageDataSize = kPageSize - kPageTrailerSize;  // 496, CRC'd
inline constexpr std::size_t kBtEntriesSize = 488;                           // rgentries
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kMaxBlockSize = 8192;  // data + padding + trailer
inline constexpr std::size_t kMaxBlockData = kMaxBlockSize - kBlockTrailerSize;  // 8176
inline constexpr std::size_t kAllocUnit = 64;
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kFirstAMapOffset = 0x4400;
inline constexpr std::size_t kUnitsPerAMap = kPageDataSize * 8;                  // 3968
inline constexpr std::uint64_t kAMapSpan = kUnitsPerAMap * kAllocUnit;           // 253,952
inline constexpr std::size_t kPMapEvery = 8;          // a PMap after every 8th AMap
inline constexpr std::size_t kFMapFirst = 128;        // first AMap index with an FMap
inline constexpr std::size_t kFMapEvery = 496;
inline constexpr std::size_t kFPMapFirst = 128 * 64;  // first AMap index with an FPMap
inline constexpr std::size_t kFPMapEvery = 496 * 64;

// Internal blocks
inline constexpr std::size_t kXBlockMaxEntries = (kMaxBlockData - 8) / 8;    // 1021
inline constexpr std::size_t kSlBlockMaxEntries = (kMaxBlockData - 8) / 24;  // 340
inline constexpr std::size_t kSiBlockMaxEntries = (kMaxBlockData - 8) / 16;  // 510
inline constexpr std::uint64_t kMaxNodeDataSize =
    std::uint64_t{kXBlockMaxEntries} * kXBlockMaxEntries * kMaxBlockData;

// ---- enumerations -------------------------------------------------------------
enum class PageType : std::uint8_t {
  BBT = 0x80, NBT = 0x81, FMap = 0x82, PMap = 0x83, AMap = 0x84, FPMap = 0x85, DList = 0x86,
};

enum class CryptMethod : std::uint8_t { None = 0, Permute = 1, Cyclic = 2 };

enum class AMapValidity : std::uint8_t { Invalid = 0, Valid1 = 1, Valid2 = 2 };

// ---- checksums ------------------------------------------------------------------
// CRC-32 as the format uses it: reflected polynomial 0xEDB88320, zero seed, no final xor.
std::uint32_t computeCrc(ByteView data, std::uint32_t crc = 0);
// wSig of page and block trailers.
constexpr std::uint16_t computeSig(std::uint64_t ib, std::uint64_t bid) {
  std::uint64_t x = (ib ^ bid) & 0xFFFFFFFFu;
  return static_cast<std::uint16_t>((x >> 16) ^ x);
}

// ---- HEADER with ROOT ------------------------------------------------------------
struct BREF {
  Bid bid = 0;
  std::uint64_t ib = 0;
};
static_assert(sizeof(std::uint64_t) * 2 == 16, "BREF is 16 bytes in a Unicode file");

struct ROOT {
  std::uint64_t ibFileEof = 0;
  std::uint64_t ibAMapLast = 0;
  std::uint64_t cbAMapFree = 0;
  std::uint64_t cbPMapFree = 0;
  BREF BREFNBT;
  BREF BREFBBT;
  AMapValidity fAMapValid = AMapValidity::Valid2;
};
inline constexpr std::size_t kRootOffset = 180;
inline constexpr std::size_t kRootSize = 72;

struct HEADER {
  std::uint16_t wVer = 23;
  std::uint16_t wVerClient = 19;
  Bid bidNextP = 0;
  std::uint32_t dwUnique = 0;
  std::array<std::uint32_t, 32> rgnid{};
  ROOT root;
  CryptMethod bCryptMethod = CryptMethod::Permute;
  Bid bidNextB = 0;
};

// Encodes the 564 bytes with both CRCs filled in.
std::array<std::uint8_t, kHeaderSize> encodeHeader(const HEADER& h);
// Decodes and verifies magic, version and both CRCs; throws NdbError.
HEADER decodeHeader(ByteView data);

// ---- pages -----------------------------------------------------------------------
struct PAGETRAILER {
  PageType ptype = PageType::BBT;
  std::uint16_t wSig = 0;
  std::uint32_t dwCRC = 0;
  Bid bid = 0;
};

// Fills the trailer of a 512-byte page (ptype, ptypeRepeat, wSig, dwCRC, bid).
// B-tree pages and the DList sign with ComputeSig; map pages use wSig 0 and bid = ib.
void sealPage(std::span<std::uint8_t, kPageSize> page, PageType type, Bid bid, std::uint64_t ib);
// Verifies a page read from `ib` against the expected type; returns its trailer.
PAGETRAILER checkPage(ByteView page, PageType expected, std::uint64_t ib);

// B-tree entries (Unicode sizes).
struct BTENTRY {  // index levels of both trees
  std::uint64_t btkey = 0;
  BREF bref;  // BREF
};
struct NBTENTRY {  // leaves of the node B-tree
  Nid nid = 0;
  Bid bidData = 0;
  Bid bidSub = 0;
  Nid nidParent = 0;
};
struct BBTENTRY {  // leaves of the block B-tree
  BREF bref;  // BREF
  std::uint16_t cb = 0;
  std::uint16_t cRef = 0;
};
inline constexpr std::size_t kBtEntrySize = 24;
inline constexpr std::size_t kNbtEntrySize = 32;
inline constexpr std::size_t kBbtEntrySize = 24;
inline constexpr std::size_t kBtEntriesPerPage = kBtEntriesSize / kBtEntrySize;    // 20
inline constexpr std::size_t kNbtEntriesPerPage = kBtEntriesSize / kNbtEntrySize;  // 15
inline constexpr std::size_t kBbtEntriesPerPage = kBtEntriesSize / kBbtEntrySize;  // 20
static_assert(kBtEntriesPerPage == 20 && kNbtEntriesPerPage == 15 && kBbtEntriesPerPage == 20);

// A decoded BTPAGE: exactly one of the three entry vectors is filled.
struct BTPAGE {
  std::uint8_t cLevel = 0;
  std::vector<BTENTRY> index;
  std::vector<NBTENTRY> nodes;
  std::vector<BBTENTRY> blocks;
};
// Builds a sealed B-tree page. `type` is NBT or BBT; cLevel > 0 means `index` entries.
void encodeBtPage(std::span<std::uint8_t, kPageSize> page, PageType type, const BTPAGE& content,
                  Bid bid, std::uint64_t ib);
BTPAGE decodeBtPage(ByteView page, PageType type, Bid bid, std::uint64_t ib);

// ---- blocks ------------------------------------------------------------------------
struct BLOCKTRAILER {
  std::uint16_t cb = 0;
  std::uint16_t wSig = 0;
  std::uint32_t dwCRC = 0;
  Bid bid = 0;
};
static_assert(kBlockTrailerSize == 2 + 2 + 4 + 8);

// Bytes a block of `cb` data bytes occupies on disk (64-byte multiple).
constexpr std::size_t blockDiskSize(std::size_t cb) {
  return (cb + kBlockTrailerSize + kAllocUnit - 1) / kAllocUnit * kAllocUnit;
}
// Lays out a block: the stored bytes (already encoded), zero padding and trailer.
// `out` must be blockDiskSize(stored.size()) bytes.
void encodeBlock(std::span<std::uint8_t> out, ByteView stored, Bid bid, std::uint64_t ib);
// Same, for a block whose first `cb` bytes already hold the stored bytes.
void sealBlock(std::span<std::uint8_t> out, std::size_t cb, Bid bid, std::uint64_t ib);
// Checks the trailer of a block read from disk and returns its stored bytes.
ByteView checkBlock(ByteView disk, std::uint16_t cb, Bid bid, std::uint64_t ib);

// XBLOCK (cLevel 1) and XXBLOCK (cLevel 2): btype 0x01.
struct XBLOCK {
  std::uint8_t cLevel = 1;
  std::uint32_t lcbTotal = 0;
  std::vector<Bid> rgbid;
};
Bytes encodeXBlock(const XBLOCK& x);
XBLOCK decodeXBlock(ByteView data);

// SLBLOCK (cLevel 0) and SIBLOCK (cLevel 1): btype 0x02.
struct SLENTRY {
  Nid nid = 0;
  Bid bidData = 0;
  Bid bidSub = 0;
};
struct SIENTRY {
  Nid nid = 0;
  Bid bid = 0;
};
struct SUBNODEBLOCK {
  std::uint8_t cLevel = 0;
  std::vector<SLENTRY> leaves;   // cLevel 0
  std::vector<SIENTRY> index;    // cLevel 1
};
Bytes encodeSubnodeBlock(const SUBNODEBLOCK& s);
// An SLBLOCK of `leaves` into `out` (its former content replaced), for
// writers that keep one buffer for many blocks.
void encodeSlBlock(std::span<const SLENTRY> leaves, Bytes& out);
SUBNODEBLOCK decodeSubnodeBlock(ByteView data);

// ---- allocation map pages and the density list --------------------------------------
// The pages that follow AMap number `index` in its span (PMap, FMap, FPMap), in order.
std::vector<PageType> mapPagesAfterAMap(std::size_t index);
inline constexpr std::uint64_t amapOffset(std::size_t index) {
  return kFirstAMapOffset + index * kAMapSpan;
}
// How many AMap spans a file of at most `bytes` bytes holds: a file with n
// spans ends at amapOffset(n).
inline constexpr std::size_t spansWithin(std::uint64_t bytes) {
  return bytes < kFirstAMapOffset ? 0 : static_cast<std::size_t>((bytes - kFirstAMapOffset) / kAMapSpan);
}
// The bytes that spans [first, end), added empty, are sure to take in blocks
// and pages: blockRoomOf() of each, the span less its map pages.
std::uint64_t freshSpanRoom(std::size_t first, std::size_t end);

// ---- data encoding ------------------------------------------------------------------
// Encodes / decodes data block bytes in place (permutation or cyclic method).
void encodeData(CryptMethod m, std::span<std::uint8_t> data, Bid bid);
// encodeData() of `from` written to `to` (of the same size), in one pass.
void encodeDataInto(CryptMethod m, std::span<const std::uint8_t> from, std::uint8_t* to, Bid bid);
void decodeData(CryptMethod m, std::span<std::uint8_t> data, Bid bid);

}  // namespace parvane::ndb
