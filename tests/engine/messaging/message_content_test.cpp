#include "engine/messaging/message_content.h"
#include "import/message_translation.h"

#include <gtest/gtest.h>

#include "engine/messaging/node_values.h"
#include "engine/msg/message.h"
#include "support/msg_writer.h"

namespace parvane::messaging {
namespace {

using testsupport::MsgAttachment;
using testsupport::MsgMessage;
using testsupport::MsgNamedProperty;
using testsupport::MsgProperty;

msg::MessageFile readBack(const MsgMessage& m, const std::vector<MsgNamedProperty>& named = {}) {
  auto bytes = testsupport::writeMsg(m, named);
  return msg::MessageFile::read(std::make_shared<core::MemorySource>(std::move(bytes)), "test.msg");
}

StoreMessage imported(const MsgMessage& m, NamedPropertyMap& map, std::optional<std::uint32_t> flags = 17,
                      const std::vector<MsgNamedProperty>& named = {}) {
  auto file = readBack(m, named);
  auto content = importer::TranslateMessage(file.message(), map);
  finish(content, flags, 133000000000000000ULL, [] { return std::uint64_t{0x5EED}; });
  return content;
}

std::u16string text(const PropertyList& p, std::uint16_t id) { return p.text(id); }

// A list looks values up by a search while it is in id order, and one by
// one once it is not: both must find every value and refuse a second one of an id.
TEST(PropertyList, FindsAndRefusesDuplicatesInOrderOrNot) {
  PropertyList list;
  for (std::uint16_t id : {std::uint16_t{0x0010}, std::uint16_t{0x0020}, std::uint16_t{0x0030}}) EXPECT_TRUE(list.add(PropertyValue::int32(id, id)));
  EXPECT_TRUE(list.sorted());
  EXPECT_FALSE(list.add(PropertyValue::int32(0x0020, 7)));
  EXPECT_EQ(list.int32(0x0020), 0x0020u);
  list.set(PropertyValue::int32(0x0015, 1));  // out of order from here
  EXPECT_FALSE(list.sorted());
  EXPECT_FALSE(list.add(PropertyValue::int32(0x0030, 7)));
  EXPECT_TRUE(list.add(PropertyValue::int32(0x0040, 4)));
  EXPECT_FALSE(list.add(PropertyValue::int32(0x0015, 7)));
  for (int id : {0x0010, 0x0015, 0x0020, 0x0030, 0x0040}) EXPECT_TRUE(list.find(static_cast<std::uint16_t>(id))) << id;
  list.sort();
  EXPECT_TRUE(list.sorted());
  std::vector<std::uint16_t> ids;
  for (const auto& v : list.all()) ids.push_back(v.id());
  EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0010, 0x0015, 0x0020, 0x0030, 0x0040}));
  EXPECT_EQ(list.int32(0x0015), 1u);
  EXPECT_TRUE(list.remove(0x0020));
  EXPECT_FALSE(list.find(0x0020));
  EXPECT_EQ(list.int32(0x0030), 0x0030u);
}

// A value moves between its inline bytes and a vector as it grows; its bytes
// must survive every change of place.
TEST(ValueBytes, KeepsItsBytesAcrossInlineAndVectorStorage) {
  ValueBytes v(core::ByteView(reinterpret_cast<const std::uint8_t*>("0123456789abcdefghijklm"), 23));
  v.append(core::Bytes{'x', 'y'});  // 25 bytes: past the inline room
  EXPECT_EQ(v, core::Bytes(reinterpret_cast<const std::uint8_t*>("0123456789abcdefghijklmxy"),
                           reinterpret_cast<const std::uint8_t*>("0123456789abcdefghijklmxy") + 25));
  ValueBytes moved(std::move(v));
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(moved.size(), 25u);
  EXPECT_EQ(moved[24], 'y');
  ValueBytes small(core::Bytes{1, 2, 3});
  small.resize(5);
  EXPECT_EQ(small, (core::Bytes{1, 2, 3, 0, 0}));
  small = moved;  // a copy of a long value
  EXPECT_EQ(small, moved);
  moved = ValueBytes(core::Bytes{9});  // a long value's buffer takes a short one
  EXPECT_EQ(moved, core::Bytes{9});
  core::Bytes out = small;
  EXPECT_EQ(out.size(), 25u);
  PropertyValue big{makeTag(0x1000, ptype::Binary), core::Bytes(4000, 7), nullptr};
  PropertyValue copy = big;
  EXPECT_EQ(copy.bytes, big.bytes);
  EXPECT_EQ(core::ByteView(copy.bytes).size(), 4000u);
}

