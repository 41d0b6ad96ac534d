// The message reader on files made for each case with the test writer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/cfb/compound_file.h"
#include "engine/core/source.h"
#include "engine/msg/format.h"
#include "engine/msg/message.h"
#include "msg_builder.h"

using namespace parvane;
using namespace parvane::testing;

namespace {

msg::MessageFile readImage(core::Bytes image, const msg::ReadOptions& options = {}) {
  return msg::MessageFile::read(std::make_shared<core::MemorySource>(std::move(image)), "test.msg", options);
}

// A file whose top-level message has `props` and nothing else.
core::Bytes simpleMessage(const std::vector<TestProp>& props) {
  cfb::Writer w;
  writeProps(w, w.root(), 32, props);
  return w.finish();
}

std::string errorOf(core::Bytes image, const msg::ReadOptions& options = {}) {
  try {
    (void)readImage(std::move(image), options);
  } catch (const msg::ReadError& e) {
    return e.what();
  }
  return "no error";
}

core::Bytes le16(std::initializer_list<std::uint16_t> v) {
  core::Bytes b;
  core::ByteWriter w(b);
  for (auto x : v) w.u16(x);
  return b;
}

std::uint64_t bitsOf(double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

core::Bytes pattern(std::size_t n) {
  core::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
  return b;
}

}  // namespace

// Only an attachment's object (0x3701000D) is read; any other object-typed
// property is left out, and said to be.
TEST(MessageReader, AnObjectPropertyOfAMessageIsLeftOutWithAWarning) {
  const auto f = readImage(simpleMessage({TestProp::fixedValue(0x00020003, 7),
                                          TestProp::fixedValue(0x3702000D, 0xFFFFFFFF)}));
  const auto& p = f.message().properties();
  EXPECT_EQ(p.size(), 1u);
  EXPECT_EQ(p.findId(0x3702), nullptr);
  ASSERT_EQ(f.warnings().size(), 1u);
  EXPECT_NE(f.warnings()[0].find("0x3702000D"), std::string::npos) << f.warnings()[0];
}

TEST(MessageReader, FixedValuesOfEveryType) {
  const auto f = readImage(simpleMessage({
      TestProp::fixedValue(0x00010002, 0xFFFE),                  // Int16 -2
      TestProp::fixedValue(0x00020003, 0x80000000),              // Int32
      TestProp::fixedValue(0x00030004, 0x3FC00000),              // Float32 1.5
      TestProp::fixedValue(0x00040005, bitsOf(-2.25)),           // Float64
      TestProp::fixedValue(0x00050006, 123456789012345),         // Currency
      TestProp::fixedValue(0x00060007, bitsOf(45000.5)),         // FloatingTime
      TestProp::fixedValue(0x0007000A, 0x80004005),              // ErrorCode
      TestProp::fixedValue(0x0008000B, 1),                       // Boolean
      TestProp::fixedValue(0x00090014, 0x8000000000000001),      // Int64
      TestProp::fixedValue(0x000A0040, 0x01D6958A8AEF91B0),      // Time
      TestProp::fixedValue(0x000B0001, 0),                       // Null
  }));
  const auto& p = f.message().properties();
  ASSERT_EQ(p.size(), 11u);
  for (const auto& prop : p.all()) EXPECT_TRUE(prop.isFixed()) << std::hex << prop.tag();
  EXPECT_EQ(p.findId(1)->asInt16(), -2);
  EXPECT_EQ(p.findId(2)->asInt32(), INT32_MIN);
  EXPECT_FLOAT_EQ(p.findId(3)->asFloat(), 1.5f);
  EXPECT_DOUBLE_EQ(p.findId(4)->asDouble(), -2.25);
  EXPECT_EQ(p.findId(5)->asInt64(), 123456789012345);
  EXPECT_DOUBLE_EQ(p.findId(6)->asDouble(), 45000.5);
  EXPECT_EQ(static_cast<std::uint32_t>(p.findId(7)->asInt32()), 0x80004005u);
  EXPECT_TRUE(p.findId(8)->asBool());
  EXPECT_EQ(static_cast<std::uint64_t>(p.findId(9)->asInt64()), 0x8000000000000001u);
  EXPECT_EQ(p.findId(10)->raw(), 0x01D6958A8AEF91B0u);
  EXPECT_EQ(p.findTag(0x000B0001)->type(), msg::ptype::Null);
  EXPECT_TRUE(f.warnings().empty());
}

TEST(MessageReader, StreamValuesKeepTheirBytes) {
  const core::Bytes guid = pattern(16);
  const auto f = readImage(simpleMessage({
      TestProp::unicode(0x0037001F, u"Hello \u00E9\u4E16"),
      TestProp::bytes(0x00710102, pattern(300)),
      TestProp::bytes(0x00200048, guid),
      TestProp::bytes(0x002100FB, pattern(7)),
      TestProp::bytes(0x002200FD, pattern(9)),
      TestProp::bytes(0x002300FE, pattern(11)),
      TestProp::bytes(0x00240102, {}),
  }));
  const auto& p = f.message().properties();
  ASSERT_EQ(p.size(), 7u);
  EXPECT_EQ(p.findId(0x37)->text(), u"Hello \u00E9\u4E16");
  EXPECT_EQ(p.findId(0x37)->size(), 18u);  // terminator included, as stored
  EXPECT_EQ(p.findId(0x71)->load(), pattern(300));
  EXPECT_FALSE(p.findId(0x20)->isFixed());
  EXPECT_EQ(p.findId(0x20)->load(), guid);
  EXPECT_EQ(p.findId(0x21)->load(), pattern(7));
  EXPECT_EQ(p.findId(0x22)->load(), pattern(9));
  EXPECT_EQ(p.findId(0x23)->load(), pattern(11));
  EXPECT_EQ(p.findId(0x24)->size(), 0u);
}

TEST(MessageReader, String8DecodesWithTheMessageCodePage) {
  // Shift-JIS for U+65E5 U+672C, and 0x80 which is the euro sign in 1252.
  const std::string sjis = "\x93\xFA\x96\x7B";
  {
    const auto f = readImage(simpleMessage({TestProp::fixedValue(0x3FFD0003, 932),
                                            TestProp::fixedValue(0x3FDE0003, 1252),
                                            TestProp::string8(0x0037001E, sjis)}));
    const auto* s = f.message().properties().findId(0x37);
    EXPECT_EQ(f.message().codePages().message, 932u);
    EXPECT_EQ(s->text(), u"\u65E5\u672C");
    EXPECT_EQ(s->bytes().size(), 5u);  // the stored bytes stay available
  }
  {
    // The internet code page speaks for the body, not the subject.
    const auto f = readImage(simpleMessage({TestProp::fixedValue(0x3FDE0003, 65001),
                                            TestProp::string8(0x0037001E, "caf\xC3\xA9"),
                                            TestProp::string8(0x1000001E, "caf\xC3\xA9")}));
    EXPECT_EQ(f.message().properties().findId(0x1000)->text(), u"caf\u00E9");
    EXPECT_EQ(f.message().properties().findId(0x37)->text(), u"caf\u00C3\u00A9");
  }
  {
    // Neither: Windows-1252. Trailing NUL padding is not part of the text.
    const auto f = readImage(simpleMessage({TestProp::bytes(0x0037001E, core::Bytes{'x', 0x80, 0, 0, 0})}));
    EXPECT_EQ(f.message().properties().findId(0x37)->text(), u"x\u20AC");
  }
}

TEST(MessageReader, MultiValuedFixedAndVariable) {
  const auto f = readImage(simpleMessage({
      TestProp::fixedValue(0x3FFD0003, 1251),
      TestProp::multi(0x00501003, {core::Bytes{1, 0, 0, 0}, core::Bytes{2, 0, 0, 0}, core::Bytes{0xFF, 0xFF, 0xFF, 0xFF}}),
      TestProp::multi(0x00511048, {pattern(16), core::Bytes(16, 7)}),
      TestProp::multi(0x0052101F, {le16({'a', 'b', 0}), le16({0}), le16({0x4E16, 0})}),
      TestProp::multi(0x0053101E, {core::Bytes{0xC0, 0xC1, 0}, core::Bytes{'z', 0}}),  // Cyrillic in 1251
      TestProp::multi(0x00541102, {pattern(5), {}, pattern(70000)}),
  }));
  const auto& p = f.message().properties();
  ASSERT_EQ(p.size(), 6u);
  const auto* ints = p.findId(0x50);
  ASSERT_EQ(ints->count(), 3u);
  EXPECT_TRUE(ints->isMultiValued());
  EXPECT_EQ(core::loadU32(ints->item(2).data()), 0xFFFFFFFFu);
  EXPECT_EQ(p.findId(0x51)->count(), 2u);
  EXPECT_EQ(core::Bytes(p.findId(0x51)->item(1).begin(), p.findId(0x51)->item(1).end()), core::Bytes(16, 7));
  const auto* strs = p.findId(0x52);
  ASSERT_EQ(strs->count(), 3u);
  EXPECT_EQ(strs->itemText(0), u"ab");
  EXPECT_EQ(strs->itemText(1), u"");
  EXPECT_EQ(strs->itemText(2), u"\u4E16");
  EXPECT_EQ(p.findId(0x53)->itemText(0), u"\u0410\u0411");
  EXPECT_EQ(p.findId(0x53)->itemText(1), u"z");
  const auto* bins = p.findId(0x54);
  ASSERT_EQ(bins->count(), 3u);
  EXPECT_EQ(bins->item(1).size(), 0u);
  EXPECT_EQ(core::Bytes(bins->item(2).begin(), bins->item(2).end()), pattern(70000));
  EXPECT_THROW((void)bins->item(3), std::out_of_range);
}

TEST(MessageReader, NamedPropertiesResolveToGuidAndIdOrName) {
  cfb::Writer w;
  const core::Bytes custom = pattern(16);
  core::Bytes strings;
  core::ByteWriter sw(strings);
  sw.u32(8);
  sw.bytes(le16({'K', 'e', 'y', 's'}));
  writeNameMap(w, custom,
               {{0x8501, 1 << 1, 0},                // PS_MAPI, id
                {0, (2 << 1) | 1, 1},               // PS_PUBLIC_STRINGS, "Keys"
                {0x1234, 3 << 1, 2}},               // first GUID of the stream, id
               strings);
  writeProps(w, w.root(), 32,
             {TestProp::fixedValue(0x80000003, 5), TestProp::multi(0x8001101F, {le16({'a', 0})}),
              TestProp::fixedValue(0x8002000B, 1), TestProp::fixedValue(0x80090003, 9)});
  const auto f = readImage(w.finish());
  ASSERT_EQ(f.namedProperties().size(), 3u);
  const auto& p = f.message().properties();
  ASSERT_EQ(p.size(), 3u);  // 0x8009 has no name: skipped with a warning
  EXPECT_EQ(p.findId(0x8000)->name()->guid, msg::PS_MAPI);
  EXPECT_EQ(p.findId(0x8000)->name()->id, 0x8501u);
  const auto* keys = p.findId(0x8001)->name();
  EXPECT_EQ(keys->kind, msg::PropertyName::Kind::String);
  EXPECT_EQ(keys->guid, msg::PS_PUBLIC_STRINGS);
  EXPECT_EQ(keys->name, u"Keys");
  EXPECT_EQ(p.findId(0x8002)->name()->guid.bytes, f.namedProperties()[2].name.guid.bytes);
  EXPECT_EQ(p.findId(0x8002)->name()->guid.toString().size(), 38u);
  EXPECT_EQ(p.findNamed(*keys), p.findId(0x8001));
  ASSERT_EQ(f.warnings().size(), 1u);
  EXPECT_NE(f.warnings()[0].find("0x80090003"), std::string::npos) << f.warnings()[0];
}

TEST(MessageReader, DamagedNameMapIsRejected) {
  for (const auto& [entry, strings, expect] : std::vector<std::tuple<NameEntry, core::Bytes, std::string>>{
           {{1, 9 << 1, 0}, {}, "GUID index"},
           {{40, 3, 0}, core::Bytes(8, 0), "string offset"},
           {{0, 3, 0}, core::Bytes{200, 0, 0, 0, 'a', 0}, "string length"},
       }) {
    cfb::Writer w;
    writeNameMap(w, {}, {entry}, strings);
    writeProps(w, w.root(), 32, {});
    const auto err = errorOf(w.finish());
    EXPECT_NE(err.find("test.msg: __nameid_version1.0"), std::string::npos) << err;
    EXPECT_NE(err.find(expect), std::string::npos) << err << " / " << expect;
  }
}

TEST(MessageReader, RecipientsAndAttachmentsInNumberOrder) {
  cfb::Writer w;
  for (std::uint32_t n : {2u, 0u, 10u}) {
    const auto r = w.addStorage(w.root(), numbered("__recip_version1.0_#", n));
    writeProps(w, r, 8, {TestProp::fixedValue(0x0C150003, n), TestProp::unicode(0x3001001F, u"R")});
  }
  const auto a = w.addStorage(w.root(), numbered("__attach_version1.0_#", 0));
  writeProps(w, a, 8, {TestProp::fixedValue(0x37050003, 1), TestProp::bytes(0x37010102, pattern(5000)),
                       TestProp::unicode(0x3707001F, u"a.bin")});
  writeProps(w, w.root(), 32, {TestProp::unicode(0x0037001F, u"s")}, 3, 2);  // header claims 2 attachments
  const auto f = readImage(w.finish());
  const auto& m = f.message();
  ASSERT_EQ(m.recipients().size(), 3u);
  EXPECT_EQ(m.recipients()[0].number(), 0u);
  EXPECT_EQ(m.recipients()[1].number(), 2u);
  EXPECT_EQ(m.recipients()[2].properties().int32(0x0C15), 10);
  ASSERT_EQ(m.attachments().size(), 1u);
  EXPECT_EQ(m.attachments()[0].method(), msg::Attachment::ByValue);
  EXPECT_EQ(m.attachments()[0].data()->load(), pattern(5000));
  EXPECT_EQ(m.attachments()[0].embedded(), nullptr);
  ASSERT_EQ(f.warnings().size(), 1u);
  EXPECT_NE(f.warnings()[0].find("2 attachments"), std::string::npos) << f.warnings()[0];
}

namespace {

// A message with a chain of `depth` embedded messages below it.
core::Bytes nested(unsigned depth) {
  cfb::Writer w;
  std::uint32_t storage = w.root();
  for (unsigned level = 0; level <= depth; ++level) {
    const std::u16string subject = u"level " + std::u16string(1, static_cast<char16_t>(u'0' + level));
    writeProps(w, storage, level == 0 ? 32 : 24, {TestProp::unicode(0x0037001F, subject)}, 0, level < depth ? 1 : 0);
    if (level == depth) break;
    const auto a = w.addStorage(storage, numbered("__attach_version1.0_#", 0));
    writeProps(w, a, 8, {TestProp::fixedValue(0x37050003, 5), TestProp::fixedValue(0x3701000D, 0xFFFFFFFF)});
    storage = w.addStorage(a, u"__substg1.0_3701000D");
  }
  return w.finish();
}

}  // namespace

TEST(MessageReader, EmbeddedMessagesToTheDepthLimit) {
  const auto f = readImage(nested(3));
  const msg::Message* m = &f.message();
  for (unsigned level = 0; level < 3; ++level) {
    ASSERT_EQ(m->attachments().size(), 1u);
    EXPECT_EQ(m->attachments()[0].properties().findTag(0x3701000D), nullptr);  // exposed as embedded()
    m = m->attachments()[0].embedded();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->depth(), level + 1);
  }
  EXPECT_EQ(m->properties().text(0x37), u"level 3");

