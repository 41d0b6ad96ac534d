#include "engine/messaging/property_value.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace parvane::messaging {

std::size_t ptype::storedSize(std::uint16_t type) {
  switch (type) {
    case 0x000B: return 1;
    case 0x0002: return 2;
    case 0x0003: case 0x0004: case 0x000A: return 4;
    case 0x0005: case 0x0006: case 0x0007: case 0x0014: case 0x0040: return 8;
    case 0x0048: return 16;
    default: return 0;
  }
}

ValueBytes::ValueBytes(core::Bytes bytes) : small_{} {
  if (bytes.size() <= kInline) {
    assign(bytes);
  } else {
    new (&big_) core::Bytes(std::move(bytes));
    large_ = true;
  }
}

void ValueBytes::resize(std::size_t size) {
  if (large_) {
    big_.resize(size);
  } else if (size <= kInline) {
    if (size > size_) std::memset(small_ + size_, 0, size - size_);
    size_ = static_cast<std::uint8_t>(size);
  } else {
    core::Bytes grown(size);
    std::memcpy(grown.data(), small_, size_);
    new (&big_) core::Bytes(std::move(grown));
    large_ = true;
  }
}

void ValueBytes::reserve(std::size_t size) {
  if (large_) {
    big_.reserve(size);
  } else if (size > kInline) {
    core::Bytes room;
    room.reserve(size);
    room.assign(small_, small_ + size_);
    new (&big_) core::Bytes(std::move(room));
    large_ = true;
  }
}

void ValueBytes::assign(core::ByteView bytes) {
  if (large_) {
    big_.assign(bytes.begin(), bytes.end());
  } else if (bytes.size() <= kInline) {
    if (!bytes.empty()) std::memmove(small_, bytes.data(), bytes.size());
    size_ = static_cast<std::uint8_t>(bytes.size());
  } else {
    new (&big_) core::Bytes(bytes.begin(), bytes.end());
    large_ = true;
  }
}

void ValueBytes::append(core::ByteView bytes) {
  if (bytes.empty()) return;
  std::size_t at = size();
  if (large_) {
    big_.insert(big_.end(), bytes.begin(), bytes.end());
    return;
  }
  resize(at + bytes.size());
  std::memcpy(data() + at, bytes.data(), bytes.size());
}

PropertyValue PropertyValue::int32(std::uint16_t id, std::uint32_t v) {
  PropertyValue p{makeTag(id, ptype::Int32), ValueBytes(std::size_t{4}), nullptr};
  core::storeU32(p.bytes.data(), v);
  return p;
}

PropertyValue PropertyValue::boolean(std::uint16_t id, bool v) {
  PropertyValue p{makeTag(id, ptype::Boolean), ValueBytes(std::size_t{1}), nullptr};
  p.bytes[0] = static_cast<std::uint8_t>(v ? 1 : 0);
  return p;
}

PropertyValue PropertyValue::time(std::uint16_t id, std::uint64_t fileTime) {
  PropertyValue p{makeTag(id, ptype::Time), ValueBytes(std::size_t{8}), nullptr};
  core::storeU64(p.bytes.data(), fileTime);
  return p;
}

PropertyValue PropertyValue::unicode(std::uint16_t id, std::u16string_view text) {
  PropertyValue p{makeTag(id, ptype::Unicode), ValueBytes(text.size() * 2), nullptr};
  for (std::size_t i = 0; i < text.size(); ++i) core::storeU16(p.bytes.data() + 2 * i, text[i]);
  return p;
}

PropertyValue PropertyValue::binary(std::uint16_t id, core::Bytes bytes) {
  return PropertyValue{makeTag(id, ptype::Binary), std::move(bytes), nullptr};
}

void PropertyList::set(PropertyValue value) {
  if (auto* v = find(value.id())) {
    *v = std::move(value);
    return;
  }
  sorted_ = sorted_ && (values_.empty() || values_.back().id() < value.id());
  values_.push_back(std::move(value));
}

bool PropertyList::add(PropertyValue&& value) {
  const bool above = values_.empty() || values_.back().id() < value.id();
  if (!(sorted_ && above) && find(value.id())) return false;
  sorted_ = sorted_ && above;
  values_.push_back(std::move(value));
  return true;
}

