// Heap-on-node and BTH layout: builder and reader against each other and
// against the format's limits.
#include <gtest/gtest.h>

#include "../ndb/oracles.h"
#include "engine/ltp/bth.h"
#include "engine/ltp/errors.h"
#include "engine/ltp/heap.h"

namespace parvane::ltp {
namespace {

TEST(Heap, AllocationsRoundTripAcrossManyBlocks) {
  HeapBuilder b(ClientSig::PC);
  std::vector<std::pair<Hid, Bytes>> items;
  for (std::uint32_t i = 0; i < 4000; ++i) {
    Bytes v(i % 700, static_cast<std::uint8_t>(i));
    items.emplace_back(b.allocate(v), v);
  }
  b.setUserRoot(items[5].first);
  auto blocks = b.build();
  ASSERT_GT(blocks.size(), 130u) << "needs a second bitmap header block";
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_LE(blocks[i].size(), 8176u);
    EXPECT_EQ(core::loadU16(blocks[i].data()) % 2, 0u) << "page map at an even offset";
  }
  EXPECT_EQ(blocks[0][2], 0xEC);
  EXPECT_EQ(blocks[0][3], 0xBC);
  HeapReader r(blocks);
  EXPECT_EQ(r.userRoot(), items[5].first);
  EXPECT_EQ(r.clientSig(), ClientSig::PC);
  for (const auto& [hid, v] : items) {
    ByteView got = r.get(hid);
    ASSERT_EQ(Bytes(got.begin(), got.end()), v) << std::hex << hid;
  }
  // the first allocation is HID 0x20 and blocks 8 and 136 carry the 66-byte bitmap header
  EXPECT_EQ(items[0].first, 0x20u);
  for (std::size_t bi : {std::size_t{8}, std::size_t{136}}) {
    bool found = false;
    for (const auto& [hid, v] : items)
      if (hidBlockIndex(hid) == bi && hidIndex(hid) == 1) {
        found = true;
        EXPECT_EQ(core::loadU16(blocks[bi].data() + core::loadU16(blocks[bi].data()) + 4), 66u);
      }
    EXPECT_TRUE(found);
  }
}

// write() seals each block in the builder's own storage: what it writes must
// be what build() gives, and the heap must be as it was afterwards (headers
// of blocks 0, 8 and 136 included).
TEST(Heap, WrittenBlocksAreTheBuiltOnesAndTheHeapStaysAsItWas) {
  parvane::testing::TempDir dir;
  auto store = ndb::NodeStore::create(dir.file("heap.pst"));
  HeapBuilder b(ClientSig::TC);
  for (std::uint32_t i = 0; i < 4000; ++i) b.allocate(Bytes(i % 700, static_cast<std::uint8_t>(i)));
  b.setUserRoot(0x20);
  const auto built = b.build();
  ASSERT_GT(built.size(), 136u);
  for (int round = 0; round < 2; ++round) {
    ndb::NodeData data = b.write(*store);
    EXPECT_EQ(ndb::readDataBlocks(*store, data.bidData), built) << "round " << round;
    EXPECT_EQ(b.build(), built) << "round " << round;
    store->release(data);
  }
}

TEST(Heap, LimitsAndBadHidsAreRefused) {
  HeapBuilder b(ClientSig::TC);
  EXPECT_NO_THROW(b.allocate(3580));
  EXPECT_THROW(b.allocate(3581), LtpError);
  Hid h = b.allocate(Bytes{1, 2, 3});
  HeapReader r(b.build());
  EXPECT_EQ(r.get(h).size(), 3u);
  EXPECT_TRUE(r.get(0).empty());
  EXPECT_THROW(r.get(h + 0x20), LtpError);       // index past cAlloc
  EXPECT_THROW(r.get(h | 0x1), LtpError);        // not a HID
  EXPECT_THROW(r.get(makeHid(5, 1)), LtpError);  // no such block
}

TEST(Heap, MalformedPageMapsAreNamed) {
  HeapBuilder b(ClientSig::PC);
  b.allocate(Bytes(10, 1));
  auto blocks = b.build();
  auto bad = blocks;
  core::storeU16(bad[0].data(), 0x4000);  // ibHnpm beyond the block
  EXPECT_THROW(HeapReader{bad}, LtpError);
  bad = blocks;
  bad[0][2] = 0xEE;  // bSig
  try {
    HeapReader x(bad);
    FAIL();
  } catch (const LtpError& e) {
    EXPECT_NE(std::string(e.what()).find("bSig"), std::string::npos);
  }
  bad = blocks;
  std::size_t ib = core::loadU16(bad[0].data());
  core::storeU16(bad[0].data() + ib, 500);  // cAlloc overruns
  EXPECT_THROW(HeapReader{bad}, LtpError);
  EXPECT_THROW(HeapReader{std::vector<Bytes>{}}, LtpError);
}

TEST(Bth, SingleAndMultiLevelTreesRoundTrip) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{447}, std::size_t{448}, std::size_t{100000}}) {
    HeapBuilder heap(ClientSig::BTH);
    std::vector<BthRecord> recs;
    for (std::size_t i = 0; i < n; ++i) {
      BthRecord r;
      r.key = i * 3 + 1;
      r.data = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0, 7};
      recs.push_back(r);
    }
    Hid root = buildBth(heap, 4, 4, recs);
    HeapReader reader(heap.build());
    BTHHEADER h = decodeBthHeader(reader.get(root));
    EXPECT_EQ(h.cbKey, 4);
    EXPECT_EQ(h.cbEnt, 4);
    EXPECT_EQ(h.hidRoot == 0, n == 0);
    EXPECT_EQ(h.bIdxLevels, n > 447 ? (n > 447 * 447 ? 2 : 1) : 0) << n;
    auto back = readBth(reader, root, 4, 4);
    ASSERT_EQ(back.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(back[i].key, recs[i].key);
      ASSERT_EQ(back[i].data, recs[i].data);
    }
    EXPECT_THROW(readBth(reader, root, 2, 6), LtpError);
  }
}