  msg::ReadOptions shallow;
  shallow.maxDepth = 2;
  const auto err = errorOf(nested(3), shallow);
  EXPECT_NE(err.find("nest deeper than 2"), std::string::npos) << err;
  EXPECT_NE(err.find("attachment #00000000 > embedded message > attachment"), std::string::npos) << err;
}

TEST(MessageReader, OleStorageBecomesACompoundFileImage) {
  cfb::Writer w;
  const auto a = w.addStorage(w.root(), numbered("__attach_version1.0_#", 0));
  writeProps(w, a, 8, {TestProp::fixedValue(0x37050003, 6), TestProp::fixedValue(0x3701000D, 0xFFFFFFFF)});
  const auto ole = w.addStorage(a, u"__substg1.0_3701000D");
  std::array<std::uint8_t, 16> clsid{};
  clsid[0] = 0x42;
  w.setClsid(ole, clsid);
  w.addStream(ole, u"\u0001Ole", pattern(20));
  const auto inner = w.addStorage(ole, u"Inner");
  w.addStream(inner, u"CONTENTS", pattern(9000));
  writeProps(w, w.root(), 32, {}, 0, 1);
  const auto f = readImage(w.finish());
  const auto& att = f.message().attachments().at(0);
  ASSERT_TRUE(att.hasOleStorage());
  EXPECT_EQ(att.embedded(), nullptr);
  const auto image = cfb::CompoundFile::open(std::make_shared<core::MemorySource>(att.oleImage()), "ole");
  EXPECT_EQ(image->root().clsid, clsid);
  const auto* s = image->child(image->root(), u"\u0001Ole");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(image->readStream(*s, 100), pattern(20));
  const auto* in = image->child(image->root(), "inner");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(image->readStream(*image->child(*in, "CONTENTS"), 1 << 20), pattern(9000));
}