bool PropertyList::remove(std::uint16_t id) {
  auto it = std::find_if(values_.begin(), values_.end(), [&](const PropertyValue& v) { return v.id() == id; });
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

const PropertyValue* PropertyList::find(std::uint16_t id) const {
  // a short list is walked: cheaper than a search's unpredictable branches
  if (sorted_ && values_.size() > 24) {
    auto it = std::lower_bound(values_.begin(), values_.end(), id,
                               [](const PropertyValue& v, std::uint16_t key) { return v.id() < key; });
    return it != values_.end() && it->id() == id ? &*it : nullptr;
  }
  for (const auto& v : values_) {
    if (v.id() == id) return &v;
  }
  return nullptr;
}

PropertyValue* PropertyList::find(std::uint16_t id) {
  return const_cast<PropertyValue*>(std::as_const(*this).find(id));
}

std::optional<std::uint32_t> PropertyList::int32(std::uint16_t id) const {
  const auto* v = find(id);
  if (!v || v->type() != ptype::Int32 || v->bytes.size() != 4) return std::nullopt;
  return core::loadU32(v->bytes.data());
}

std::u16string PropertyList::text(std::uint16_t id) const {
  const auto* v = find(id);
  if (!v || v->type() != ptype::Unicode || v->source) return {};
  std::u16string out(v->bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(core::loadU16(v->bytes.data() + 2 * i));
  return out;
}

// The ids are sorted as small keys, then each value moved once to its place:
// moving a value costs far more than comparing two ids.
void PropertyList::renumberNamed(std::span<const std::uint16_t> ids) {
  bool renumbered = false;
  for (auto& v : values_) {
    if (v.id() < 0x8000) continue;
    const std::size_t local = v.id() - 0x8000u;
    if (local >= ids.size()) throw std::out_of_range("a named property without a store id");
    v.tag = makeTag(ids[local], v.type());
    renumbered = true;
  }
  if (renumbered) {
    sorted_ = std::is_sorted(values_.begin(), values_.end(),
                             [](const PropertyValue& a, const PropertyValue& b) { return a.id() < b.id(); });
  }
}

void PropertyList::sort() {
  const std::size_t n = values_.size();
  constexpr std::size_t kMaxKeys = 1024;
  const auto byId = [](const PropertyValue& a, const PropertyValue& b) { return a.id() < b.id(); };
  if (sorted_) return;
  sorted_ = true;
  if (std::is_sorted(values_.begin(), values_.end(), byId)) return;
  if (n > kMaxKeys) {
    std::sort(values_.begin(), values_.end(), byId);
    return;
  }
  // id << 16 | position; ids are distinct in a list
  std::uint32_t keys[kMaxKeys];
  for (std::size_t i = 0; i < n; ++i) keys[i] = (std::uint32_t{values_[i].id()} << 16) | static_cast<std::uint32_t>(i);
  std::sort(keys, keys + n);
  // keys[k] & 0xFFFF: the value that goes to place k; each cycle of the
  // permutation is walked once, a place marked done by its own index
  for (std::size_t i = 0; i < n; ++i) keys[i] &= 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    if (keys[i] == i) continue;
    PropertyValue held = std::move(values_[i]);
    std::size_t at = i;
    for (;;) {
      std::size_t from = keys[at];
      keys[at] = static_cast<std::uint32_t>(at);
      if (from == i) {
        values_[at] = std::move(held);
        break;
      }
      values_[at] = std::move(values_[from]);
      at = from;
    }
  }
}

std::uint64_t propertySizeSum(const PropertyList& list) {
  std::uint64_t total = 0;
  for (const auto& v : list.all()) {
    std::size_t fixed = ptype::storedSize(v.type());
    if (v.type() == ptype::Object) {
      // an object's value is the NID and size of what it holds
      total += v.bytes.size() >= 8 ? core::loadU32(v.bytes.data() + 4) : 0;
    } else if (fixed) {
      total += fixed;
    } else {
      total += v.size();
    }
  }
  return total;
}

std::uint64_t fileTimeNow() {
  using namespace std::chrono;
  auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
  return static_cast<std::uint64_t>(since1970) + 116444736000000000ULL;
}

}  // namespace parvane::messaging
