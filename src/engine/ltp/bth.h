// BTH: a B-tree of fixed-size records inside a heap. Leaves hold (key, data)
// records, index levels (key, HID of child); each node is one heap allocation.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ltp/format.h"
#include "engine/ltp/heap.h"

namespace parvane::ltp {

struct BthRecord {
  std::uint64_t key = 0;  // little-endian key of cbKey bytes
  Bytes data;             // cbEnt bytes
};

// Writes a BTH into `heap` from records sorted by strictly ascending key and
// returns the HID of its BTHHEADER. The header goes into `headerSlot` when it is
// an 8-byte allocation made earlier, else into a new allocation. Throws LtpError
// on unsorted or ill-sized records.
// When `leaves` is given it receives the leaf nodes' HIDs: record i lies in
// leaves[i / bthRecordsPerLeaf(cbKey, cbEnt)], at (cbKey + cbEnt) times
// i % bthRecordsPerLeaf(cbKey, cbEnt), key first.
Hid buildBth(HeapBuilder& heap, std::uint8_t cbKey, std::uint8_t cbEnt,
             const std::vector<BthRecord>& records, Hid headerSlot = 0, std::vector<Hid>* leaves = nullptr);
// The same from records laid out as the leaves hold them: each cbKey bytes of
// little-endian key, then cbEnt bytes of data. Spares the caller a buffer per
// record.
Hid buildBthPacked(HeapBuilder& heap, std::uint8_t cbKey, std::uint8_t cbEnt, ByteView packedRecords, Hid headerSlot = 0,
                   std::vector<Hid>* leaves = nullptr);
inline constexpr std::size_t bthRecordsPerLeaf(std::uint8_t cbKey, std::uint8_t cbEnt) {
  return kMaxHeapAlloc / (cbKey + cbEnt);
}

// Reads all records of the BTH whose header is at `hidHeader`, in key order.
// Checks cbKey/cbEnt against the expected sizes when they are not 0.
std::vector<BthRecord> readBth(const HeapReader& heap, Hid hidHeader, std::uint8_t cbKey = 0,
                               std::uint8_t cbEnt = 0);

}  // namespace parvane::ltp
