#include "engine/cfb/format.h"

#include <algorithm>
#include <iterator>

namespace parvane::cfb {

StructuredStorageHeader decodeHeader(core::ByteReader& in) {
  StructuredStorageHeader h{};
  for (auto& b : h.abSig) b = in.u8();
  for (auto& b : h.clsid) b = in.u8();
  h.uMinorVersion = in.u16();
  h.uDllVersion = in.u16();
  h.uByteOrder = in.u16();
  h.uSectorShift = in.u16();
  h.uMiniSectorShift = in.u16();
  h.usReserved = in.u16();
  h.ulReserved1 = in.u32();
  h.csectDir = in.u32();
  h.csectFat = in.u32();
  h.sectDirStart = in.u32();
  h.signature = in.u32();
  h.ulMiniSectorCutoff = in.u32();
  h.sectMiniFatStart = in.u32();
  h.csectMiniFat = in.u32();
  h.sectDifStart = in.u32();
  h.csectDif = in.u32();
  // The DIFAT's first 109 entries: one bounds check for all of them.
  const std::uint8_t* p = in.view(sizeof h.sectFat).data();
  for (std::size_t i = 0; i < std::size(h.sectFat); ++i) h.sectFat[i] = core::loadU32(p + 4 * i);
  return h;
}

StructuredStorageDirectoryEntry decodeDirEntry(core::ByteReader& in) {
  // One bounds check for the whole entry, then fixed-offset little-endian loads.
  const core::ByteView raw = in.view(kDirEntrySize);
  const std::uint8_t* p = raw.data();
  StructuredStorageDirectoryEntry e{};
  for (std::size_t i = 0; i < std::size(e.ab); ++i) e.ab[i] = core::loadU16(p + 2 * i);
  e.cb = core::loadU16(p + 64);
  e.mse = p[66];
  e.bflags = p[67];
  e.sidLeftSib = core::loadU32(p + 68);
  e.sidRightSib = core::loadU32(p + 72);
  e.sidChild = core::loadU32(p + 76);
  std::copy_n(p + 80, std::size(e.clsid), e.clsid);
  e.dwUserFlags = core::loadU32(p + 96);
  for (std::size_t i = 0; i < std::size(e.time); ++i) e.time[i] = core::loadU32(p + 100 + 4 * i);
  e.sectStart = core::loadU32(p + 116);
  e.ulSizeLow = core::loadU32(p + 120);
  e.ulSizeHigh = core::loadU32(p + 124);
  return e;
}

void encodeHeader(core::ByteWriter& out, const StructuredStorageHeader& h) {
  for (auto b : h.abSig) out.u8(b);
  for (auto b : h.clsid) out.u8(b);
  out.u16(h.uMinorVersion);
  out.u16(h.uDllVersion);
  out.u16(h.uByteOrder);
  out.u16(h.uSectorShift);
  out.u16(h.uMiniSectorShift);
  out.u16(h.usReserved);
  out.u32(h.ulReserved1);
  out.u32(h.csectDir);
  out.u32(h.csectFat);
  out.u32(h.sectDirStart);
  out.u32(h.signature);
  out.u32(h.ulMiniSectorCutoff);
  out.u32(h.sectMiniFatStart);
  out.u32(h.csectMiniFat);
  out.u32(h.sectDifStart);
  out.u32(h.csectDif);
  for (auto s : h.sectFat) out.u32(s);
}

void encodeDirEntry(core::ByteWriter& out, const StructuredStorageDirectoryEntry& e) {
  for (auto c : e.ab) out.u16(c);
  out.u16(e.cb);
  out.u8(e.mse);
  out.u8(e.bflags);
  out.u32(e.sidLeftSib);
  out.u32(e.sidRightSib);
  out.u32(e.sidChild);
  for (auto b : e.clsid) out.u8(b);
  out.u32(e.dwUserFlags);
  for (auto t : e.time) out.u32(t);
  out.u32(e.sectStart);
  out.u32(e.ulSizeLow);
  out.u32(e.ulSizeHigh);
}

}  // namespace parvane::cfb
