// On-disk structures of the lists, tables and properties layer: heap-on-node,
// BTH, property context and table context, with the format's field names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/core/coding.h"
#include "engine/ndb/format.h"
#include "engine/ndb/ids.h"

namespace parvane::ltp {

using core::ByteView;
using core::Bytes;
using ndb::Nid;

// A heap item: hidType (5 bits, 0) | hidIndex (11 bits, from 1) | hidBlockIndex (16 bits).
using Hid = std::uint32_t;
// A HID or, when its type bits are not 0, a subnode NID.
using Hnid = std::uint32_t;

constexpr Hid makeHid(std::uint16_t blockIndex, std::uint16_t index) {
  return (static_cast<std::uint32_t>(blockIndex) << 16) | (static_cast<std::uint32_t>(index) << 5);
}
constexpr std::uint16_t hidBlockIndex(Hid hid) { return static_cast<std::uint16_t>(hid >> 16); }
constexpr std::uint16_t hidIndex(Hid hid) { return static_cast<std::uint16_t>((hid >> 5) & 0x7FF); }
constexpr bool isHid(Hnid hnid) { return (hnid & 0x1F) == 0; }

// ---- heap-on-node ---------------------------------------------------------------------
inline constexpr std::uint8_t kHnSignature = 0xEC;
inline constexpr std::size_t kHnHdrSize = 12;        // HNHDR, first block
inline constexpr std::size_t kHnPageHdrSize = 2;     // HNPAGEHDR, other blocks
inline constexpr std::size_t kHnBitmapHdrSize = 66;  // HNBITMAPHDR, blocks 8, 136, 264...
inline constexpr std::size_t kMaxHeapAlloc = 3580;   // larger values live in subnodes
inline constexpr std::size_t kMaxHeapAllocsPerBlock = 0x7FF;
inline constexpr std::size_t kMaxHeapBlockSize = ndb::kMaxBlockData;

enum class ClientSig : std::uint8_t { TC = 0x7C, BTH = 0xB5, PC = 0xBC };

// Header size of heap block `i`.
constexpr std::size_t heapBlockHeaderSize(std::size_t i) {
  if (i == 0) return kHnHdrSize;
  if (i >= 8 && (i - 8) % 128 == 0) return kHnBitmapHdrSize;
  return kHnPageHdrSize;
}
// rgbFillLevel value for a block with `freeBytes` unused bytes.
std::uint8_t fillLevel(std::size_t freeBytes);

struct HNHDR {
  std::uint16_t ibHnpm = 0;
  std::uint8_t bSig = kHnSignature;
  ClientSig bClientSig = ClientSig::PC;
  Hid hidUserRoot = 0;
  std::uint32_t rgbFillLevel = 0;
};
static_assert(kHnHdrSize == 2 + 1 + 1 + 4 + 4);

struct HNPAGEMAP {
  std::uint16_t cAlloc = 0;
  std::uint16_t cFree = 0;
  std::vector<std::uint16_t> rgibAlloc;  // cAlloc + 1 offsets
};

// ---- BTH ---------------------------------------------------------------------------------
struct BTHHEADER {
  std::uint8_t bType = static_cast<std::uint8_t>(ClientSig::BTH);
  std::uint8_t cbKey = 0;
  std::uint8_t cbEnt = 0;
  std::uint8_t bIdxLevels = 0;
  Hid hidRoot = 0;
};
inline constexpr std::size_t kBthHeaderSize = 8;
Bytes encodeBthHeader(const BTHHEADER& h);
BTHHEADER decodeBthHeader(ByteView data);

// ---- property types -------------------------------------------------------------------------
enum class PropType : std::uint16_t {
  Int16 = 0x0002, Int32 = 0x0003, Float = 0x0004, Double = 0x0005, Currency = 0x0006,
  AppTime = 0x0007, ErrorCode = 0x000A, Boolean = 0x000B, Object = 0x000D, Int64 = 0x0014,
  String8 = 0x001E, String = 0x001F, Time = 0x0040, Guid = 0x0048, ServerId = 0x00FB,
  Restriction = 0x00FD, RuleAction = 0x00FE, Binary = 0x0102,
  MvInt16 = 0x1002, MvInt32 = 0x1003, MvFloat = 0x1004, MvDouble = 0x1005,
  MvCurrency = 0x1006, MvAppTime = 0x1007, MvInt64 = 0x1014, MvString8 = 0x101E,
  MvString = 0x101F, MvTime = 0x1040, MvGuid = 0x1048, MvBinary = 0x1102,
};
constexpr PropType tagType(std::uint32_t tag) { return static_cast<PropType>(tag & 0xFFFF); }
constexpr std::uint16_t tagId(std::uint32_t tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint32_t makeTag(std::uint16_t id, PropType type) {
  return (static_cast<std::uint32_t>(id) << 16) | static_cast<std::uint16_t>(type);
}
// Size of a fixed-size type, or nullopt for variable-size and multi-valued types.
// Both are asked for every value and cell written: inline.
constexpr std::optional<std::size_t> fixedSize(PropType t) {
  switch (t) {
    case PropType::Int16: return 2;
    case PropType::Int32: case PropType::Float: case PropType::ErrorCode: return 4;
    case PropType::Boolean: return 1;
    case PropType::Double: case PropType::Currency: case PropType::AppTime:
    case PropType::Int64: case PropType::Time: return 8;
    case PropType::Guid: return 16;
    default: return std::nullopt;
  }
}
constexpr bool isKnownType(PropType t) {
  switch (t) {
    case PropType::Int16: case PropType::Int32: case PropType::Float: case PropType::Double:
    case PropType::Currency: case PropType::AppTime: case PropType::ErrorCode: case PropType::Boolean:
    case PropType::Object: case PropType::Int64: case PropType::String8: case PropType::String:
    case PropType::Time: case PropType::Guid: case PropType::ServerId: case PropType::Restriction:
    case PropType::RuleAction: case PropType::Binary: case PropType::MvInt16: case PropType::MvInt32:
    case PropType::MvFloat: case PropType::MvDouble: case PropType::MvCurrency: case PropType::MvAppTime:
    case PropType::MvInt64: case PropType::MvString8: case PropType::MvString: case PropType::MvTime:
    case PropType::MvGuid: case PropType::MvBinary:
      return true;
  }
  return false;
}

// ---- property context ---------------------------------------------------------------------
// PC BTH record: key wPropId (2 bytes), data wPropType + dwValueHnid (6 bytes).
inline constexpr std::uint8_t kPcKeySize = 2;
inline constexpr std::uint8_t kPcEntSize = 6;

// ---- table context --------------------------------------------------------------------------
inline constexpr std::uint32_t kTagLtpRowId = 0x67F20003;
inline constexpr std::uint32_t kTagLtpRowVer = 0x67F30003;

struct TCOLDESC {
  std::uint32_t tag = 0;
  std::uint16_t ibData = 0;
  std::uint8_t cbData = 0;
  std::uint8_t iBit = 0;
  bool operator==(const TCOLDESC&) const = default;
};
inline constexpr std::size_t kTcolDescSize = 8;

enum TciIndex { TCI_4b = 0, TCI_2b = 1, TCI_1b = 2, TCI_bm = 3 };

struct TCINFO {
  std::uint8_t bType = static_cast<std::uint8_t>(ClientSig::TC);
  std::uint8_t cCols = 0;
  std::uint16_t rgib[4] = {0, 0, 0, 0};
  Hid hidRowIndex = 0;
  Hnid hnidRows = 0;
  Hid hidIndex = 0;
  std::vector<TCOLDESC> rgTCOLDESC;
};
inline constexpr std::size_t kTcInfoFixedSize = 22;
Bytes encodeTcInfo(const TCINFO& t);
// Into `out` of exactly kTcInfoFixedSize + kTcolDescSize * t.rgTCOLDESC.size() bytes.
void encodeTcInfo(const TCINFO& t, std::span<std::uint8_t> out);
TCINFO decodeTcInfo(ByteView data);

// TC row index BTH record: key dwRowID (4 bytes), data dwRowIndex (4 bytes).
inline constexpr std::uint8_t kRowIndexKeySize = 4;
inline constexpr std::uint8_t kRowIndexEntSize = 4;

// Checks that `value` is a well-formed stored value of the tag's type (fixed
// sizes exact, strings of whole UTF-16 units, multi-value layouts consistent).
// Throws LtpError naming the tag.
void checkValue(std::uint32_t tag, ByteView value);  // validateValue() past its common case
inline void validateValue(std::uint32_t tag, ByteView value) {
  // a fixed-size value of its size is well-formed: the check of every cell and value
  if (auto f = fixedSize(tagType(tag)); f && value.size() == *f) return;
  checkValue(tag, value);
}

// The cell width of a column of this type: its size for fixed types of 8 bytes
// or less, 4 (an HNID) otherwise.
std::uint8_t columnWidth(PropType t);

}  // namespace parvane::ltp
