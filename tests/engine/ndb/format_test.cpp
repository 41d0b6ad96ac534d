// On-disk structures against Outlook's own files and against damage.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/ndb/errors.h"
#include "engine/ndb/format.h"

namespace parvane::ndb {
namespace {

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

const std::string kEmpty = std::string(PARVANE_SHARED_DIR) + "/corpus/pst/outlook-empty.pst";

TEST(NdbFormat, DecodesOutlookHeaderAndReEncodesItByteForByte) {
  Bytes file = readFile(kEmpty);
  ASSERT_GE(file.size(), kHeaderSize);
  HEADER h = decodeHeader(ByteView(file).first(kHeaderSize));
  EXPECT_EQ(h.wVer, 23);
  EXPECT_EQ(h.bCryptMethod, CryptMethod::Permute);
  EXPECT_EQ(h.bidNextB, 0x130u);
  EXPECT_EQ(h.bidNextP, 0x17Fu);
  EXPECT_EQ(h.dwUnique, 22u);
  EXPECT_EQ(h.root.ibFileEof, 271360u);
  EXPECT_EQ(h.root.ibAMapLast, 0x4400u);
  EXPECT_EQ(h.root.fAMapValid, AMapValidity::Valid2);
  EXPECT_EQ(h.rgnid[4], 0x10000u);
  auto again = encodeHeader(h);
  // Outlook leaves values in dwReserved1/2 and rgbReserved2, which a new file
  // zeroes; every other byte matches (the CRCs cover the reserved ones).
  for (std::size_t i = 0; i < kHeaderSize; ++i) {
    bool reserved = (i >= 16 && i < 24) || (i >= 528 && i < 531) || (i >= 4 && i < 8) || (i >= 524 && i < 528);
    if (!reserved) {
      EXPECT_EQ(again[i], file[i]) << "header byte " << i;
    }
  }
  HEADER back = decodeHeader(again);
  EXPECT_EQ(back.rgnid, h.rgnid);
  EXPECT_EQ(back.root.BREFNBT.ib, h.root.BREFNBT.ib);
  EXPECT_EQ(back.root.cbAMapFree, h.root.cbAMapFree);
}

TEST(NdbFormat, HeaderCrcAndMagicDamageIsNamed) {
  HEADER h;
  h.bidNextB = 8;
  auto b = encodeHeader(h);
  auto bad = b;
  bad[40] ^= 1;  // dwUnique, covered by both CRCs
  try {
    decodeHeader(bad);
    FAIL() << "damaged header accepted";
  } catch (const NdbError& e) {
    EXPECT_NE(std::string(e.what()).find("dwCRCPartial"), std::string::npos) << e.what();
  }
  bad = b;
  bad[520] ^= 1;  // bidNextB: only the full CRC covers it
  EXPECT_THROW(decodeHeader(bad), NdbError);
  bad = b;
  bad[0] = 'X';
  EXPECT_THROW(decodeHeader(bad), NdbError);
  EXPECT_THROW(decodeHeader(ByteView(b).first(100)), NdbError);
}

TEST(NdbFormat, OutlookPagesPassTheirChecksAndRoundTrip) {
  Bytes file = readFile(kEmpty);
  HEADER h = decodeHeader(ByteView(file).first(kHeaderSize));
  ByteView amap = ByteView(file).subspan(kFirstAMapOffset, kPageSize);
  EXPECT_EQ(checkPage(amap, PageType::AMap, kFirstAMapOffset).bid, kFirstAMapOffset);
  EXPECT_NO_THROW(checkPage(ByteView(file).subspan(0x4600, kPageSize), PageType::PMap, 0x4600));
  EXPECT_NO_THROW(checkPage(ByteView(file).subspan(kDListOffset, kPageSize), PageType::DList, kDListOffset));
  const BREF nbt = h.root.BREFNBT;
  BTPAGE page = decodeBtPage(ByteView(file).subspan(nbt.ib, kPageSize), PageType::NBT, nbt.bid, nbt.ib);
  std::array<std::uint8_t, kPageSize> out{};
  encodeBtPage(out, PageType::NBT, page, nbt.bid, nbt.ib);
  BTPAGE back = decodeBtPage(out, PageType::NBT, nbt.bid, nbt.ib);
  ASSERT_EQ(back.cLevel, page.cLevel);
  ASSERT_EQ(back.index.size() + back.nodes.size(), page.index.size() + page.nodes.size());
  // a changed byte is caught by the CRC, a page read from another place by the signature
  out[3] ^= 0x10;
  EXPECT_THROW(decodeBtPage(out, PageType::NBT, nbt.bid, nbt.ib), NdbError);
  encodeBtPage(out, PageType::NBT, page, nbt.bid, nbt.ib);
  EXPECT_THROW(decodeBtPage(out, PageType::NBT, nbt.bid, nbt.ib + kPageSize), NdbError);
  EXPECT_THROW(decodeBtPage(out, PageType::BBT, nbt.bid, nbt.ib), NdbError);
}

TEST(NdbFormat, BtPagesHoldTheirCapacityAndRefuseMore) {
  BTPAGE p;
  for (Nid n = 1; n <= kNbtEntriesPerPage; ++n) p.nodes.push_back(NBTENTRY{n * 32 + 1, n * 4, 0, 0x122});
  std::array<std::uint8_t, kPageSize> out{};
  encodeBtPage(out, PageType::NBT, p, 7, 0x8000);
  EXPECT_EQ(out[488], 15);
  EXPECT_EQ(out[489], 15);
  EXPECT_EQ(out[490], 32);
  EXPECT_EQ(decodeBtPage(out, PageType::NBT, 7, 0x8000).nodes.back().nidParent, 0x122u);
  p.nodes.push_back(NBTENTRY{999, 4, 0, 0});
  EXPECT_THROW(encodeBtPage(out, PageType::NBT, p, 7, 0x8000), NdbError);
}

TEST(NdbFormat, BlocksAreSealedAndVerified) {
  for (std::size_t cb : {std::size_t{0}, std::size_t{1}, std::size_t{48}, std::size_t{49}, kMaxBlockData}) {
    Bytes data(cb, 0x5A);
    Bytes disk(blockDiskSize(cb));
    EXPECT_EQ(disk.size() % 64, 0u);
    EXPECT_LE(disk.size(), kMaxBlockSize);
    encodeBlock(disk, data, 0x44, 0x10000);
    ByteView stored = checkBlock(disk, static_cast<std::uint16_t>(cb), 0x44, 0x10000);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), data.begin(), data.end()));
    EXPECT_THROW(checkBlock(disk, static_cast<std::uint16_t>(cb), 0x48, 0x10000), NdbError);
    if (cb) {
      disk[0] ^= 1;
      EXPECT_THROW(checkBlock(disk, static_cast<std::uint16_t>(cb), 0x44, 0x10000), NdbError);
    }
  }
  EXPECT_EQ(blockDiskSize(48), 64u);
  EXPECT_EQ(blockDiskSize(49), 128u);
  Bytes tooBig(kMaxBlockData + 1);
  Bytes disk(kMaxBlockSize + 64);
  EXPECT_THROW(encodeBlock(disk, tooBig, 4, 0x4800), NdbError);
}

