#include "engine/messaging/message_content.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <utility>

#include "engine/core/codepage.h"
#include "engine/messaging/node_values.h"
#include "engine/msg/message.h"

namespace parvane::messaging {
namespace {

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

// An Internet code page of the ISO-2022-JP family is a 7-bit transfer
// encoding; 8-bit text with bytes above 0x7F in such a message is Shift-JIS
// (code page 932), as Outlook keeps Japanese text. Anything else decodes as
// the reader decoded it.
bool isIso2022Jp(std::uint32_t codePage) { return codePage >= 50220 && codePage <= 50222; }

std::u16string shiftJisOr(core::ByteView stored, std::u16string decoded) {
  while (!stored.empty() && stored.back() == 0) stored = stored.first(stored.size() - 1);
  bool eightBit = std::any_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b >= 0x80; });
  if (!eightBit) return decoded;
  return core::platformCodePages().decode(stored, 932);
}

std::u16string string8Text(const msg::Property& p) {
  if (isIso2022Jp(p.codePage()) && p.inMemory()) return shiftJisOr(p.bytes(), p.text());
  return p.text();
}

std::u16string string8Item(const msg::Property& p, std::size_t i) {
  if (isIso2022Jp(p.codePage())) return shiftJisOr(p.item(i), p.itemText(i));
  return p.itemText(i);
}

PropertyName nameOf(const msg::PropertyName& n) {
  PropertyName out;
  out.guid = n.guid.bytes;
  out.isString = n.kind == msg::PropertyName::Kind::String;
  out.number = n.id;
  out.name = n.name;
  return out;
}

// The store's form of one source property; nullopt when the store does not keep it.
std::optional<PropertyValue> convertValue(const msg::Property& p, NamedPropertyMap& map) {
  std::uint16_t id = p.id();
  if (id >= 0x8000) {
    if (!p.name()) return std::nullopt;
    id = map.idFor(nameOf(*p.name()));
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
        items.push_back(utf16(base == ptype::String8 ? string8Item(p, i) : p.itemText(i)));
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
    v.bytes = utf16(type == ptype::String8 ? string8Text(p) : p.text());
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

void copyProperties(const msg::PropertyBag& bag, PropertyList& out, NamedPropertyMap& map, bool messageLevel,
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
    auto v = convertValue(p, map);
    if (v && !shown.mistyped(v->tag)) out.add(std::move(*v));
  }
}

StoreMessage convert(const msg::Message& source, NamedPropertyMap& map) {
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

ValueBytes randomKey(const RandomSource& random) {
  ValueBytes key(std::size_t{16});
  for (std::size_t i = 0; i < 16; i += 8) core::storeU64(key.data() + i, random());
  return key;
}

// The stored bytes of a Unicode value held in memory, whole UTF-16 units
// only; empty for anything else.
core::ByteView unicodeBytes(const PropertyValue* v) {
  if (!v || v->type() != ptype::Unicode || v->source) return {};
  return core::ByteView(v->bytes.data(), v->bytes.size() & ~std::size_t{1});
}

// The display lists are built as the bytes they are stored as.
void joinRecipients(StoreMessage& m) {
  ValueBytes lists[3];
  static constexpr std::uint8_t kSeparator[4] = {';', 0, ' ', 0};
  // sized first, then filled: one allocation per list at most
  std::size_t sizes[3] = {0, 0, 0};
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& r : m.recipients) {
      auto type = r.int32(tags::RecipientType).value_or(1) & 0x0F;
      if (type < 1 || type > 3) continue;
      auto name = unicodeBytes(r.find(tags::DisplayName));
      if (pass == 0) {
        sizes[type - 1] += sizeof kSeparator + name.size();
        continue;
      }
      auto& list = lists[type - 1];
      if (!list.empty()) list.append(kSeparator);
      list.append(name);
    }
    if (pass == 0)
      for (int i = 0; i < 3; ++i) lists[i].reserve(sizes[i]);
  }
  const std::uint16_t ids[3] = {tags::DisplayTo, tags::DisplayCc, tags::DisplayBcc};
  for (int i = 0; i < 3; ++i) {
    m.properties.remove(ids[i]);
    if (!lists[i].empty()) m.properties.set(PropertyValue{makeTag(ids[i], ptype::Unicode), std::move(lists[i]), nullptr});
  }
}

// Outlook keeps the subject behind a two-character marker: U+0001, then one
// more than the length of the subject's prefix ("RE: ").
void markSubject(PropertyList& props) {
  auto* subject = props.find(tags::Subject);
  if (!subject || subject->type() != ptype::Unicode || subject->source) return;
  const core::ByteView text = unicodeBytes(subject);
  if (!text.empty() && core::loadU16(text.data()) == 0x0001) return;
  const core::ByteView prefix = unicodeBytes(std::as_const(props).find(tags::SubjectPrefix));
  const bool prefixed = !prefix.empty() && text.size() >= prefix.size() &&
                        std::equal(prefix.begin(), prefix.end(), text.begin());
  const std::size_t prefixLength = prefixed ? prefix.size() / 2 : 0;
  // in place, whole units only: the marker, then the text moved behind it
  const std::size_t n = text.size();
  ValueBytes& bytes = subject->bytes;
  bytes.resize(n + 4);
  std::memmove(bytes.data() + 4, bytes.data(), n);
  core::storeU16(bytes.data(), 0x0001);
  core::storeU16(bytes.data() + 2, static_cast<std::uint16_t>(prefixLength + 1));
}

