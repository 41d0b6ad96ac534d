#include "import/message_translation.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "engine/messaging/errors.h"
#include "engine/messaging/node_values.h"

namespace parvane::importer {
namespace {

using namespace messaging;  // NOLINT(google-build-using-namespace): the store's vocabulary throughout


// A view of the first `size` bytes of another source (a string without its terminator).
class PrefixSource final : public core::ByteSource {
 public:
  PrefixSource(std::shared_ptr<const core::ByteSource> inner, std::uint64_t size)
      : inner_(std::move(inner)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    core::checkRange("string value", offset, out.size(), size_);
    inner_->readAt(offset, out);
  }

 private:
  std::shared_ptr<const core::ByteSource> inner_;
  std::uint64_t size_;
};

core::Bytes utf16(std::u16string_view s) {
  core::Bytes out(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) core::storeU16(out.data() + 2 * i, s[i]);
  return out;
}

core::Bytes multiVariable(const std::vector<core::Bytes>& items) {
  core::Bytes out;
  core::ByteWriter w(out);
  w.u32(static_cast<std::uint32_t>(items.size()));
  auto offset = static_cast<std::uint32_t>(4 + 4 * items.size());
  for (const auto& item : items) {
    w.u32(offset);
    offset += static_cast<std::uint32_t>(item.size());
  }
  for (const auto& item : items) w.bytes(item);
  return out;
}

PropertyName nameOf(const msg::PropertyName& n) {
  PropertyName out;
  out.guid = n.guid.bytes;
  out.isString = n.kind == msg::PropertyName::Kind::String;
  out.number = n.id;
  out.name = n.name;
  return out;
}

// The names of one message's named properties, each given a local id in the
// order it first came. Not a NamedPropertyMap: that one also builds the map
// node's streams as names come, work that every message read would pay for
// here and nothing would use (about 2 % of a run's processor time).
class LocalNames {
 public:
  std::uint16_t idFor(const msg::PropertyName& source) {
    PropertyName name = nameOf(source);
    if (const auto found = ids_.find(name); found != ids_.end()) return found->second;
    // the store's own bound: such a message cannot fit any store's map
    if (names_.size() >= 0x7FFE)
      throw StoreError("name-to-id map", "entry count", "below 32766", std::to_string(names_.size()));
    const auto id = static_cast<std::uint16_t>(0x8000 + names_.size());
    ids_.emplace(name, id);
    names_.push_back(std::move(name));
    return id;
  }
  std::vector<PropertyName> take() { return std::move(names_); }

 private:
  std::map<PropertyName, std::uint16_t> ids_;
  std::vector<PropertyName> names_;
};

// The store's form of one source property; nullopt when the store does not keep it.
std::optional<PropertyValue> convertValue(const msg::Property& p, LocalNames& names) {
  std::uint16_t id = p.id();
  if (id >= 0x8000) {
    if (!p.name()) return std::nullopt;
    id = names.idFor(*p.name());
  }
  std::uint16_t type = p.type();
  if (!msg::ptype::isKnown(type) || type == ptype::Object || type == 0x0000 || type == 0x0001) return std::nullopt;
  PropertyValue v;
  if (p.isFixed()) {
    std::size_t n = ptype::storedSize(type);
    if (n == 0 || n > 8) return std::nullopt;
    v.bytes.resize(n);
    std::uint64_t raw = p.raw();
    if (type == ptype::Boolean) raw = p.asBool() ? 1 : 0;
    for (std::size_t i = 0; i < n; ++i) v.bytes[i] = static_cast<std::uint8_t>(raw >> (8 * i));
    v.tag = makeTag(id, type);
    return v;
  }
  if (p.isMultiValued()) {
    std::uint16_t base = p.baseType();
    std::vector<core::Bytes> items;
    if (base == ptype::String8 || base == ptype::Unicode) {
      for (std::size_t i = 0; i < p.count(); ++i)
        items.push_back(utf16(p.itemText(i)));
      v.bytes = multiVariable(items);
      v.tag = makeTag(id, ptype::Unicode | ptype::MultiValued);
    } else if (msg::ptype::fixedSize(base) != 0) {
      for (std::size_t i = 0; i < p.count(); ++i) {
        v.bytes.append(p.item(i));
      }
      v.tag = makeTag(id, type);
    } else {
      for (std::size_t i = 0; i < p.count(); ++i) {
        auto item = p.item(i);
        items.emplace_back(item.begin(), item.end());
      }
      v.bytes = multiVariable(items);
      v.tag = makeTag(id, type);
    }
    return v;
  }
  if (type == ptype::Unicode && p.inMemory()) {
    // already UTF-16LE: the bytes as they are, without a partial last unit
    // and without trailing terminators
    auto b = p.bytes();
    std::size_t n = b.size() & ~std::size_t{1};
    while (n >= 2 && b[n - 2] == 0 && b[n - 1] == 0) n -= 2;
    if (id == tags::Subject) v.bytes.reserve(n + 4);  // room for the marker finish() puts before it
    v.bytes.assign(b.first(n));
    v.tag = makeTag(id, ptype::Unicode);
    return v;
  }
  if (type == ptype::String8) {
    v.bytes = utf16(p.text());
    v.tag = makeTag(id, ptype::Unicode);
    return v;
  }
  v.tag = makeTag(id, type);
  if (type == ptype::Unicode) {
    // a big string stays in the file; drop its terminator if it has one
    auto src = std::shared_ptr<const core::ByteSource>(p.open());
    std::uint64_t size = src->size() & ~std::uint64_t{1};
    if (size >= 2) {
      auto tail = src->read(size - 2, 2);
      if (tail[0] == 0 && tail[1] == 0) size -= 2;
    }
    v.source = std::make_shared<PrefixSource>(std::move(src), size);
    return v;
  }
  if (p.inMemory()) {
    v.bytes.assign(p.bytes());
  } else {
    v.source = std::shared_ptr<const core::ByteSource>(p.open());
  }
  return v;
}

// The tags under which one of the store's tables shows its objects' values.
// A damaged file can give such an id another type; copied, the value would
// stand in the object under a tag the table does not know, and its row would
// lack it: readers taking the row and the object for the same item find them
// at odds. Such a value is not copied.
class ShownTags {
 public:
  explicit ShownTags(std::vector<std::uint32_t> tags) : tags_(std::move(tags)) {
    std::sort(tags_.begin(), tags_.end());
    for (auto t : tags_) ids_.set(tagId(t));
  }
  bool mistyped(std::uint32_t tag) const {
    return ids_.test(tagId(tag)) && !std::binary_search(tags_.begin(), tags_.end(), tag);
  }