TEST(MessageContent, FlagsFollowTheRealAttachmentsWhateverTheCallerPasses) {
  NamedPropertyMap map;
  auto plain = imported(testsupport::simpleMessage("No attachment", "body"), map, 17);
  EXPECT_EQ(plain.properties.int32(tags::MessageFlags), 1u);
  ASSERT_NE(plain.properties.find(tags::HasAttachments), nullptr);
  EXPECT_EQ(plain.properties.find(tags::HasAttachments)->bytes, core::Bytes{0});

  auto withFile = imported(testsupport::simpleMessage("One", "body", {}, {{"a.txt", core::Bytes(5, 'a')}}), map, 1);
  EXPECT_EQ(withFile.properties.int32(tags::MessageFlags), 0x11u);
  EXPECT_EQ(withFile.properties.find(tags::HasAttachments)->bytes, core::Bytes{1});

  // without a caller's value the source's flags are kept, the attachment bit fixed
  auto src = testsupport::simpleMessage("Kept", "body");
  for (auto& p : src.properties) {
    if (p.tag == 0x0E070003) p = MsgProperty::i32(0x0E07, 0x10 | 0x08);
  }
  auto kept = imported(src, map, std::nullopt);
  EXPECT_EQ(kept.properties.int32(tags::MessageFlags), 0x08u);
}

// A damaged file's attachment can say it holds an embedded message or an OLE
// object that is not there; stored with that method it would be one no reader
// can open.
TEST(MessageContent, AnObjectMethodWithoutItsObjectBecomesAnAttachmentByValue) {
  NamedPropertyMap map;
  auto src = testsupport::simpleMessage("Lost objects", "body");
  for (std::int32_t method : {5, 6}) {
    src.attachments.push_back(MsgAttachment{
        {MsgProperty::i32(0x3705, method), MsgProperty::unicode(0x3001, "gone " + std::to_string(method))}, nullptr});
  }
  auto file = readBack(src);
  EXPECT_EQ(file.warnings().size(), 2u);
  auto content = importer::TranslateMessage(file.message(), map);
  finish(content, 1, 133000000000000000ULL, [] { return std::uint64_t{0x5EED}; });
  ASSERT_EQ(content.attachments.size(), 2u);
  for (const auto& a : content.attachments) {
    EXPECT_EQ(a.properties.int32(tags::AttachMethod), 1u);
    EXPECT_EQ(a.embedded, nullptr);
    EXPECT_EQ(a.oleData, nullptr);
    EXPECT_EQ(a.properties.find(tags::AttachData), nullptr);
  }
}

// A damaged file can give a property its tables show another type, or leave a
// recipient without the type and name every recipient row carries.
TEST(MessageContent, MistypedShownValuesAreLeftOutAndRecipientsCompleted) {
  NamedPropertyMap map;
  MsgMessage src;
  src.properties = {MsgProperty::i32(0x0037, 5),                  // the subject as a number
                    MsgProperty::unicode(0x1000, "body"),
                    MsgProperty::i32(0x6601, 9)};                 // no table shows it: kept
  src.recipients.push_back({{MsgProperty::unicode(0x3003, "ann@example.com")}});
  src.recipients.push_back({{MsgProperty::i32(0x3001, 1), MsgProperty::i32(0x0C15, 2)}});
  src.attachments.push_back(MsgAttachment{{MsgProperty::boolean(0x3705, true),
                                           MsgProperty::binary(0x3701, core::Bytes(3, 'x'))},
                                          nullptr});
  auto m = imported(src, map);
  const auto* subject = m.properties.find(0x0037);
  EXPECT_TRUE(subject == nullptr || subject->type() == ptype::Unicode);
  EXPECT_EQ(m.properties.int32(0x6601), 9u);

  ASSERT_EQ(m.recipients.size(), 2u);
  EXPECT_EQ(m.recipients[0].int32(tags::RecipientType), 1u);
  EXPECT_EQ(m.recipients[0].text(tags::DisplayName), u"ann@example.com");
  EXPECT_EQ(m.recipients[1].int32(tags::RecipientType), 2u);
  ASSERT_NE(m.recipients[1].find(tags::DisplayName), nullptr);
  EXPECT_EQ(m.recipients[1].find(tags::DisplayName)->type(), ptype::Unicode);
  EXPECT_EQ(m.properties.text(tags::DisplayTo), u"ann@example.com");

  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].properties.int32(tags::AttachMethod), 1u);  // by value, as if none were given
}