TEST(MessageReader, LargeValuesStayInTheFileAndReadInChunks) {
  const core::Bytes big = pattern(200000);
  msg::ReadOptions options;
  options.inMemoryLimit = 1000;
  const auto f = readImage(simpleMessage({TestProp::bytes(0x37010102, big), TestProp::bytes(0x00710102, pattern(900)),
                                          TestProp::unicode(0x1000001F, std::u16string(700, u'x'))}),
                           options);
  const auto& p = f.message().properties();
  const auto* data = p.findTag(0x37010102);
  EXPECT_FALSE(data->inMemory());
  EXPECT_THROW((void)data->bytes(), std::logic_error);
  EXPECT_EQ(data->size(), big.size());
  auto s = data->open();
  ASSERT_EQ(s->size(), big.size());
  core::Bytes chunk(4097);
  for (std::uint64_t off : {0ull, 511ull, 4095ull, 150000ull, 200000ull - 4097}) {
    s->readAt(off, chunk);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), big.begin() + static_cast<std::ptrdiff_t>(off))) << off;
  }
  EXPECT_THROW(s->readAt(200000 - 10, chunk), msg::ReadError);
  EXPECT_EQ(data->load(), big);
  EXPECT_TRUE(p.findTag(0x00710102)->inMemory());
  EXPECT_FALSE(p.findTag(0x1000001F)->inMemory());
  EXPECT_EQ(p.findTag(0x1000001F)->text(), std::u16string(700, u'x'));
}