TEST(Bth, UnsortedOrIllSizedRecordsAreRefused) {
  HeapBuilder heap(ClientSig::BTH);
  std::vector<BthRecord> recs{{5, Bytes(6)}, {5, Bytes(6)}};
  EXPECT_THROW(buildBth(heap, 2, 6, recs), LtpError);
  recs = {{5, Bytes(6)}, {6, Bytes(5)}};
  EXPECT_THROW(buildBth(heap, 2, 6, recs), LtpError);
  EXPECT_THROW(buildBth(heap, 3, 6, {}), LtpError);
}

TEST(Bth, PackedRecordsBuildTreesTheReaderWalks) {
  // 8-byte keys past 32 bits: a leaf's first key heads it in the index
  for (std::size_t n : {std::size_t{1}, std::size_t{3580 / 12}, std::size_t{3580 / 12 + 1}, std::size_t{5000}}) {
    Bytes packed;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint64_t key = (std::uint64_t{i} << 33) | 5;
      for (int b = 0; b < 8; ++b) packed.push_back(static_cast<std::uint8_t>(key >> (8 * b)));
      for (std::size_t b = 0; b < 4; ++b) packed.push_back(static_cast<std::uint8_t>(i + b));
    }
    HeapBuilder heap(ClientSig::BTH);
    std::vector<Hid> leaves;
    Hid root = buildBthPacked(heap, 8, 4, packed, 0, &leaves);
    EXPECT_EQ(leaves.size(), (n + 3580 / 12 - 1) / (3580 / 12)) << n;
    HeapReader reader(heap.build());
    auto back = readBth(reader, root, 8, 4);
    ASSERT_EQ(back.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(back[i].key, (std::uint64_t{i} << 33) | 5) << i;
      ASSERT_EQ(back[i].data, (Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i + 1),
                                     static_cast<std::uint8_t>(i + 2), static_cast<std::uint8_t>(i + 3)}));
    }
  }
  HeapBuilder heap(ClientSig::BTH);
  const Bytes repeated{1, 0, 9, 9, 1, 0, 9, 9};  // key 1 twice
  EXPECT_THROW(buildBthPacked(heap, 2, 2, repeated), LtpError);
  const Bytes descending{2, 0, 9, 9, 1, 0, 9, 9};
  EXPECT_THROW(buildBthPacked(heap, 2, 2, descending), LtpError);
  EXPECT_THROW(buildBthPacked(heap, 2, 2, ByteView(descending).first(7)), LtpError);
}

}  // namespace
}  // namespace parvane::ltp

namespace parvane::ltp {
namespace {

TEST(Bth, AnIndexThatRepeatsAChildIsRefused) {
  HeapBuilder heap(ClientSig::BTH);
  Hid leaf = heap.allocate(Bytes{1, 0, 0, 0, 9, 9, 9, 9});  // key 1, data 9999
  Bytes index;
  core::ByteWriter w(index);
  for (std::uint32_t k = 1; k <= 3; ++k) {  // the same leaf under three keys
    w.u32(k);
    w.u32(leaf);
  }
  Hid idx = heap.allocate(index);
  BTHHEADER h;
  h.cbKey = 4;
  h.cbEnt = 4;
  h.bIdxLevels = 1;
  h.hidRoot = idx;
  Hid hdr = heap.allocate(encodeBthHeader(h));
  HeapReader r(heap.build());
  EXPECT_THROW(readBth(r, hdr, 4, 4), LtpError);
}

}  // namespace
}  // namespace parvane::ltp