TEST(MessageContent, ComputedPropertiesAreNeverCopied) {
  NamedPropertyMap map;
  auto src = testsupport::simpleMessage("Computed", "body", {"a@example.com"});
  src.properties.push_back(MsgProperty::binary(0x0FFF, core::Bytes(24, 7)));  // EntryId
  src.properties.push_back(MsgProperty::i32(0x0E08, 999999));                // MessageSize
  src.properties.push_back(MsgProperty::unicode(0x0E04, "Somebody else"));   // DisplayTo
  src.properties.push_back(MsgProperty::binary(0x0FF9, core::Bytes(16, 1)));  // RecordKey
  src.properties.push_back(MsgProperty::i32(0x67F2, 5));                     // LtpRowId
  auto m = imported(src, map);
  EXPECT_EQ(m.properties.find(0x0FFF), nullptr);
  EXPECT_EQ(m.properties.find(0x0FF9), nullptr);
  EXPECT_EQ(m.properties.find(0x67F2), nullptr);
  EXPECT_NE(m.properties.int32(tags::MessageSize), 999999u);
  EXPECT_EQ(text(m.properties, tags::DisplayTo), u"a@example.com");
}

TEST(MessageContent, DisplayListsComeFromTheRecipients) {
  NamedPropertyMap map;
  auto src = testsupport::simpleMessage("Lists", "body", {"to1@example.com", "to2@example.com"});
  testsupport::MsgRecipient cc;
  cc.properties.push_back(MsgProperty::i32(0x0C15, 2));
  cc.properties.push_back(MsgProperty::unicode(0x3001, "Carbon Copy"));
  src.recipients.push_back(cc);
  auto m = imported(src, map);
  EXPECT_EQ(text(m.properties, tags::DisplayTo), u"to1@example.com; to2@example.com");
  EXPECT_EQ(text(m.properties, tags::DisplayCc), u"Carbon Copy");
  EXPECT_EQ(m.properties.find(tags::DisplayBcc), nullptr);
  ASSERT_EQ(m.recipients.size(), 3u);
  EXPECT_EQ(m.recipients[2].int32(tags::RecipientType), 2u);
  EXPECT_EQ(m.recipients[0].int32(tags::ObjectType), 6u);  // a mail user when the file says nothing
}

TEST(MessageContent, SubjectCarriesOutlooksMarker) {
  NamedPropertyMap map;
  auto plain = imported(testsupport::simpleMessage("Test", "b"), map);
  EXPECT_EQ(text(plain.properties, tags::Subject), std::u16string(u"\u0001\u0001Test"));
  EXPECT_EQ(text(plain.properties, tags::ConversationTopic), u"Test");

  auto src = testsupport::simpleMessage("RE: Lunch", "b");
  src.properties.push_back(MsgProperty::unicode(0x003D, "RE: "));
  auto reply = imported(src, map);
  EXPECT_EQ(text(reply.properties, tags::Subject), std::u16string(u"\u0001\u0005RE: Lunch"));

  auto empty = imported(testsupport::simpleMessage("", "b"), map);
  EXPECT_EQ(text(empty.properties, tags::Subject), std::u16string(u"\u0001\u0001"));
}