TEST(MessageReader, BigAttachmentFromAFileReadsInChunks) {
  // Past 7 MB a version 3 file needs DIFAT sectors; the value must stay on disk.
  const core::Bytes big = pattern(9 * 1024 * 1024 + 17);
  cfb::Writer w;
  const auto a = w.addStorage(w.root(), numbered("__attach_version1.0_#", 0));
  writeProps(w, a, 8, {TestProp::fixedValue(0x37050003, 1), TestProp::bytes(0x37010102, big)});
  writeProps(w, w.root(), 32, {}, 0, 1);
  const auto path = std::filesystem::temp_directory_path() / "parvane_msg_big_attachment.msg";
  {
    const auto image = w.finish();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  const auto f = msg::MessageFile::open(path);
  std::filesystem::remove(path);  // the open file stays readable
  const auto* data = f.message().attachments().at(0).data();
  ASSERT_NE(data, nullptr);
  EXPECT_FALSE(data->inMemory());
  auto s = data->open();
  core::Bytes chunk(1 << 16);
  bool same = s->size() == big.size();
  for (std::uint64_t off = 0; same && off < s->size(); off += chunk.size()) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), s->size() - off));
    s->readAt(off, std::span<std::uint8_t>(chunk.data(), n));
    same = std::equal(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n),
                      big.begin() + static_cast<std::ptrdiff_t>(off));
  }
  EXPECT_TRUE(same);
}

