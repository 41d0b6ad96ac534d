#include "engine/ltp/heap.h"

#include <algorithm>
#include <cstring>

#include "engine/core/text.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

HeapBuilder::HeapBuilder(ClientSig clientSig) : clientSig_(clientSig) { addBlock(kHnHdrSize); }

// A block's storage is taken once, at its full size, so that allocations
// never move it while it fills.
void HeapBuilder::addBlock(std::size_t headerSize) {
  Block b;
  b.data.reserve(kMaxHeapBlockSize);
  b.data.resize(headerSize);
  b.starts.reserve(16);
  blocks_.push_back(std::move(b));
}

void HeapBuilder::clear() {
  blocks_.resize(1);
  blocks_[0].data.assign(kHnHdrSize, 0);
  blocks_[0].starts.clear();
  userRoot_ = 0;
}

HeapBuilder::Block& HeapBuilder::place(std::size_t size) {
  if (size > kMaxHeapAlloc)
    throw LtpError::field("heap allocation", "size", "<= 3580 bytes", std::to_string(size) + " bytes");
  auto fits = [&](const Block& b) {
    std::size_t end = b.data.size() + size;
    end += end & 1;  // the page map starts at an even offset
    return b.starts.size() < kMaxHeapAllocsPerBlock && end + pageMapSize(b.starts.size() + 1) <= kMaxHeapBlockSize;
  };
  if (!fits(blocks_.back())) {
    if (blocks_.size() >= 0xFFFF) throw LtpError::field("heap", "block count", "< 65535", "more");
    addBlock(heapBlockHeaderSize(blocks_.size()));
  }
  Block& b = blocks_.back();
  b.starts.push_back(static_cast<std::uint16_t>(b.data.size()));
  return b;
}

Hid HeapBuilder::allocate(std::size_t size) {
  Block& b = place(size);
  b.data.resize(b.data.size() + size);
  return makeHid(static_cast<std::uint16_t>(blocks_.size() - 1), static_cast<std::uint16_t>(b.starts.size()));
}

Hid HeapBuilder::allocate(ByteView bytes) {
  Block& b = place(bytes.size());
  b.data.insert(b.data.end(), bytes.begin(), bytes.end());
  return makeHid(static_cast<std::uint16_t>(blocks_.size() - 1), static_cast<std::uint16_t>(b.starts.size()));
}

std::span<std::uint8_t> HeapBuilder::at(Hid hid) {
  std::size_t bi = hidBlockIndex(hid), idx = hidIndex(hid);
  if (!isHid(hid) || bi >= blocks_.size() || idx == 0 || idx > blocks_[bi].starts.size())
    throw LtpError::field("HID", "value", "an allocation of this heap", hex(hid));
  Block& b = blocks_[bi];
  std::size_t start = b.starts[idx - 1];
  std::size_t end = idx < b.starts.size() ? b.starts[idx] : b.data.size();
  return std::span<std::uint8_t>(b.data.data() + start, end - start);
}

std::uint64_t HeapBuilder::size() const {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < blocks_.size(); ++i) total += blockBytes(i);
  return total;
}

std::size_t HeapBuilder::blockBytes(std::size_t i) const {
  const Block& b = blocks_[i];
  return b.data.size() + (b.data.size() & 1) + pageMapSize(b.starts.size());
}

void HeapBuilder::finishBlock(std::size_t i, Bytes& d) const {
  const Block& b = blocks_[i];
  // allocations, a pad byte to an even offset, then the HNPAGEMAP; sized once
  const std::size_t total = blockBytes(i);
  d.reserve(total);
  d.assign(b.data.begin(), b.data.end());
  d.resize(total);
  sealBlock(i, d.data(), b.data.size(), total);
}

void HeapBuilder::sealBlock(std::size_t i, std::uint8_t* d, std::size_t end, std::size_t total) const {
  const Block& b = blocks_[i];
  const std::size_t ibHnpm = end + (end & 1);
  std::uint8_t* map = d + ibHnpm;
  core::storeU16(map, static_cast<std::uint16_t>(b.starts.size()));  // cAlloc
  core::storeU16(map + 2, 0);                                        // cFree
  for (std::size_t k = 0; k < b.starts.size(); ++k) core::storeU16(map + 4 + 2 * k, b.starts[k]);
  core::storeU16(map + 4 + 2 * b.starts.size(), static_cast<std::uint16_t>(end));
  core::storeU16(d, static_cast<std::uint16_t>(ibHnpm));
  // block i's own size is `total`: its bytes may hold the map already
  auto level = [&](std::size_t j) -> std::uint8_t {
    return j < blocks_.size() ? fillLevel(kMaxHeapBlockSize - (j == i ? total : blockBytes(j))) : 0;
  };
  if (i == 0) {
    // HNHDR: signature, client, user root and the fill levels of blocks 0-7
    d[2] = kHnSignature;
    d[3] = static_cast<std::uint8_t>(clientSig_);
    core::storeU32(d + 4, userRoot_);
    for (std::size_t j = 0; j < 8; ++j)
      d[8 + j / 2] = static_cast<std::uint8_t>(d[8 + j / 2] | (level(j) << (4 * (j & 1))));
  } else if (i >= 8 && (i - 8) % 128 == 0) {
    // HNBITMAPHDR: fill levels of the 128 blocks from here
    for (std::size_t j = 0; j < 128; ++j)
      d[2 + j / 2] = static_cast<std::uint8_t>(d[2 + j / 2] | (level(i + j) << (4 * (j & 1))));
  }
}

