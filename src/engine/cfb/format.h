// On-disk structures of compound files, with the format's own field names.
// They document layout and sizes; decoding goes field by field through a
// core::ByteReader (see header.cpp), never by casting these onto buffers.
#pragma once

#include <array>
#include <cstdint>

#include "engine/core/coding.h"

namespace parvane::cfb {

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Special sector numbers.
inline constexpr std::uint32_t MAXREGSECT = 0xFFFFFFFA;
inline constexpr std::uint32_t DIFSECT = 0xFFFFFFFC;
inline constexpr std::uint32_t FATSECT = 0xFFFFFFFD;
inline constexpr std::uint32_t ENDOFCHAIN = 0xFFFFFFFE;
inline constexpr std::uint32_t FREESECT = 0xFFFFFFFF;
// No directory entry.
inline constexpr std::uint32_t NOSTREAM = 0xFFFFFFFF;

inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kHeaderDifatCount = 109;
inline constexpr std::size_t kDirEntrySize = 128;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;

struct StructuredStorageHeader {
  std::uint8_t abSig[8];
  std::uint8_t clsid[16];
  std::uint16_t uMinorVersion;
  std::uint16_t uDllVersion;  // major version: 3 or 4
  std::uint16_t uByteOrder;
  std::uint16_t uSectorShift;
  std::uint16_t uMiniSectorShift;
  std::uint16_t usReserved;
  std::uint32_t ulReserved1;
  std::uint32_t csectDir;  // 0 in version 3
  std::uint32_t csectFat;
  std::uint32_t sectDirStart;
  std::uint32_t signature;  // transaction signature
  std::uint32_t ulMiniSectorCutoff;
  std::uint32_t sectMiniFatStart;
  std::uint32_t csectMiniFat;
  std::uint32_t sectDifStart;
  std::uint32_t csectDif;
  std::uint32_t sectFat[kHeaderDifatCount];
};
static_assert(sizeof(StructuredStorageHeader) == kHeaderSize);

struct StructuredStorageDirectoryEntry {
  std::uint16_t ab[32];  // name, UTF-16LE, NUL-terminated
  std::uint16_t cb;      // name length in bytes including the terminator
  std::uint8_t mse;      // object type (EntryType)
  std::uint8_t bflags;   // red-black colour
  std::uint32_t sidLeftSib;
  std::uint32_t sidRightSib;
  std::uint32_t sidChild;
  std::uint8_t clsid[16];
  std::uint32_t dwUserFlags;  // state bits
  std::uint32_t time[4];      // creation, modification FILETIMEs
  std::uint32_t sectStart;
  std::uint32_t ulSizeLow;
  std::uint32_t ulSizeHigh;
};
static_assert(sizeof(StructuredStorageDirectoryEntry) == kDirEntrySize);

// Decoders for the two structures above.
StructuredStorageHeader decodeHeader(core::ByteReader& in);
StructuredStorageDirectoryEntry decodeDirEntry(core::ByteReader& in);
// Encoders used by the writer.
void encodeHeader(core::ByteWriter& out, const StructuredStorageHeader& h);
void encodeDirEntry(core::ByteWriter& out, const StructuredStorageDirectoryEntry& e);

}  // namespace parvane::cfb
