#include "engine/cfb/format.h"

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
  for (auto& s : h.sectFat) s = in.u32();
  return h;
}

StructuredStorageDirectoryEntry decodeDirEntry(core::ByteReader& in) {
  StructuredStorageDirectoryEntry e{};
  for (auto& c : e.ab) c = in.u16();
  e.cb = in.u16();
  e.mse = in.u8();
  e.bflags = in.u8();
  e.sidLeftSib = in.u32();
  e.sidRightSib = in.u32();
  e.sidChild = in.u32();
  for (auto& b : e.clsid) b = in.u8();
  e.dwUserFlags = in.u32();
  for (auto& t : e.time) t = in.u32();
  e.sectStart = in.u32();
  e.ulSizeLow = in.u32();
  e.ulSizeHigh = in.u32();
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
