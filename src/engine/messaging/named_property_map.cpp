#include "engine/messaging/named_property_map.h"

#include <algorithm>

#include <zlib.h>

#include "engine/messaging/errors.h"
#include "engine/messaging/store_template.h"

namespace parvane::messaging {
namespace {

constexpr GuidBytes kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr GuidBytes kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

core::Bytes utf16(const std::u16string& s) {
  core::Bytes out(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) core::storeU16(out.data() + 2 * i, s[i]);
  return out;
}

}  // namespace

std::uint32_t storeCrc(core::ByteView data) {
  uLong crc = 0xFFFFFFFFUL;
  std::size_t done = 0;
  while (done < data.size()) {
    auto n = static_cast<uInt>(std::min<std::size_t>(data.size() - done, 1u << 30));
    crc = crc32(crc, data.data() + done, n);
    done += n;
  }
  return static_cast<std::uint32_t>(crc ^ 0xFFFFFFFFUL);
}

NamedPropertyMap NamedPropertyMap::outlookDefault() {
  NamedPropertyMap map;
  auto guids = store_template::nameGuids();
  for (const auto& e : store_template::namedEntries()) {
    PropertyName n;
    if (e.guidIndex == 1) n.guid = kPsMapi;
    else if (e.guidIndex == 2) n.guid = kPsPublicStrings;
    else n.guid = guids[e.guidIndex - 3u];
    n.isString = e.name != nullptr;
    if (n.isString) n.name = e.name;
    else n.number = e.number;
    map.idFor(n);
  }
  return map;
}

std::uint16_t NamedPropertyMap::guidIndex(const GuidBytes& guid) {
  if (guid == kPsMapi) return 1;
  if (guid == kPsPublicStrings) return 2;
  auto it = std::find(guids_.begin(), guids_.end(), guid);
  if (it == guids_.end()) {
    guids_.push_back(guid);
    it = guids_.end() - 1;
  }
  return static_cast<std::uint16_t>(3 + (it - guids_.begin()));
}

std::uint16_t NamedPropertyMap::idFor(const PropertyName& name) {
  auto found = byName_.find(name);
  if (found != byName_.end()) return found->second;
  if (entries_.size() >= 0x7FFE)
    throw StoreError("name-to-id map", "entry count", "below 32766", std::to_string(entries_.size()));
  auto index = static_cast<std::uint16_t>(entries_.size());
  Entry e{};
  e.index = index;
  std::uint16_t gi = guidIndex(name.guid);
  if (name.isString) {
    auto bytes = utf16(name.name);
    e.idOrOffset = static_cast<std::uint32_t>(strings_.size());
    e.wGuid = static_cast<std::uint16_t>((gi << 1) | 1);
    e.hash = storeCrc(bytes);
    core::ByteWriter w(strings_);
    w.u32(static_cast<std::uint32_t>(bytes.size()));
    w.bytes(bytes);
    while (strings_.size() % 4) w.u8(0);
  } else {
    e.idOrOffset = name.number;
    e.wGuid = static_cast<std::uint16_t>(gi << 1);
    e.hash = name.number;
  }
  encoded_.push_back(e);
  entries_.push_back(name);
  auto id = static_cast<std::uint16_t>(0x8000 + index);
  byName_.emplace(name, id);
  return id;
}

PropertyList NamedPropertyMap::toProperties() const {
  PropertyList list;
  list.set(PropertyValue::int32(0x0001, kBucketCount));
  core::Bytes guidStream;
  for (const auto& g : guids_) guidStream.insert(guidStream.end(), g.begin(), g.end());
  list.set(PropertyValue::binary(0x0002, std::move(guidStream)));
  core::Bytes entryStream;
  core::ByteWriter ew(entryStream);
  std::vector<core::Bytes> buckets(kBucketCount);
  for (const auto& e : encoded_) {
    ew.u32(e.idOrOffset);
    ew.u16(e.wGuid);
    ew.u16(e.index);
    std::uint32_t bucket = (e.hash ^ e.wGuid) % kBucketCount;
    core::ByteWriter bw(buckets[bucket]);
    bw.u32(e.hash);
    bw.u16(e.wGuid);
    bw.u16(e.index);
  }
  list.set(PropertyValue::binary(0x0003, std::move(entryStream)));
  list.set(PropertyValue::binary(0x0004, strings_));
  for (std::uint32_t b = 0; b < kBucketCount; ++b) {
    if (!buckets[b].empty()) list.set(PropertyValue::binary(static_cast<std::uint16_t>(0x1000 + b), std::move(buckets[b])));
  }
  list.sort();
  return list;
}

}  // namespace parvane::messaging