TEST(MessageReader, MissingStreamsAreSkippedWithWarnings) {
  auto missing = TestProp::bytes(0x00710102, pattern(4));
  missing.omitStream = true;
  // An MV string whose item stream is absent: only the length stream exists.
  auto missingItem = TestProp::fixedValue(0x0052101F, 4);
  cfb::Writer w;
  writeProps(w, w.root(), 32, {TestProp::unicode(0x0037001F, u"kept"), missing, missingItem});
  w.addStream(w.root(), u"__substg1.0_0052101F", core::Bytes{4, 0, 0, 0});
  const auto f = readImage(w.finish());
  EXPECT_EQ(f.message().properties().size(), 1u);
  EXPECT_EQ(f.message().properties().text(0x37), u"kept");
  ASSERT_EQ(f.warnings().size(), 2u);
  EXPECT_NE(f.warnings()[0].find("__substg1.0_00710102 is missing"), std::string::npos) << f.warnings()[0];
  EXPECT_NE(f.warnings()[1].find("__substg1.0_0052101F-00000000"), std::string::npos) << f.warnings()[1];
}

TEST(MessageReader, WarningsAreCappedAndCounted) {
  std::vector<TestProp> props;
  for (std::uint32_t i = 0; i < 300; ++i) {
    auto p = TestProp::bytes(((0x6000 + i) << 16) | 0x0102, {1});
    p.omitStream = true;
    props.push_back(p);
  }
  props.push_back(TestProp::fixedValue(0x3FFD0003, 4242));  // a code page nobody knows
  const auto f = readImage(simpleMessage(props));
  ASSERT_EQ(f.warnings().size(), 201u);
  EXPECT_NE(f.warnings()[0].find("code page 4242 is not supported"), std::string::npos) << f.warnings()[0];
  EXPECT_EQ(f.warnings().back(), "101 more warnings left out");  // 300 missing streams + the code page - 200
}