std::vector<Bytes> HeapBuilder::build() const {
  std::vector<Bytes> out(blocks_.size());
  for (std::size_t i = 0; i < blocks_.size(); ++i) finishBlock(i, out[i]);
  return out;
}

ndb::NodeData HeapBuilder::write(ndb::NodeStore& store) {
  ndb::DataWriter w = store.newData();
  // each block finished in its own storage (taken at the full block size)
  // and passed on from there, then put back as it was: its header bytes
  // restored, the page map cut off
  std::uint8_t header[kHnBitmapHdrSize];
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    Bytes& data = blocks_[i].data;
    const std::size_t end = data.size(), total = blockBytes(i);
    const std::size_t headerSize = heapBlockHeaderSize(i);
    std::memcpy(header, data.data(), headerSize);
    data.resize(total);
    sealBlock(i, data.data(), end, total);
    try {
      w.appendBlock(data);
    } catch (...) {
      data.resize(end);
      std::memcpy(data.data(), header, headerSize);
      throw;
    }
    data.resize(end);
    std::memcpy(data.data(), header, headerSize);
  }
  return w.finish();
}

// ---- HeapReader ---------------------------------------------------------------------------

HeapReader::HeapReader(std::vector<Bytes> blocks) : blocks_(std::move(blocks)) {
  if (blocks_.empty()) throw LtpError::field("heap", "blocks", "at least one", "none (empty node)");
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    const Bytes& b = blocks_[i];
    std::string where = "HNPAGEMAP of heap block " + std::to_string(i);
    std::size_t hdr = heapBlockHeaderSize(i);
    if (b.size() < hdr + 4) throw LtpError::field(where, "size", ">= " + std::to_string(hdr + 4), std::to_string(b.size()));
    if (i == 0) {
      if (b[2] != kHnSignature) throw LtpError::field("HNHDR", "bSig", "0xEC", hex(b[2]));
      clientSig_ = static_cast<ClientSig>(b[3]);
      userRoot_ = core::loadU32(b.data() + 4);
    }
    std::size_t ib = core::loadU16(b.data());
    if (ib < hdr || ib + 4 > b.size()) throw LtpError::field(where, "ibHnpm", "inside the block", hex(ib));
    std::size_t cAlloc = core::loadU16(b.data() + ib);
    if (ib + 4 + 2 * (cAlloc + 1) > b.size())
      throw LtpError::field(where, "cAlloc", "<= " + std::to_string((b.size() - ib - 6) / 2), std::to_string(cAlloc));
    std::vector<std::uint16_t> offs(cAlloc + 1);
    for (std::size_t k = 0; k <= cAlloc; ++k) offs[k] = core::loadU16(b.data() + ib + 4 + 2 * k);
    if (offs[0] != hdr) throw LtpError::field(where, "rgibAlloc[0]", std::to_string(hdr), std::to_string(offs[0]));
    for (std::size_t k = 1; k <= cAlloc; ++k)
      if (offs[k] < offs[k - 1] || offs[k] > ib)
        throw LtpError::field(where, "rgibAlloc[" + std::to_string(k) + "]", "ascending and before the page map",
                              std::to_string(offs[k]));
    allocs_.push_back(std::move(offs));
  }
}

ByteView HeapReader::get(Hid hid) const {
  if (hid == 0) return {};
  std::size_t bi = hidBlockIndex(hid), idx = hidIndex(hid);
  if (!isHid(hid) || bi >= blocks_.size() || idx == 0 || idx >= allocs_[bi].size())
    throw LtpError::field("HID", "value", "an allocation of this heap", hex(hid));
  const auto& offs = allocs_[bi];
  return ByteView(blocks_[bi].data() + offs[idx - 1], offs[idx] - offs[idx - 1]);
}

}  // namespace parvane::ltp
