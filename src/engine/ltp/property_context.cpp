#include "engine/ltp/property_context.h"

#include <algorithm>

#include "engine/core/text.h"
#include "engine/ltp/bth.h"
#include "engine/ltp/errors.h"
#include "engine/ndb/errors.h"

namespace parvane::ltp {

using core::hex;

PropertyContextBuilder::PropertyContextBuilder(ndb::NodeStore& store) : store_(&store), subnodes_(store) {}

PropertyContextBuilder PropertyContextBuilder::load(ndb::NodeStore& store, const ndb::NodeInfo& node) {
  PropertyContextBuilder b(store);
  PropertyContextReader r(store, node.bidData, node.bidSub);
  b.subnodes_.load(node.bidSub);
  for (const auto& p : r.properties()) {
    Entry e = b.stored(static_cast<std::uint16_t>(p.type), p.bytes);
    e.subnode = p.subnode;
    b.put(p.id, e);
  }
  for (const auto& s : b.subnodes_.entries())
    if (ndb::nidType(s.nid) == ndb::NidType::Ltp) b.nextValueIndex_ = std::max(b.nextValueIndex_, ndb::nidIndex(s.nid) + 1);
  return b;
}

Nid PropertyContextBuilder::newValueNid() {
  for (;;) {
    Nid nid = ndb::makeNid(ndb::NidType::Ltp, nextValueIndex_++);
    if (!subnodes_.contains(nid)) return nid;
  }
}

std::vector<std::pair<std::uint16_t, PropertyContextBuilder::Entry>>::iterator PropertyContextBuilder::lowerBound(
    std::uint16_t id) {
  // values mostly come in id order: each one goes at the end
  if (props_.empty() || props_.back().first < id) return props_.end();
  return std::lower_bound(props_.begin(), props_.end(), id,
                          [](const std::pair<std::uint16_t, Entry>& p, std::uint16_t key) { return p.first < key; });
}

PropertyContextBuilder::Entry PropertyContextBuilder::stored(std::uint16_t type, ByteView value) {
  Entry e;
  e.type = type;
  e.offset = static_cast<std::uint32_t>(values_.size());
  e.size = static_cast<std::uint32_t>(value.size());
  if (values_.empty()) values_.reserve(512);
  values_.insert(values_.end(), value.begin(), value.end());
  return e;
}

void PropertyContextBuilder::put(std::uint16_t id, Entry e) {
  if (props_.empty()) props_.reserve(64);
  auto it = lowerBound(id);
  if (it != props_.end() && it->first == id) {
    it->second = std::move(e);
  } else {
    props_.emplace(it, id, std::move(e));
  }
}

void PropertyContextBuilder::dropValue(std::uint16_t id) {
  auto it = lowerBound(id);
  if (it == props_.end() || it->first != id) return;
  if (it->second.subnode && ndb::nidType(it->second.subnode) == ndb::NidType::Ltp) subnodes_.remove(it->second.subnode);
  props_.erase(it);
}

void PropertyContextBuilder::set(std::uint32_t tag, ByteView value) {
  validateValue(tag, value);
  std::uint16_t id = tagId(tag);
  if (props_.empty()) props_.reserve(64);
  // one search for the place, whether the id is new or replaced
  auto it = lowerBound(id);
  const bool replaced = it != props_.end() && it->first == id;
  if (replaced && it->second.subnode && ndb::nidType(it->second.subnode) == ndb::NidType::Ltp)
    subnodes_.remove(it->second.subnode);
  Entry e;
  e.type = static_cast<std::uint16_t>(tag & 0xFFFF);
  if (value.size() > subnodeThreshold_) {
    e.subnode = newValueNid();
    subnodes_.add(e.subnode, store_->writeData(value));
  } else {
    e = stored(e.type, value);
  }
  if (replaced) it->second = e;
  else props_.emplace(it, id, e);
}

void PropertyContextBuilder::setInt16(std::uint16_t id, std::int16_t v) {
  std::uint8_t b[2];
  core::storeU16(b, static_cast<std::uint16_t>(v));
  set(makeTag(id, PropType::Int16), b);
}
void PropertyContextBuilder::setInt32(std::uint16_t id, std::int32_t v) {
  std::uint8_t b[4];
  core::storeU32(b, static_cast<std::uint32_t>(v));
  set(makeTag(id, PropType::Int32), b);
}
void PropertyContextBuilder::setBool(std::uint16_t id, bool v) {
  std::uint8_t b[1] = {static_cast<std::uint8_t>(v ? 1 : 0)};
  set(makeTag(id, PropType::Boolean), b);
}
void PropertyContextBuilder::setInt64(std::uint16_t id, std::int64_t v) {
  std::uint8_t b[8];
  core::storeU64(b, static_cast<std::uint64_t>(v));
  set(makeTag(id, PropType::Int64), b);
}
void PropertyContextBuilder::setTime(std::uint16_t id, std::uint64_t filetime) {
  std::uint8_t b[8];
  core::storeU64(b, filetime);
  set(makeTag(id, PropType::Time), b);
}
void PropertyContextBuilder::setString(std::uint16_t id, std::u16string_view s) {
  Bytes b(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) core::storeU16(b.data() + 2 * i, s[i]);
  set(makeTag(id, PropType::String), b);
}
void PropertyContextBuilder::setBinary(std::uint16_t id, ByteView b) { set(makeTag(id, PropType::Binary), b); }

void PropertyContextBuilder::setStreamed(std::uint32_t tag, ndb::NodeData data) {
  PropType t = tagType(tag);
  if (!isKnownType(t) || fixedSize(t) || t == PropType::Object) {
    store_->release(data);
    throw LtpError::field("property " + hex(tag), "type", "a variable-size type", hex(tag & 0xFFFF));
  }
  if (data.bidSub) {
    store_->release(data);
    throw LtpError::field("property " + hex(tag), "value", "a plain data stream", "a stream with subnodes");
  }
  if (data.size <= subnodeThreshold_) {
    // small enough for the heap: keep it there, as for set()
    Bytes v;
    try {
      v = ndb::readData(*store_, data.bidData);
    } catch (...) {
      store_->release(data);
      throw;
    }
    store_->release(data);
    set(tag, v);
    return;
  }
  std::uint16_t id = tagId(tag);
  dropValue(id);
  Entry e;
  e.type = static_cast<std::uint16_t>(t);
  e.subnode = newValueNid();
  subnodes_.add(e.subnode, data);
  put(id, std::move(e));
}

void PropertyContextBuilder::setObject(std::uint16_t id, Nid nid, std::uint32_t size) {
  dropValue(id);
  std::uint8_t value[8];
  core::storeU32(value, nid);
  core::storeU32(value + 4, size);
  put(id, stored(static_cast<std::uint16_t>(PropType::Object), value));
}

void PropertyContextBuilder::setSubnodeThreshold(std::size_t bytes) {
  if (bytes > kMaxHeapAlloc)
    throw LtpError::field("PropertyContextBuilder", "subnode threshold", "<= 3580", std::to_string(bytes));
  subnodeThreshold_ = bytes;
}

bool PropertyContextBuilder::remove(std::uint16_t id) {
  if (!has(id)) return false;
  dropValue(id);
  return true;
}

bool PropertyContextBuilder::has(std::uint16_t id) const {
  auto it = std::lower_bound(props_.begin(), props_.end(), id,
                             [](const std::pair<std::uint16_t, Entry>& p, std::uint16_t key) { return p.first < key; });
  return it != props_.end() && it->first == id;
}

void PropertyContextBuilder::clear() {
  subnodes_.clear();
  props_.clear();
  values_.clear();
  nextValueIndex_ = 1;
}

HeapBuilder& PropertyContextBuilder::buildHeap(std::vector<Hid>* leaves) {
  HeapBuilder& heap = heap_;
  heap.clear();
  // the records as the BTH leaves hold them: wPropId, wPropType, dwValueHnid
  constexpr std::size_t kRec = kPcKeySize + kPcEntSize;
  Bytes& records = records_;
  records.assign(props_.size() * kRec, 0);
  std::uint8_t* out = records.data();
  for (const auto& [id, e] : props_) {
    core::storeU16(out, id);
    core::storeU16(out + 2, e.type);
    auto f = fixedSize(static_cast<PropType>(e.type));
    if (e.subnode) {
      core::storeU32(out + 4, e.subnode);
    } else if (f && *f <= 4) {
      std::uint32_t v = 0;
      for (std::size_t i = 0; i < e.size; ++i) v |= static_cast<std::uint32_t>(values_[e.offset + i]) << (8 * i);
      core::storeU32(out + 4, v);
    }
    out += kRec;
  }
  // header slot first (hidUserRoot 0x20, as Outlook writes it), then values, then BTH nodes
  Hid hdr = heap.allocate(kBthHeaderSize);
  // an empty value is HID 0, as Outlook stores an empty string
  out = records.data();
  for (const auto& [id, e] : props_) {
    auto f = fixedSize(static_cast<PropType>(e.type));
    if (!e.subnode && !(f && *f <= 4)) core::storeU32(out + 4, e.size == 0 ? 0 : heap.allocate(bytesOf(e)));
    out += kRec;
  }
  buildBthPacked(heap, kPcKeySize, kPcEntSize, records, hdr, leaves);
  heap.setUserRoot(hdr);
  return heap;
}

ndb::NodeData PropertyContextBuilder::finishSized(std::uint16_t id,
                                                  const std::function<std::uint32_t(std::uint64_t)>& valueOf) {
  auto it = lowerBound(id);
  if (it == props_.end() || it->first != id || it->second.subnode || fixedSize(static_cast<PropType>(it->second.type)) != 4u)
    throw LtpError::field("property " + hex(id), "type", "a 4-byte value set earlier", "none");
  std::vector<Hid>& leaves = leaves_;
  leaves.clear();
  HeapBuilder& heap = buildHeap(&leaves);
  const auto i = static_cast<std::size_t>(it - props_.begin());
  const std::size_t perLeaf = bthRecordsPerLeaf(kPcKeySize, kPcEntSize);
  auto record = heap.at(leaves[i / perLeaf]).subspan((i % perLeaf) * (kPcKeySize + kPcEntSize));
  core::storeU32(record.data() + kPcKeySize + 2, valueOf(heap.size()));  // after wPropId and wPropType
  return write(heap);
}

ndb::NodeData PropertyContextBuilder::finish() { return write(buildHeap()); }

ndb::NodeData PropertyContextBuilder::write(HeapBuilder& heap) {
  ndb::NodeData data = heap.write(*store_);
  Nid maxValue = 0;
  for (const auto& s : subnodes_.entries())
    if (ndb::nidType(s.nid) == ndb::NidType::Ltp) maxValue = std::max(maxValue, s.nid);
  if (maxValue && ndb::nidIndex(maxValue) > store_->nidCounter(ndb::NidType::Ltp))
    store_->setNidCounter(ndb::NidType::Ltp, ndb::nidIndex(maxValue));
  data.bidSub = subnodes_.write();
  props_.clear();
  values_.clear();
  nextValueIndex_ = 1;
  return data;
}

// ---- reader ------------------------------------------------------------------------------

PropertyContextReader::PropertyContextReader(const ndb::BlockSource& src, ndb::Bid bidData, ndb::Bid bidSub)
    : src_(src) {
  HeapReader heap(ndb::readDataBlocks(src, bidData));
  if (heap.clientSig() != ClientSig::PC)
    throw LtpError::field("HNHDR", "bClientSig", "0xBC (property context)", hex(static_cast<std::uint8_t>(heap.clientSig())));
  subnodes_ = ndb::readSubnodes(src, bidSub);
  for (const BthRecord& r : readBth(heap, heap.userRoot(), kPcKeySize, kPcEntSize)) {
    PropertyValue p;
    p.id = static_cast<std::uint16_t>(r.key);
    p.type = static_cast<PropType>(core::loadU16(r.data.data()));
    Hnid hnid = core::loadU32(r.data.data() + 2);
    auto f = fixedSize(p.type);
    if (f && *f <= 4) {
      for (std::size_t i = 0; i < *f; ++i) p.bytes.push_back(static_cast<std::uint8_t>(hnid >> (8 * i)));
    } else if (isHid(hnid)) {
      ByteView v = heap.get(hnid);
      p.bytes.assign(v.begin(), v.end());
    } else {
      p.subnode = hnid;
      bool found = false;
      for (const auto& s : subnodes_) found = found || s.nid == hnid;
      if (!found) throw LtpError::field("PC property " + hex(p.tag()), "dwValueHnid", "an existing subnode", hex(hnid));
    }
    props_.push_back(std::move(p));
  }
}

const PropertyValue* PropertyContextReader::find(std::uint16_t id) const {
  for (const auto& p : props_)
    if (p.id == id) return &p;
  return nullptr;
}

Bytes PropertyContextReader::value(const PropertyValue& p) const {
  if (!p.subnode) return p.bytes;
  for (const auto& s : subnodes_)
    if (s.nid == p.subnode) return ndb::readData(src_, s.bidData);
  throw LtpError::field("PC property " + hex(p.tag()), "dwValueHnid", "an existing subnode", hex(p.subnode));
}

}  // namespace parvane::ltp