TEST(MessageReader, StructuralDamageIsAnErrorNamingTheFile) {
  EXPECT_NE(errorOf(core::Bytes(2000, 'x')).find("test.msg: not a compound file"), std::string::npos);
  {
    cfb::Writer w;
    w.addStream(w.root(), u"something", pattern(10));
    const auto err = errorOf(w.finish());
    EXPECT_NE(err.find("test.msg: message: stream __properties_version1.0 is missing"), std::string::npos) << err;
  }
  {
    const auto err = errorOf(simpleMessage({TestProp::fixedValue(0x00370077, 1)}));
    EXPECT_NE(err.find("property 0x00370077 type: 0077 is not a MAPI property type"), std::string::npos) << err;
  }
  {
    cfb::Writer w;
    w.addStream(w.root(), u"__properties_version1.0", core::Bytes(20, 0));  // shorter than its header
    const auto err = errorOf(w.finish());
    EXPECT_NE(err.find("the header alone needs 32"), std::string::npos) << err;
  }
  EXPECT_THROW((void)msg::MessageFile::open("/nonexistent/file.msg"), msg::ReadError);
}

TEST(MsgStreamNames, SpellTagsAndIndexesInEightUpperCaseHexDigits) {
  EXPECT_EQ(msg::format::substgName(0x0037001F), "__substg1.0_0037001F");
  EXPECT_EQ(msg::format::substgName(0x8001101E), "__substg1.0_8001101E");
  EXPECT_EQ(msg::format::substgItemName(0x8001101E, 10), "__substg1.0_8001101E-0000000A");
  EXPECT_EQ(msg::format::substgItemName(0xABCDEF01, 0xFFFFFFFF), "__substg1.0_ABCDEF01-FFFFFFFF");
}

TEST(MessageReader, ChildrenAreFoundWhateverTheCaseOfTheirNames) {
  auto value = TestProp::bytes(0x0FFF0102, pattern(20));
  value.omitStream = true;
  auto decoyed = TestProp::bytes(0x00710102, pattern(4));
  decoyed.omitStream = true;
  cfb::Writer w;
  const auto r = w.addStorage(w.root(), u"__Recip_Version1.0_#0000000a");
  writeProps(w, r, 8, {TestProp::unicode(0x3001001F, u"R")});
  const auto a = w.addStorage(w.root(), u"__ATTACH_VERSION1.0_#0000000B");
  writeProps(w, a, 8, {TestProp::fixedValue(0x37050003, 5), TestProp::fixedValue(0x3701000D, 0xFFFFFFFF)});
  const auto object = w.addStorage(a, u"__SUBSTG1.0_3701000d");
  writeProps(w, object, 24, {TestProp::unicode(0x0037001F, u"inner")});
  writeProps(w, w.root(), 32, {value, decoyed}, 1, 1);
  w.addStream(w.root(), u"__SubStg1.0_0FFF010a", {});  // another tag: not the value's stream
  w.addStream(w.root(), u"__SUBSTG1.0_0fff0102", pattern(20));
  w.addStream(w.root(), u"__substg1.0_0071010G", pattern(4));  // not hex: names no tag
  const auto f = readImage(w.finish());
  const auto& m = f.message();
  ASSERT_EQ(m.properties().size(), 1u);
  EXPECT_EQ(m.properties().findId(0x0FFF)->load(), pattern(20));
  ASSERT_EQ(m.recipients().size(), 1u);
  EXPECT_EQ(m.recipients()[0].number(), 10u);
  ASSERT_EQ(m.attachments().size(), 1u);
  EXPECT_EQ(m.attachments()[0].number(), 11u);
  ASSERT_NE(m.attachments()[0].embedded(), nullptr);
  EXPECT_EQ(m.attachments()[0].embedded()->properties().text(0x37), u"inner");
  ASSERT_EQ(f.warnings().size(), 1u);
  EXPECT_NE(f.warnings()[0].find("__substg1.0_00710102 is missing"), std::string::npos) << f.warnings()[0];
}