TEST(MessageContent, EightBitStringsBecomeUnicodeWithTheMessageCodePage) {
  NamedPropertyMap map;
  MsgMessage src;
  src.properties.push_back(MsgProperty::string8(0x0037, "Caf\xE9"));
  src.properties.push_back(MsgProperty::i32(0x3FFD, 1252));
  auto m = imported(src, map);
  const auto* subject = m.properties.find(tags::Subject);
  ASSERT_NE(subject, nullptr);
  EXPECT_EQ(subject->type(), ptype::Unicode);
  EXPECT_EQ(text(m.properties, tags::Subject), std::u16string(u"\u0001\u0001Café"));

  MsgMessage utf8;
  utf8.properties.push_back(MsgProperty::string8(0x1000, "\xD0\x9F\xD1\x80\xD0\xB8"));
  utf8.properties.push_back(MsgProperty::i32(0x3FFD, 65001));
  auto u = imported(utf8, map);
  EXPECT_EQ(text(u.properties, tags::Body), u"При");
  EXPECT_EQ(text(u.properties, tags::MessageClass), u"IPM.Note");  // a class when the file has none
}

TEST(MessageContent, JapaneseEightBitTextInAnIso2022JpMessageIsShiftJis) {
  NamedPropertyMap map;
  MsgMessage src;
  src.properties.push_back(MsgProperty::string8(0x0037, "\x93\xFA\x96\x7B Mail"));  // "日本 Mail" in code page 932
  src.properties.push_back(MsgProperty::string8(0x1000, "plain ascii"));
  src.properties.push_back(MsgProperty::i32(0x3FDE, 50220));
  auto m = imported(src, map);
  EXPECT_EQ(text(m.properties, tags::Subject), std::u16string(u"\u0001\u0001日本 Mail"));
  EXPECT_EQ(text(m.properties, tags::Body), u"plain ascii");
}

TEST(MessageContent, NamedPropertiesAreTranslatedToTheStoresIds) {
  NamedPropertyMap map = NamedPropertyMap::outlookDefault();
  auto src = testsupport::simpleMessage("Named", "b");
  // file-local 0x8000 is "Keywords" (Outlook's map has it as 0x8013), 0x8001 a new one
  src.properties.push_back(MsgProperty::multiUnicode(0x8000, {"Red", "Blue"}));
  src.properties.push_back(MsgProperty::i32(0x8001, 42));
  std::vector<MsgNamedProperty> named{{testsupport::psPublicStrings(), std::nullopt, u"Keywords"},
                                      {testsupport::psetidCommon(), 0x8599, {}}};
  auto m = imported(src, map, 17, named);
  const auto* keywords = m.properties.find(0x8013);
  ASSERT_NE(keywords, nullptr);
  EXPECT_EQ(keywords->type(), 0x101F);
  // count, two offsets, "Red" and "Blue" in UTF-16 without terminators
  ASSERT_EQ(keywords->bytes.size(), 4u + 8u + 6u + 8u);
  EXPECT_EQ(core::loadU32(keywords->bytes.data()), 2u);
  EXPECT_EQ(core::loadU32(keywords->bytes.data() + 4), 12u);
  EXPECT_EQ(core::loadU32(keywords->bytes.data() + 8), 18u);
  EXPECT_EQ(m.properties.int32(0x8023), 42u);
  EXPECT_EQ(m.properties.find(0x8000), nullptr);  // the file's own id does not leak
  EXPECT_EQ(map.size(), 36u);

  // the same name in another file gets the same id, whatever the file calls it
  auto second = testsupport::simpleMessage("Named again", "b");
  second.properties.push_back(MsgProperty::i32(0x8000, 7));
  std::vector<MsgNamedProperty> named2{{testsupport::psetidCommon(), 0x8599, {}}};
  auto m2 = imported(second, map, 17, named2);
  EXPECT_EQ(m2.properties.int32(0x8023), 7u);
  EXPECT_EQ(map.size(), 36u);
}