TEST(NdbFormat, EncodingsInvertAndPermuteMatchesOutlookData) {
  Bytes plain(300);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
  for (CryptMethod m : {CryptMethod::None, CryptMethod::Permute, CryptMethod::Cyclic}) {
    Bytes b = plain;
    encodeData(m, b, 0x1234);
    if (m != CryptMethod::None) {
      EXPECT_NE(b, plain);
    }
    // encoding while copying gives the same bytes, leaving the source as it was
    Bytes copy(plain.size(), 0xAA);
    const Bytes source = plain;
    encodeDataInto(m, source, copy.data(), 0x1234);
    EXPECT_EQ(copy, b);
    EXPECT_EQ(source, plain);
    decodeData(m, b, 0x1234);
    EXPECT_EQ(b, plain);
  }
  // A heap in Outlook's empty store decodes to the HNHDR signature 0xEC.
  Bytes file = readFile(kEmpty);
  HEADER h = decodeHeader(ByteView(file).first(kHeaderSize));
  const BREF bbt = h.root.BREFBBT;
  BTPAGE root = decodeBtPage(ByteView(file).subspan(bbt.ib, kPageSize), PageType::BBT, bbt.bid, bbt.ib);
  BREF leafRef = root.cLevel ? root.index[0].bref : bbt;
  BTPAGE leaf = decodeBtPage(ByteView(file).subspan(leafRef.ib, kPageSize), PageType::BBT, leafRef.bid, leafRef.ib);
  int heaps = 0;
  for (const auto& e : leaf.blocks) {
    if (isInternalBid(e.bref.bid) || e.cb < 4) continue;
    Bytes b(file.begin() + static_cast<std::ptrdiff_t>(e.bref.ib),
            file.begin() + static_cast<std::ptrdiff_t>(e.bref.ib + e.cb));
    decodeData(CryptMethod::Permute, b, e.bref.bid);
    heaps += b[2] == 0xEC;
  }
  EXPECT_GT(heaps, 5);
}