 private:
  std::vector<std::uint32_t> tags_;
  std::bitset<0x10000> ids_;
};

// The templates of a folder's contents table and of a message's recipient
// and attachment tables.
const ShownTags& contentsTags() {
  static const ShownTags shown(templateTags(kContentsTemplateNid));
  return shown;
}
const ShownTags& recipientTags() {
  static const ShownTags shown(templateTags(kRecipientTemplateNid));
  return shown;
}
const ShownTags& attachmentTags() {
  static const ShownTags shown(attachmentTableTags());
  return shown;
}

// Every recipient row carries a type and a name; a recipient without them
// (a damaged or sparse file's) is addressed to "To" and named by its address.
void completeRecipient(PropertyList& r) {
  if (!r.find(tags::RecipientType)) r.add(PropertyValue::int32(tags::RecipientType, 1));
  if (!r.find(tags::DisplayName)) {
    std::u16string name = r.text(tags::EmailAddress);
    if (name.empty()) name = r.text(0x39FE);  // PidTagSmtpAddress
    r.add(PropertyValue::unicode(tags::DisplayName, name));
  }
}

void copyProperties(const msg::PropertyBag& bag, PropertyList& out, LocalNames& names, bool messageLevel,
                    const ShownTags& shown) {
  // room for the values copied here and the few the store adds afterwards
  out.reserve(out.size() + bag.all().size() + 8);
  for (const auto& p : bag.all()) {
    if (p.id() < 0x8000 && isComputedByStore(p.id())) {
      // a recipient's record key and object type describe the address, not the store
      bool recipientOwn = !messageLevel && (p.id() == 0x0FF9 || p.id() == 0x0FFE || p.id() == 0x0FFF);
      if (!recipientOwn) continue;
    }
    if (p.tag() == msg::tag::AttachDataObject) continue;
    auto v = convertValue(p, names);
    if (v && !shown.mistyped(v->tag)) out.add(std::move(*v));
  }
}

StoreMessage convert(const msg::Message& source, LocalNames& map) {
  StoreMessage m;
  copyProperties(source.properties(), m.properties, map, true, contentsTags());
  m.recipients.reserve(source.recipients().size());
  m.attachments.reserve(source.attachments().size());
  for (const auto& r : source.recipients()) {
    copyProperties(r.properties(), m.recipients.emplace_back(), map, false, recipientTags());
    completeRecipient(m.recipients.back());
  }
  for (const auto& a : source.attachments()) {
    StoreAttachment att;
    copyProperties(a.properties(), att.properties, map, false, attachmentTags());
    if (const auto* e = a.embedded()) {
      att.embedded = std::make_unique<StoreMessage>(convert(*e, map));
      att.properties.set(PropertyValue::int32(tags::AttachMethod, 5));
    } else if (a.hasOleStorage()) {
      att.oleData = std::make_shared<core::MemorySource>(a.oleImage());
    } else if (a.method() == msg::Attachment::EmbeddedMessage || a.method() == msg::Attachment::Ole) {
      // A damaged file can name an object it no longer holds; a store
      // attachment of those methods without its object is one that readers
      // cannot open, so it is kept as an attachment by value with no data.
      att.properties.set(PropertyValue::int32(tags::AttachMethod, msg::Attachment::ByValue));
    }
    m.attachments.push_back(std::move(att));
  }
  return m;
}

// Named properties get the store's ids. No table shows a named property, so
// what the tables' types let through under the message's own ids holds under
// the store's.
void giveStoreIds(StoreMessage& m, std::span<const std::uint16_t> ids) {
  m.properties.renumberNamed(ids);
  for (auto& r : m.recipients) r.renumberNamed(ids);
  for (auto& a : m.attachments) {
    a.properties.renumberNamed(ids);
    if (a.embedded) giveStoreIds(*a.embedded, ids);
  }
}

}  // namespace

DetachedTranslation TranslateDetached(const msg::Message& source) {
  LocalNames names;
  DetachedTranslation out;
  out.content = convert(source, names);
  out.names = names.take();
  return out;
}

messaging::StoreMessage WithStoreIds(DetachedTranslation translation, messaging::NamedPropertyMap& map) {
  if (translation.names.empty()) return std::move(translation.content);
  std::vector<std::uint16_t> ids;
  ids.reserve(translation.names.size());
  for (const auto& name : translation.names) ids.push_back(map.idFor(name));
  giveStoreIds(translation.content, ids);
  return std::move(translation.content);
}

messaging::StoreMessage TranslateMessage(const msg::Message& source, messaging::NamedPropertyMap& map) {
  return WithStoreIds(TranslateDetached(source), map);
}

}  // namespace parvane::importer
