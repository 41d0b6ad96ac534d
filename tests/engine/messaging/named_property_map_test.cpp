#include "engine/messaging/named_property_map.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace parvane::messaging {
namespace {

core::Bytes fromHex(const std::string& hex) {
  core::Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// tag -> value of the map node in Outlook's new store
std::map<std::uint32_t, core::Bytes> outlookMap() {
  std::ifstream in(std::string(PARVANE_SOURCE_DIR) + "/tests/engine/messaging/data/outlook_empty_nameid.txt");
  std::map<std::uint32_t, core::Bytes> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string tag, value;
    fields >> tag >> value;
    out[static_cast<std::uint32_t>(std::stoul(tag, nullptr, 16))] = fromHex(value);
  }
  return out;
}

std::map<std::uint32_t, core::Bytes> asMap(const PropertyList& list) {
  std::map<std::uint32_t, core::Bytes> out;
  for (const auto& v : list.all()) out[v.tag] = v.bytes;
  return out;
}

// Outlook pads the string stream with whatever was in memory; compare the names only.
void blankPadding(core::Bytes& strings) {
  std::size_t at = 0;
  while (at + 4 <= strings.size()) {
    std::size_t n = core::loadU32(strings.data() + at);
    std::size_t end = at + 4 + n;
    std::size_t padded = (end + 3) & ~std::size_t{3};
    for (std::size_t i = end; i < padded && i < strings.size(); ++i) strings[i] = 0;
    at = padded;
  }
}

TEST(NamedPropertyMap, OutlookDefaultSerialisesLikeOutlooksNewStore) {
  auto expected = outlookMap();
  ASSERT_EQ(expected.size(), 38u);  // count, three streams, 34 non-empty buckets
  auto actual = asMap(NamedPropertyMap::outlookDefault().toProperties());
  blankPadding(expected[0x00040102]);
  EXPECT_EQ(actual.size(), expected.size());
  for (const auto& [tag, value] : expected) {
    ASSERT_TRUE(actual.count(tag)) << std::hex << tag;
    EXPECT_EQ(actual[tag], value) << "tag 0x" << std::hex << tag;
  }
}

TEST(NamedPropertyMap, NewNamesGetTheNextIdsAndKeepThem) {
  auto map = NamedPropertyMap::outlookDefault();
  ASSERT_EQ(map.size(), 35u);
  PropertyName numbered{{0x08, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}, false, 0x8554, {}};
  PropertyName named{{0x29, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}, true, 0, u"X-Custom"};
  EXPECT_EQ(map.idFor(numbered), 0x8023);
  EXPECT_EQ(map.idFor(named), 0x8024);
  EXPECT_EQ(map.idFor(numbered), 0x8023);
  PropertyName keywords{{0x29, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}, true, 0, u"Keywords"};
  EXPECT_EQ(map.idFor(keywords), 0x8000 + 19);  // pre-filled by Outlook
  // the same name under another GUID is another property
  named.guid[0] = 0x99;
  EXPECT_EQ(map.idFor(named), 0x8025);
}

TEST(NamedPropertyMap, NewEntriesLandInTheBucketTheirHashSelects) {
  NamedPropertyMap map;
  PropertyName a{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, false, 251 * 3 + 7, {}};
  PropertyName b{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, true, 0, u"Name"};
  map.idFor(a);
  map.idFor(b);
  auto props = asMap(map.toProperties());
  // a: GUID index 3, numbered: wGuid 6; the bucket is (id ^ wGuid) % 251
  std::uint32_t bucketA = ((251 * 3 + 7) ^ 6u) % 251;
  ASSERT_TRUE(props.count(((0x1000 + bucketA) << 16) | 0x0102));
  const auto& recA = props[((0x1000 + bucketA) << 16) | 0x0102];
  ASSERT_EQ(recA.size(), 8u);
  EXPECT_EQ(core::loadU32(recA.data()), 251u * 3 + 7);
  EXPECT_EQ(core::loadU16(recA.data() + 4), 6);
  EXPECT_EQ(core::loadU16(recA.data() + 6), 0);
  // b: a string entry hashes its UTF-16 name
  const std::uint8_t name[] = {'N', 0, 'a', 0, 'm', 0, 'e', 0};
  std::uint32_t hash = storeCrc(name);
  std::uint32_t bucketB = (hash ^ 7u) % 251;
  const auto& recB = props[((0x1000 + bucketB) << 16) | 0x0102];
  ASSERT_GE(recB.size(), 8u);
  EXPECT_EQ(core::loadU32(recB.data() + recB.size() - 8), hash);
  // one GUID in the GUID stream; the string stream holds length and name
  EXPECT_EQ(props[0x00020102].size(), 16u);
  EXPECT_EQ(props[0x00040102].size(), 12u);
}

TEST(NamedPropertyMap, StoreCrcMatchesTheFormatsCheckValue) {
  // CRC-32 of "123456789" without seed or final inversion (Python: crc32(d, ~0) ^ ~0)
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(storeCrc(digits), 0x2DFD2D88u);
}

}  // namespace
}  // namespace parvane::messaging