TEST(NdbFormat, InternalBlocksRoundTripAndRejectMalformedCounts) {
  XBLOCK x;
  x.cLevel = 1;
  x.lcbTotal = 3 * 8176;
  x.rgbid = {4, 8, 12};
  XBLOCK back = decodeXBlock(encodeXBlock(x));
  EXPECT_EQ(back.rgbid, x.rgbid);
  EXPECT_EQ(back.lcbTotal, x.lcbTotal);
  Bytes enc = encodeXBlock(x);
  enc[2] = 9;  // cEnt beyond the block
  EXPECT_THROW(decodeXBlock(enc), NdbError);
  x.rgbid.assign(kXBlockMaxEntries + 1, 4);
  EXPECT_THROW(encodeXBlock(x), NdbError);

  SUBNODEBLOCK s;
  s.leaves = {{0x671, 4, 0}, {0x692, 8, 10}};
  SUBNODEBLOCK sb = decodeSubnodeBlock(encodeSubnodeBlock(s));
  ASSERT_EQ(sb.leaves.size(), 2u);
  EXPECT_EQ(sb.leaves[1].nid, 0x692u);
  EXPECT_EQ(sb.leaves[1].bidSub, 10u);
  EXPECT_EQ(encodeSubnodeBlock(s).size(), 8u + 2 * 24);
  SUBNODEBLOCK empty;
  EXPECT_THROW(encodeSubnodeBlock(empty), NdbError);
}

TEST(NdbFormat, MapPagesFollowTheirAMapAtTheRightIndexes) {
  EXPECT_EQ(mapPagesAfterAMap(0), std::vector<PageType>{PageType::PMap});
  EXPECT_TRUE(mapPagesAfterAMap(1).empty());
  EXPECT_EQ(mapPagesAfterAMap(8), std::vector<PageType>{PageType::PMap});
  EXPECT_EQ(mapPagesAfterAMap(128), (std::vector<PageType>{PageType::PMap, PageType::FMap}));
  EXPECT_TRUE(mapPagesAfterAMap(129).empty());
  EXPECT_EQ(mapPagesAfterAMap(624), (std::vector<PageType>{PageType::PMap, PageType::FMap}));
  EXPECT_EQ(mapPagesAfterAMap(8192), (std::vector<PageType>{PageType::PMap, PageType::FPMap}));
  EXPECT_EQ(amapOffset(1), 0x4400u + 253952u);
}

}  // namespace
}  // namespace parvane::ndb
