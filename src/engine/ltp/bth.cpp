#include "engine/ltp/bth.h"

#include <algorithm>
#include <set>

#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using ndb::hex;

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
  if (cbKey != 2 && cbKey != 4 && cbKey != 8)
    throw LtpError::field("BTHHEADER", "cbKey", "2, 4 or 8", std::to_string(cbKey));
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].data.size() != cbEnt)
      throw LtpError::field("BTH record", "size", std::to_string(cbEnt), std::to_string(records[i].data.size()));
    if (i && records[i].key <= records[i - 1].key)
      throw LtpError::field("BTH record", "key", "strictly ascending", hex(records[i].key) + " after " + hex(records[i - 1].key));
  }
  Hid hidHeader = headerSlot ? headerSlot : heap.allocate(kBthHeaderSize);
  if (heap.at(hidHeader).size() != kBthHeaderSize)
    throw LtpError::field("BTHHEADER slot " + hex(hidHeader), "size", "8 bytes", std::to_string(heap.at(hidHeader).size()));
  BTHHEADER h;
  h.cbKey = cbKey;
  h.cbEnt = cbEnt;
  if (!records.empty()) {
    struct Child {
      std::uint64_t key;
      Hid hid;
    };
    std::vector<Child> level;
    const std::size_t perLeaf = bthRecordsPerLeaf(cbKey, cbEnt);
    for (std::size_t i = 0; i < records.size(); i += perLeaf) {
      Bytes node;
      node.reserve(std::min(perLeaf, records.size() - i) * (cbKey + cbEnt));
      for (std::size_t j = i; j < records.size() && j < i + perLeaf; ++j) {
        putKey(node, records[j].key, cbKey);
        node.insert(node.end(), records[j].data.begin(), records[j].data.end());
      }
      level.push_back(Child{records[i].key, heap.allocate(node)});
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
      ++h.bIdxLevels;
    }
    h.hidRoot = level[0].hid;
  }
  Bytes hb = encodeBthHeader(h);
  auto dst = heap.at(hidHeader);
  std::copy(hb.begin(), hb.end(), dst.begin());
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
