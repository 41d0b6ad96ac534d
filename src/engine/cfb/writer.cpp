#include "engine/cfb/writer.h"

#include <algorithm>
#include <stdexcept>

#include "engine/cfb/compound_file.h"
#include "engine/cfb/format.h"

namespace parvane::cfb {

Writer::Writer(std::uint16_t majorVersion) : major_(majorVersion), sectorSize_(majorVersion == 4 ? 4096 : 512) {
  if (majorVersion != 3 && majorVersion != 4) throw std::invalid_argument("compound file version must be 3 or 4");
  Node root;
  root.name = u"Root Entry";
  root.storage = true;
  nodes_.push_back(std::move(root));
}

std::uint32_t Writer::add(std::uint32_t parent, std::u16string name, bool storage, core::Bytes data) {
  if (parent >= nodes_.size() || !nodes_[parent].storage) throw std::invalid_argument("parent is not a storage");
  if (name.empty() || name.size() > 31) throw std::invalid_argument("entry names are 1 to 31 characters");
  for (auto c : nodes_[parent].children) {
    if (sameName(nodes_[c].name, name)) throw std::invalid_argument("duplicate entry name");
  }
  Node n;
  n.name = std::move(name);
  n.storage = storage;
  n.data = std::move(data);
  nodes_.push_back(std::move(n));
  const auto id = static_cast<std::uint32_t>(nodes_.size() - 1);
  nodes_[parent].children.push_back(id);
  return id;
}

std::uint32_t Writer::addStorage(std::uint32_t parent, std::u16string name) {
  return add(parent, std::move(name), true, {});
}

std::uint32_t Writer::addStream(std::uint32_t parent, std::u16string name, core::Bytes data) {
  return add(parent, std::move(name), false, std::move(data));
}

void Writer::setClsid(std::uint32_t node, const std::array<std::uint8_t, 16>& clsid) { nodes_.at(node).clsid = clsid; }
void Writer::setStateBits(std::uint32_t node, std::uint32_t bits) { nodes_.at(node).stateBits = bits; }

namespace {

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

}  // namespace

core::Bytes Writer::finish() const {
  const std::uint32_t ss = sectorSize_;
  const std::uint32_t perFat = ss / 4;

  // Sibling trees: each storage's children form a balanced binary search tree
  // in compound-file name order, every node black.
  std::vector<StructuredStorageDirectoryEntry> dir(nodes_.size());
  for (auto& d : dir) {
    d = StructuredStorageDirectoryEntry{};
    d.sidLeftSib = d.sidRightSib = d.sidChild = NOSTREAM;
  }
  auto build = [&](auto&& self, std::vector<std::uint32_t>& sorted, std::size_t lo, std::size_t hi) -> std::uint32_t {
    if (lo >= hi) return NOSTREAM;
    const std::size_t mid = lo + (hi - lo) / 2;
    const auto id = sorted[mid];
    dir[id].sidLeftSib = self(self, sorted, lo, mid);
    dir[id].sidRightSib = self(self, sorted, mid + 1, hi);
    return id;
  };
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    auto kids = nodes_[i].children;
    std::sort(kids.begin(), kids.end(),
              [&](auto a, auto b) { return compareNames(nodes_[a].name, nodes_[b].name) < 0; });
    dir[i].sidChild = build(build, kids, 0, kids.size());
  }

  // Mini stream: streams under the cutoff, each in whole 64-byte mini sectors.
  core::Bytes mini;
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> bigStreams;
  for (std::size_t i = 1; i < nodes_.size(); ++i) {
    const Node& n = nodes_[i];
    if (n.storage) continue;
    if (n.data.size() >= kMiniStreamCutoff) {
      bigStreams.push_back(static_cast<std::uint32_t>(i));
      continue;
    }
    if (n.data.empty()) {
      dir[i].sectStart = ENDOFCHAIN;
      continue;
    }
    const auto first = static_cast<std::uint32_t>(miniFat.size());
    const auto count = static_cast<std::uint32_t>(ceilDiv(n.data.size(), 64));
    for (std::uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 == count ? ENDOFCHAIN : first + k + 1);
    mini.insert(mini.end(), n.data.begin(), n.data.end());
    mini.resize(static_cast<std::size_t>(first + count) * 64, 0);
    dir[i].sectStart = first;
  }

  const std::uint64_t dirSectors = ceilDiv(nodes_.size() * kDirEntrySize, ss);
  const std::uint64_t miniFatSectors = ceilDiv(miniFat.size() * 4, ss);
  const std::uint64_t miniSectors = ceilDiv(mini.size(), ss);
  std::uint64_t dataSectors = 0;
  for (auto i : bigStreams) dataSectors += ceilDiv(nodes_[i].data.size(), ss);
  const std::uint64_t content = dirSectors + miniFatSectors + miniSectors + dataSectors;
  std::uint64_t fatSectors = 0, difSectors = 0;
  while (true) {
    difSectors = fatSectors > kHeaderDifatCount ? ceilDiv(fatSectors - kHeaderDifatCount, perFat - 1) : 0;
    if ((fatSectors * perFat) >= content + fatSectors + difSectors) break;
    ++fatSectors;
  }
  const std::uint64_t total = fatSectors + difSectors + content;