// Messages are translated ahead of their save, on another thread and in any
// order; saved in file order they must leave the store's map and their values
// as translating each at its save does.
TEST(MessageContent, NamedPropertiesTranslatedAheadTakeTheStoresIdsAtTheSave) {
  std::vector<MsgNamedProperty> named{{testsupport::psPublicStrings(), std::nullopt, u"Keywords"}};
  auto first = testsupport::simpleMessage("First", "b");
  first.properties.push_back(MsgProperty::multiUnicode(0x8000, {"Red"}));  // Keywords: 0x8013 in the store
  // twenty new names: the nineteenth has id 0x8013 inside the message
  for (std::uint16_t i = 1; i <= 20; ++i) {
    named.push_back({testsupport::psetidCommon(), 0x9000u + i, {}});
    first.properties.push_back(MsgProperty::i32(static_cast<std::uint16_t>(0x8000 + i), i));
  }
  auto second = testsupport::simpleMessage("Second", "b");
  second.properties.push_back(MsgProperty::i32(0x8001, 2));  // a name only this message has, then
  second.properties.push_back(MsgProperty::i32(0x8000, 3));  // one the first has too
  const std::vector<MsgNamedProperty> named2{{testsupport::psetidCommon(), 0x9001, {}},
                                             {testsupport::psetidCommon(), 0x9999, {}}};

  NamedPropertyMap atSave = NamedPropertyMap::outlookDefault();
  const auto fileA = readBack(first, named), fileB = readBack(second, named2);
  const StoreMessage expectedA = importer::TranslateMessage(fileA.message(), atSave);
  const StoreMessage expectedB = importer::TranslateMessage(fileB.message(), atSave);

  NamedPropertyMap ahead = NamedPropertyMap::outlookDefault();
  auto detachedB = importer::TranslateDetached(fileB.message());
  auto detachedA = importer::TranslateDetached(fileA.message());
  const StoreMessage a = importer::WithStoreIds(std::move(detachedA), ahead);
  const StoreMessage b = importer::WithStoreIds(std::move(detachedB), ahead);

  ASSERT_EQ(ahead.size(), atSave.size());
  for (std::size_t i = 0; i < ahead.size(); ++i) EXPECT_EQ(ahead.entry(i), atSave.entry(i)) << i;
  const auto tagsOf = [](const PropertyList& list) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
    for (const auto& v : list.all()) out.emplace_back(v.tag, v.size());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(tagsOf(a.properties), tagsOf(expectedA.properties));
  EXPECT_EQ(tagsOf(b.properties), tagsOf(expectedB.properties));

  ASSERT_NE(a.properties.find(0x8013), nullptr);
  EXPECT_EQ(a.properties.find(0x8013)->type(), 0x101F);
  EXPECT_EQ(a.properties.int32(static_cast<std::uint16_t>(0x8000 + 35 + 18)), 19u);
  EXPECT_EQ(b.properties.int32(static_cast<std::uint16_t>(0x8000 + 35)), 3u);  // the first's first new name
  EXPECT_EQ(b.properties.int32(static_cast<std::uint16_t>(0x8000 + 35 + 20)), 2u);
}

TEST(MessageContent, SizesAreTheSumOfThePropertySizes) {
  NamedPropertyMap map;
  auto inner = std::make_shared<MsgMessage>(testsupport::simpleMessage("Inner", "inner body"));
  auto src = testsupport::simpleMessage("Outer", "body", {"x@example.com"}, {{"data.bin", core::Bytes(1000, 9)}});
  MsgAttachment embedded;
  embedded.properties.push_back(MsgProperty::i32(0x3705, 5));
  embedded.embedded = inner;
  src.attachments.push_back(embedded);
  auto m = imported(src, map);
  ASSERT_EQ(m.attachments.size(), 2u);
  for (const auto& a : m.attachments) {
    EXPECT_EQ(a.properties.int32(tags::AttachSize), propertySizeSum(a.properties));
    EXPECT_EQ(a.properties.int32(tags::RenderingPosition), 0xFFFFFFFFu);
  }
  EXPECT_EQ(m.properties.int32(tags::MessageSize), propertySizeSum(m.properties));
  // the by-value attachment counts its 1000 data bytes
  EXPECT_GT(*m.attachments[0].properties.int32(tags::AttachSize), 1000u);
  // the embedded message's object records the embedded message's size
  ASSERT_TRUE(m.attachments[1].embedded);
  auto innerSize = m.attachments[1].embedded->properties.int32(tags::MessageSize);
  const auto* object = m.attachments[1].properties.find(tags::AttachData);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->type(), ptype::Object);
  EXPECT_EQ(core::loadU32(object->bytes.data() + 4), innerSize);
  EXPECT_EQ(m.attachments[1].properties.int32(tags::AttachMethod), 5u);
  EXPECT_EQ(text(m.attachments[1].embedded->properties, tags::Subject), std::u16string(u"\u0001\u0001Inner"));
}

