#include "engine/messaging/message_content.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <utility>

#include "engine/core/codepage.h"
#include "engine/messaging/node_values.h"

namespace parvane::messaging {
namespace {

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
