#include "engine/ltp/bth.h"

#include <algorithm>
#include <set>

#include "engine/core/text.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

namespace {
void putKey(Bytes& out, std::uint64_t key, std::uint8_t cbKey) {
  for (std::uint8_t i = 0; i < cbKey; ++i) out.push_back(i < 8 ? static_cast<std::uint8_t>(key >> (8 * i)) : std::uint8_t{0});
}
std::uint64_t getKey(const std::uint8_t* p, std::uint8_t cbKey) {
  std::uint64_t k = 0;
  for (std::uint8_t i = 0; i < cbKey && i < 8; ++i) k |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return k;
}
}  // namespace

Hid buildBth(HeapBuilder& heap, std::uint8_t cbKey, std::uint8_t cbEnt, const std::vector<BthRecord>& records,
             Hid headerSlot, std::vector<Hid>* leaves) {
  Bytes packed;
  packed.reserve(records.size() * (std::size_t{cbKey} + cbEnt));
  for (const BthRecord& r : records) {
    if (r.data.size() != cbEnt)
      throw LtpError::field("BTH record", "size", std::to_string(cbEnt), std::to_string(r.data.size()));
    putKey(packed, r.key, cbKey);
    packed.insert(packed.end(), r.data.begin(), r.data.end());
  }
  return buildBthPacked(heap, cbKey, cbEnt, packed, headerSlot, leaves);
}

Hid buildBthPacked(HeapBuilder& heap, std::uint8_t cbKey, std::uint8_t cbEnt, ByteView records, Hid headerSlot,
             std::vector<Hid>* leaves) {
  if (cbKey != 2 && cbKey != 4 && cbKey != 8)
    throw LtpError::field("BTHHEADER", "cbKey", "2, 4 or 8", std::to_string(cbKey));
  const std::size_t rec = std::size_t{cbKey} + cbEnt;
  if (records.size() % rec)
    throw LtpError::field("BTH records", "size", "a multiple of " + std::to_string(rec), std::to_string(records.size()));
  const std::size_t count = records.size() / rec;
  // each key read once, at its width
  const auto keyAt = [&](std::size_t i) -> std::uint64_t {
    const std::uint8_t* p = records.data() + i * rec;
    return cbKey == 2 ? core::loadU16(p) : cbKey == 4 ? core::loadU32(p) : core::loadU64(p);
  };
  std::uint64_t prev = count ? keyAt(0) : 0;
  for (std::size_t i = 1; i < count; ++i) {
    const std::uint64_t key = keyAt(i);
    if (key <= prev) throw LtpError::field("BTH record", "key", "strictly ascending", hex(key) + " after " + hex(prev));
    prev = key;
  }
  Hid hidHeader = headerSlot ? headerSlot : heap.allocate(kBthHeaderSize);
  if (heap.at(hidHeader).size() != kBthHeaderSize)
    throw LtpError::field("BTHHEADER slot " + hex(hidHeader), "size", "8 bytes", std::to_string(heap.at(hidHeader).size()));
  std::uint8_t levels = 0;
  Hid root = 0;
  const std::size_t perLeaf = bthRecordsPerLeaf(cbKey, cbEnt);
  if (count && count <= perLeaf) {
    // one leaf, the root: the common case of a node's properties or a small table
    root = heap.allocate(records);
    if (leaves) leaves->push_back(root);
  } else if (count) {
    struct Child {
      std::uint64_t key;
      Hid hid;
    };
    std::vector<Child> level;
    level.reserve((count + perLeaf - 1) / perLeaf);
    for (std::size_t i = 0; i < count; i += perLeaf) {
      const std::size_t n = std::min(perLeaf, count - i);
      level.push_back(Child{getKey(records.data() + i * rec, cbKey), heap.allocate(records.subspan(i * rec, n * rec))});
      if (leaves) leaves->push_back(level.back().hid);
    }
    std::size_t perIndex = kMaxHeapAlloc / (cbKey + 4u);
    while (level.size() > 1) {
      std::vector<Child> up;
      for (std::size_t i = 0; i < level.size(); i += perIndex) {
        Bytes node;
        node.reserve(std::min(perIndex, level.size() - i) * (cbKey + 4u));
        for (std::size_t j = i; j < level.size() && j < i + perIndex; ++j) {
          putKey(node, level[j].key, cbKey);
          core::ByteWriter(node).u32(level[j].hid);
        }
        up.push_back(Child{level[i].key, heap.allocate(node)});
      }
      level = std::move(up);
      ++levels;
    }
    root = level[0].hid;
  }
  auto dst = heap.at(hidHeader);
  dst[0] = static_cast<std::uint8_t>(ClientSig::BTH);
  dst[1] = cbKey;
  dst[2] = cbEnt;
  dst[3] = levels;
  core::storeU32(dst.data() + 4, root);
  return hidHeader;
}

namespace {
void readNode(const HeapReader& heap, Hid hid, int level, const BTHHEADER& h, std::vector<BthRecord>& out,
              std::set<Hid>& seen) {
  if (!seen.insert(hid).second)
    throw LtpError::field("BTH node " + hex(hid), "HID", "a node referenced once", "a node referenced again");
  ByteView d = heap.get(hid);
  std::size_t rec = h.cbKey + (level == 0 ? h.cbEnt : 4u);
  if (d.empty() || d.size() % rec)
    throw LtpError::field("BTH node " + hex(hid), "size", "a non-empty multiple of " + std::to_string(rec),
                          std::to_string(d.size()));
  for (std::size_t i = 0; i < d.size(); i += rec) {
    std::uint64_t key = getKey(d.data() + i, h.cbKey);
    if (!out.empty() && level == 0 && key <= out.back().key)
      throw LtpError::field("BTH node " + hex(hid), "key", "ascending", hex(key));
    if (level == 0) {
      out.push_back(BthRecord{key, Bytes(d.begin() + static_cast<std::ptrdiff_t>(i + h.cbKey),
                                         d.begin() + static_cast<std::ptrdiff_t>(i + rec))});
    } else {
      readNode(heap, core::loadU32(d.data() + i + h.cbKey), level - 1, h, out, seen);
    }
  }
}
}  // namespace

std::vector<BthRecord> readBth(const HeapReader& heap, Hid hidHeader, std::uint8_t cbKey, std::uint8_t cbEnt) {
  BTHHEADER h = decodeBthHeader(heap.get(hidHeader));
  if (cbKey && h.cbKey != cbKey) throw LtpError::field("BTHHEADER", "cbKey", std::to_string(cbKey), std::to_string(h.cbKey));
  if (cbEnt && h.cbEnt != cbEnt) throw LtpError::field("BTHHEADER", "cbEnt", std::to_string(cbEnt), std::to_string(h.cbEnt));
  std::vector<BthRecord> out;
  if (h.hidRoot == 0) return out;
  std::set<Hid> seen;
  readNode(heap, h.hidRoot, h.bIdxLevels, h, out, seen);
  return out;
}

}  // namespace parvane::ltp