void finishRecipient(PropertyList& r) {
  // add() keeps a value the list has: one look-up per default
  r.add(PropertyValue::int32(tags::RecipientType, 1));
  if (!r.find(tags::DisplayName)) {
    ValueBytes email(unicodeBytes(r.find(tags::EmailAddress)));
    r.set(PropertyValue{makeTag(tags::DisplayName, ptype::Unicode), std::move(email), nullptr});
  }
  r.add(PropertyValue::int32(tags::ObjectType, 6));
  r.add(PropertyValue::int32(tags::DisplayType, 0));
  r.sort();
}

void finishAttachment(StoreAttachment& a, std::uint64_t now) {
  auto& p = a.properties;
  p.add(PropertyValue::int32(tags::AttachMethod, a.oleData ? 6u : 1u));
  p.add(PropertyValue::int32(tags::RenderingPosition, 0xFFFFFFFF));
  p.add(PropertyValue::time(tags::CreationTime, now));
  p.add(PropertyValue::time(tags::LastModificationTime, now));
  std::uint64_t objectSize = 0;
  if (a.embedded) objectSize = a.embedded->properties.int32(tags::MessageSize).value_or(0);
  else if (a.oleData) objectSize = a.oleData->size();
  recordObjectSize(a, objectSize);
}

}  // namespace

void recordObjectSize(StoreAttachment& a, std::uint64_t objectSize) {
  auto& p = a.properties;
  if (a.embedded || a.oleData) {
    PropertyValue object{makeTag(tags::AttachData, ptype::Object), ValueBytes(std::size_t{8}), nullptr};
    core::storeU32(object.bytes.data() + 4, static_cast<std::uint32_t>(std::min<std::uint64_t>(objectSize, 0xFFFFFFFF)));
    p.set(std::move(object));
  }
  // counted at its own 4 bytes, then given the sum in place
  p.set(PropertyValue::int32(tags::AttachSize, 0));
  auto size = propertySizeSum(p);
  core::storeU32(p.find(tags::AttachSize)->bytes.data(), static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFF)));
  p.sort();
}

bool isComputedByStore(std::uint16_t id) {
  switch (id) {
    case 0x0FFF:  // EntryId
    case 0x0FFB:  // StoreEntryId
    case 0x0FFA:  // StoreRecordKey
    case 0x340D:  // StoreSupportMask
    case 0x0E09:  // ParentEntryId
    case 0x0FF6:  // InstanceKey
    case 0x0FF9:  // RecordKey
    case 0x0FFE:  // ObjectType
    case 0x0FF4:  // Access
    case 0x0FF7:  // AccessLevel
    case 0x0E08:  // MessageSize
    case 0x0E1B:  // HasAttachments
    case 0x0E02:  // DisplayBcc
    case 0x0E03:  // DisplayCc
    case 0x0E04:  // DisplayTo
    case 0x0E20:  // AttachSize
    case 0x0E21:  // AttachNumber
    case 0x67F2:  // LtpRowId
    case 0x67F3:  // LtpRowVer
    case 0x0E30: case 0x0E33: case 0x0E34: case 0x0E38: case 0x0E3C: case 0x0E3D:  // Repl*
      return true;
    default:
      return false;
  }
}

StoreMessage convertMessage(const msg::Message& source, NamedPropertyMap& map) { return convert(source, map); }

StoreMessage emptyMessage() {
  StoreMessage m;
  m.properties.set(PropertyValue::unicode(tags::MessageClass, u"IPM.Note"));
  return m;
}

void finish(StoreMessage& m, std::optional<std::uint32_t> flags, std::uint64_t now,
            const RandomSource& random) {
  for (auto& a : m.attachments) {
    if (a.embedded) finish(*a.embedded, std::nullopt, now, random);
    finishAttachment(a, now);
  }
  for (auto& r : m.recipients) finishRecipient(r);
  auto& p = m.properties;
  std::uint32_t value = flags ? *flags : p.int32(tags::MessageFlags).value_or(0);
  value &= ~kMsgFlagHasAttach;
  if (!m.attachments.empty()) value |= kMsgFlagHasAttach;
  p.set(PropertyValue::int32(tags::MessageFlags, value));
  p.set(PropertyValue::boolean(tags::HasAttachments, !m.attachments.empty()));
  joinRecipients(m);
  markSubject(p);
  // add() keeps a value the list has: one look-up per default
  p.add(PropertyValue::unicode(tags::MessageClass, u"IPM.Note"));
  p.add(PropertyValue::int32(tags::MessageStatus, 0));
  p.add(PropertyValue::time(tags::CreationTime, now));
  p.add(PropertyValue::time(tags::LastModificationTime, now));
  // a key is drawn only for a message without one
  if (!p.find(tags::SearchKey)) p.set(PropertyValue{makeTag(tags::SearchKey, ptype::Binary), randomKey(random), nullptr});
  p.set(PropertyValue::int32(tags::MessageSize, 0));
  auto size = propertySizeSum(p);
  core::storeU32(p.find(tags::MessageSize)->bytes.data(), static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFF)));
  p.sort();
}

}  // namespace parvane::messaging