TEST(MessageContent, BigValuesStayInTheFileAndLoseTheirTerminator) {
  NamedPropertyMap map;
  std::string body(100000, 'x');
  auto src = testsupport::simpleMessage("Big", body, {}, {{"big.bin", core::Bytes(300000, 0x5A)}});
  auto m = imported(src, map);
  const auto* b = m.properties.find(tags::Body);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->source);
  EXPECT_EQ(b->size(), 200000u);
  auto tail = b->source->read(199998, 2);
  EXPECT_EQ(tail, (core::Bytes{'x', 0}));
  const auto* data = m.attachments[0].properties.find(tags::AttachData);
  ASSERT_NE(data, nullptr);
  ASSERT_TRUE(data->source);
  EXPECT_EQ(data->size(), 300000u);
  EXPECT_EQ(data->source->read(123456, 1), core::Bytes{0x5A});
}

TEST(MessageContent, AnEmptyMessageStillHasWhatAStoreRequires) {
  auto m = emptyMessage();
  finish(m, 17, 133000000000000000ULL, [] { return std::uint64_t{0x5EED}; });
  for (std::uint16_t id : {tags::MessageClass, tags::MessageFlags, tags::MessageSize, tags::MessageStatus,
                           tags::CreationTime, tags::LastModificationTime, tags::SearchKey})
    EXPECT_NE(m.properties.find(id), nullptr) << std::hex << id;
  EXPECT_EQ(m.properties.int32(tags::MessageFlags), 1u);
  const auto& all = m.properties.all();
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.id() < b.id(); }));
}

TEST(MessageContent, RowCellsViewTheSameValuesARowCopyHolds) {
  const std::uint32_t kInt = makeTag(0x0E07, ptype::Int32), kText = makeTag(0x0E07, ptype::Unicode);
  const std::uint32_t kName = makeTag(0x3001, ptype::Unicode), kBig = makeTag(0x1000, ptype::Unicode);
  const std::uint32_t kLarge = makeTag(0x1013, ptype::Binary);
  std::vector<ltp::ColumnDesc> columns = ltp::layoutColumns({kInt, kText, kName, kBig, kLarge});
  PropertyList sorted, unsorted;
  for (PropertyList* p : {&unsorted, &sorted}) {
    p->set(PropertyValue::unicode(0x3001, u"Ann"));
    p->set(PropertyValue::unicode(0x0E07, u"x"));  // the Unicode column of the id, after the Int32 one
    p->set(PropertyValue{kBig, {}, std::make_shared<core::MemorySource>(core::Bytes(64, 0x41))});
    p->set(PropertyValue{kLarge, {}, std::make_shared<core::MemorySource>(core::Bytes((1u << 20) + 2, 1))});
    p->set(PropertyValue::int32(0x0001, 3));  // no column
  }
  sorted.sort();
  for (const PropertyList* p : {&sorted, &unsorted}) {
    RowCells views(*p, columns, 0x1234);
    auto copies = rowCells(*p, columns, 0x1234);
    ASSERT_EQ(views.cells().size(), copies.size());
    for (std::size_t i = 0; i < copies.size(); ++i) {
      EXPECT_EQ(views.cells()[i].tag, copies[i].tag);
      EXPECT_EQ(core::Bytes(views.cells()[i].value.begin(), views.cells()[i].value.end()), copies[i].value);
    }
    std::vector<std::uint32_t> tags;
    for (const auto& c : views.cells()) tags.push_back(c.tag);
    EXPECT_EQ(tags, (std::vector<std::uint32_t>{kText, kBig, kName, ltp::kTagLtpRowVer}));
  }
}

}  // namespace
}  // namespace parvane::messaging