  std::vector<std::uint32_t> fat(static_cast<std::size_t>(fatSectors * perFat), FREESECT);
  std::uint32_t next = 0;
  auto chain = [&](std::uint64_t count) -> std::uint32_t {
    if (count == 0) return ENDOFCHAIN;
    const std::uint32_t first = next;
    for (std::uint64_t k = 0; k < count; ++k, ++next) fat[next] = k + 1 == count ? ENDOFCHAIN : next + 1;
    return first;
  };
  std::vector<std::uint32_t> fatIds, difIds;
  for (std::uint64_t k = 0; k < fatSectors; ++k) { fatIds.push_back(next); fat[next++] = FATSECT; }
  for (std::uint64_t k = 0; k < difSectors; ++k) { difIds.push_back(next); fat[next++] = DIFSECT; }
  const std::uint32_t dirStart = chain(dirSectors);
  const std::uint32_t miniFatStart = chain(miniFatSectors);
  const std::uint32_t miniStart = chain(miniSectors);
  for (auto i : bigStreams) dir[i].sectStart = chain(ceilDiv(nodes_[i].data.size(), ss));

  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    const Node& n = nodes_[i];
    auto& d = dir[i];
    for (std::size_t k = 0; k < n.name.size(); ++k) d.ab[k] = n.name[k];
    d.cb = static_cast<std::uint16_t>((n.name.size() + 1) * 2);
    d.mse = static_cast<std::uint8_t>(i == 0 ? EntryType::Root : n.storage ? EntryType::Storage : EntryType::Stream);
    d.bflags = 1;  // black
    std::copy(n.clsid.begin(), n.clsid.end(), d.clsid);
    d.dwUserFlags = n.stateBits;
    const std::uint64_t size = i == 0 ? mini.size() : n.data.size();
    if (i == 0) d.sectStart = mini.empty() ? ENDOFCHAIN : miniStart;
    else if (n.storage) d.sectStart = 0;
    d.ulSizeLow = static_cast<std::uint32_t>(size);
    d.ulSizeHigh = static_cast<std::uint32_t>(size >> 32);
  }

  StructuredStorageHeader h{};
  std::copy(kSignature.begin(), kSignature.end(), h.abSig);
  h.uMinorVersion = 0x3E;
  h.uDllVersion = major_;
  h.uByteOrder = kByteOrderMark;
  h.uSectorShift = major_ == 4 ? 12 : 9;
  h.uMiniSectorShift = 6;
  h.csectDir = major_ == 4 ? static_cast<std::uint32_t>(dirSectors) : 0;
  h.csectFat = static_cast<std::uint32_t>(fatSectors);
  h.sectDirStart = dirStart;
  h.ulMiniSectorCutoff = kMiniStreamCutoff;
  h.sectMiniFatStart = miniFatStart;
  h.csectMiniFat = static_cast<std::uint32_t>(miniFatSectors);
  h.sectDifStart = difIds.empty() ? ENDOFCHAIN : difIds.front();
  h.csectDif = static_cast<std::uint32_t>(difSectors);
  for (std::size_t k = 0; k < kHeaderDifatCount; ++k) h.sectFat[k] = k < fatIds.size() ? fatIds[k] : FREESECT;

  core::Bytes out;
  out.reserve(static_cast<std::size_t>((total + 1) * ss));
  core::ByteWriter w(out);
  encodeHeader(w, h);
  w.zeros(ss - kHeaderSize);
  for (auto v : fat) w.u32(v);
  // DIFAT sectors: FAT sector numbers beyond the header's 109, then the link.
  for (std::uint64_t k = 0; k < difSectors; ++k) {
    for (std::uint32_t e = 0; e < perFat - 1; ++e) {
      const std::size_t idx = kHeaderDifatCount + k * (perFat - 1) + e;
      w.u32(idx < fatIds.size() ? fatIds[idx] : FREESECT);
    }
    w.u32(k + 1 < difSectors ? difIds[k + 1] : ENDOFCHAIN);
  }
  for (const auto& d : dir) encodeDirEntry(w, d);
  for (std::size_t k = nodes_.size(); k < dirSectors * ss / kDirEntrySize; ++k) {
    StructuredStorageDirectoryEntry empty{};
    empty.sidLeftSib = empty.sidRightSib = empty.sidChild = NOSTREAM;
    encodeDirEntry(w, empty);
  }
  for (auto v : miniFat) w.u32(v);
  w.zeros(static_cast<std::size_t>(miniFatSectors * ss - miniFat.size() * 4));
  w.bytes(mini);
  w.zeros(static_cast<std::size_t>(miniSectors * ss - mini.size()));
  for (auto i : bigStreams) {
    const auto& data = nodes_[i].data;
    w.bytes(data);
    w.zeros(static_cast<std::size_t>(ceilDiv(data.size(), ss) * ss - data.size()));
  }
  return out;
}

}  // namespace parvane::cfb
