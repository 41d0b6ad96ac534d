// Compound files: what the writer makes the reader reads back, in both
// versions; names compare by the format's rule; and every kind of structural
// damage ends in cfb::Error naming the file and the structure.
#include <gtest/gtest.h>

#include <functional>

#include "engine/cfb/compound_file.h"
#include "engine/cfb/writer.h"
#include "engine/core/source.h"

using namespace parvane;

namespace {

core::Bytes pattern(std::size_t n, unsigned seed = 1) {
  core::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + i / 509) & 0xFF);
  return b;
}

std::shared_ptr<const cfb::CompoundFile> openImage(core::Bytes image) {
  return cfb::CompoundFile::open(std::make_shared<core::MemorySource>(std::move(image)), "t.cfb");
}

std::string errorOf(core::Bytes image, bool readAllStreams = true) {
  try {
    auto f = openImage(std::move(image));
    if (readAllStreams) {
      for (std::uint32_t i = 0; i < f->entryCount(); ++i) {
        const auto& e = f->entry(i);
        if (e.isStream() && (e.parent != 0xFFFFFFFF)) (void)f->readStream(e, e.size);
      }
    }
  } catch (const cfb::Error& e) {
    return e.what();
  }
  return "no error";
}

// Offsets inside images from the writer, which lays out FAT sectors, then the
// directory, then the mini FAT, the mini stream and the big streams.
std::size_t dirEntryOffset(const core::Bytes& image, std::uint32_t id) {
  const std::uint32_t ss = 1u << core::loadU16(image.data() + 0x1E);
  return (core::loadU32(image.data() + 0x30) + 1u) * ss + 128u * id;
}
void setLink(core::Bytes& image, std::uint32_t id, std::size_t field, std::uint32_t value) {
  core::storeU32(image.data() + dirEntryOffset(image, id) + field, value);
}
constexpr std::size_t kLeft = 68, kRight = 72, kChild = 76, kStart = 116, kSize = 120;

// Root with storage "A" (id 1) holding a mini stream "s" (id 2) and a big
// stream "big" (id 3); stream "top" (id 4) at the root.
core::Bytes sample() {
  cfb::Writer w;
  const auto a = w.addStorage(w.root(), u"A");
  w.addStream(a, u"s", pattern(100));
  w.addStream(a, u"big", pattern(5000));
  w.addStream(w.root(), u"top", pattern(10));
  return w.finish();
}

}  // namespace

class CompoundFileVersions : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(CompoundFileVersions, WriterOutputReadsBack) {
  cfb::Writer w(GetParam());
  const std::vector<std::size_t> sizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 70000};
  const auto sub = w.addStorage(w.root(), u"Sub");
  const auto deeper = w.addStorage(sub, u"Deeper");
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    w.addStream(i % 2 ? sub : w.root(), u"s" + std::u16string(1, static_cast<char16_t>(u'a' + i)), pattern(sizes[i], static_cast<unsigned>(i)));
  }
  w.addStream(deeper, u"leaf", pattern(3));
  std::array<std::uint8_t, 16> clsid{};
  clsid[15] = 9;
  w.setClsid(sub, clsid);
  const auto f = openImage(w.finish());

  EXPECT_EQ(f->majorVersion(), GetParam());
  EXPECT_EQ(f->sectorSize(), GetParam() == 4 ? 4096u : 512u);
  const auto* s = f->child(f->root(), "SUB");  // names compare without case
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->isStorage());
  EXPECT_EQ(s->clsid, clsid);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto& parent = i % 2 ? *s : f->root();
    const auto* e = f->child(parent, u"s" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
    ASSERT_NE(e, nullptr) << i;
    EXPECT_EQ(e->size, sizes[i]);
    EXPECT_EQ(f->readStream(*e, e->size), pattern(sizes[i], static_cast<unsigned>(i))) << "size " << sizes[i];
  }
  EXPECT_EQ(f->readStream(*f->child(*f->child(*s, "deeper"), "leaf"), 10), pattern(3));
  EXPECT_EQ(f->child(f->root(), "missing"), nullptr);
  EXPECT_EQ(f->root().children.size(), 6u);  // Sub and five streams
}

TEST_P(CompoundFileVersions, ChunkedReadsAcrossSectorBoundaries) {
  cfb::Writer w(GetParam());
  const core::Bytes big = pattern(50000), small = pattern(3000, 5);
  w.addStream(w.root(), u"small", small);  // interleave chains: not one run on disk
  w.addStream(w.root(), u"big", big);
  const auto f = openImage(w.finish());
  for (const auto& [name, data] : {std::pair{"big", &big}, std::pair{"small", &small}}) {
    auto s = f->openStream(*f->child(f->root(), name));
    for (std::size_t off = 0; off < data->size(); off += 777) {
      core::Bytes chunk(std::min<std::size_t>(1500, data->size() - off));
      s->readAt(off, chunk);
      ASSERT_TRUE(std::equal(chunk.begin(), chunk.end(), data->begin() + static_cast<std::ptrdiff_t>(off))) << off;
    }
    core::Bytes one(1);
    EXPECT_THROW(s->readAt(data->size(), one), core::TruncatedError);
  }
}

INSTANTIATE_TEST_SUITE_P(V3AndV4, CompoundFileVersions, ::testing::Values(3, 4));

TEST(CompoundFile, FilesLargerThanTheHeaderFatListUseTheDifat) {
  // 109 FAT sectors of a version 3 file cover about 7 MB; this needs more.
  cfb::Writer w;
  const core::Bytes big = pattern(8 * 1024 * 1024 + 123);
  w.addStream(w.root(), u"big", big);
  const auto image = w.finish();
  EXPECT_GT(core::loadU32(image.data() + 0x48), 0u);  // csectDif
  const auto f = openImage(image);
  EXPECT_EQ(f->readStream(*f->child(f->root(), "big"), big.size()), big);
}

// A source the reader cannot see through, as a file on disk is.
class OpaqueSource final : public core::ByteSource {
 public:
  explicit OpaqueSource(core::Bytes data) : data_(std::move(data)) {}
  std::uint64_t size() const override { return data_.size(); }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    core::checkRange("opaque", offset, out.size(), data_.size());
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  }

 private:
  core::Bytes data_;
};

TEST(CompoundFile, EveryKindOfSourceReadsTheSameBytes) {
  // Small files are read whole when opened; larger ones sector by sector, with
  // the mini stream kept once read.
  for (const std::size_t bigSize : {std::size_t{20000}, std::size_t{300000}}) {
    cfb::Writer w;
    const auto a = w.addStorage(w.root(), u"A");
    std::vector<std::pair<std::string, core::Bytes>> streams;
    for (unsigned i = 0; i < 6; ++i) streams.emplace_back("m" + std::to_string(i), pattern(50 + 300 * i, i));
    streams.emplace_back("big", pattern(bigSize, 7));
    for (const auto& [name, data] : streams) w.addStream(a, std::u16string(name.begin(), name.end()), data);
    const auto image = w.finish();
    const std::vector<std::shared_ptr<const core::ByteSource>> sources = {
        std::make_shared<core::MemorySource>(image), std::make_shared<core::ViewSource>(image),
        std::make_shared<OpaqueSource>(image)};
    for (std::size_t k = 0; k < sources.size(); ++k) {
      const auto f = cfb::CompoundFile::open(sources[k], "t.cfb");
      const auto* storage = f->child(f->root(), "a");
      ASSERT_NE(storage, nullptr);
      for (const auto& [name, data] : streams) {
        const auto* e = f->child(*storage, name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(f->readStream(*e, e->size), data) << name << " source " << k << " size " << bigSize;
        core::Bytes reused(3, 0xAA);
        f->readStreamInto(*e, e->size, reused);
        EXPECT_EQ(reused, data) << name;
        const auto s = f->openStream(*e);
        core::Bytes tail(std::min<std::size_t>(100, data.size() - 1));
        s->readAt(1, tail);
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), data.begin() + 1)) << name << " source " << k;
      }
    }
  }
}

// OpaqueSource counting its reads.
class CountingSource final : public core::ByteSource {
 public:
  explicit CountingSource(core::Bytes data) : data_(std::move(data)) {}
  std::uint64_t size() const override { return data_.size(); }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    ++reads;
    data_.readAt(offset, out);
  }
  mutable std::size_t reads = 0;

 private:
  OpaqueSource data_;
};

// The sectors of the FAT chain from `first` in a version 3 image whose FAT
// begins at sector 0 (as the writer lays it out).
std::vector<std::uint32_t> chainIn(const core::Bytes& image, std::uint32_t first) {
  std::vector<std::uint32_t> chain;
  for (std::uint32_t s = first; s != 0xFFFFFFFE; s = core::loadU32(image.data() + 512 + 4 * s)) chain.push_back(s);
  return chain;
}

// `image` with the sectors of `chain` rearranged: logical sector j of the
// chain moves to sector order[j] (a permutation of the chain's sectors) and
// the FAT links them in that order. Returns the chain's new first sector.
std::uint32_t rearrange(core::Bytes& image, const std::vector<std::uint32_t>& chain,
                        const std::vector<std::uint32_t>& order) {
  const core::Bytes before = image;
  for (std::size_t j = 0; j < order.size(); ++j) {
    std::copy_n(before.begin() + (chain[j] + 1) * 512, 512, image.begin() + (order[j] + 1) * 512);
    core::storeU32(image.data() + 512 + 4 * order[j], j + 1 < order.size() ? order[j + 1] : 0xFFFFFFFE);
  }
  return order[0];
}

TEST(CompoundFile, LargeFilesReadScatteredSectorsInStretches) {
  // A file too large to be read whole, with its directory and a big stream
  // laid out in three ways: in order, every other sector first (gaps between
  // the sectors read), and pairs swapped (a chain going back). Each must read
  // as the file in memory does, with far fewer reads than sectors.
  cfb::Writer w;
  std::vector<std::pair<std::u16string, core::Bytes>> streams;
  for (unsigned i = 0; i < 120; ++i) {
    const std::string name = "stream " + std::to_string(i);
    streams.emplace_back(std::u16string(name.begin(), name.end()), pattern(20 + 37 * i, i));
  }
  streams.emplace_back(u"big", pattern(300000, 3));
  for (const auto& [name, data] : streams) w.addStream(w.root(), name, data);
  const auto image = w.finish();
  const auto dir = chainIn(image, core::loadU32(image.data() + 0x30));
  ASSERT_GT(dir.size(), 20u);
  const std::uint32_t bigId = openImage(image)->child(openImage(image)->root(), "big")->id;
  const auto big = chainIn(image, core::loadU32(image.data() + dirEntryOffset(image, bigId) + kStart));

  using Layout = std::function<std::vector<std::uint32_t>(std::vector<std::uint32_t>)>;
  const Layout inOrder = [](std::vector<std::uint32_t> c) { return c; };
  const Layout gaps = [](std::vector<std::uint32_t> c) {
    std::vector<std::uint32_t> order;
    for (std::size_t j = 0; j < c.size(); j += 2) order.push_back(c[j]);
    for (std::size_t j = 1; j < c.size(); j += 2) order.push_back(c[j]);
    return order;
  };
  const Layout swapped = [](std::vector<std::uint32_t> c) {
    for (std::size_t j = 0; j + 1 < c.size(); j += 2) std::swap(c[j], c[j + 1]);
    return c;
  };
  for (const auto& layout : {inOrder, gaps, swapped}) {
    auto bytes = image;
    // The big stream first: its directory entry still lies where the writer put it.
    const std::uint32_t bigStart = rearrange(bytes, big, layout(big));
    core::storeU32(bytes.data() + dirEntryOffset(bytes, bigId) + kStart, bigStart);
    core::storeU32(bytes.data() + 0x30, rearrange(bytes, dir, layout(dir)));

    const auto source = std::make_shared<CountingSource>(bytes);
    const auto f = cfb::CompoundFile::open(source, "t.cfb");
    EXPECT_LT(source->reads, dir.size() / 2);
    const auto inMemory = openImage(bytes);
    ASSERT_EQ(f->entryCount(), inMemory->entryCount());
    for (const auto& [name, data] : streams) {
      const auto* e = f->child(f->root(), name);
      ASSERT_NE(e, nullptr);
      const std::size_t readsBefore = source->reads;
      EXPECT_EQ(f->readStream(*e, e->size), data);
      if (name == u"big") {
        EXPECT_LT(source->reads - readsBefore, big.size() / 16);
      }
      EXPECT_EQ(inMemory->readStream(*inMemory->child(inMemory->root(), name), e->size), data);
    }
  }
}

TEST(CompoundFile, LargeFilesNameTheSectorPastTheEndAsSmallOnesDo) {
  // A FAT sector and a directory sector past the end of a file read on
  // demand: the error names the same sector as for the file in memory.
  cfb::Writer w;
  w.addStream(w.root(), u"big", pattern(300000, 3));
  const auto image = w.finish();
  auto fat = image;
  core::storeU32(fat.data() + 0x4C + 4 * 1, 0x00ABCDEF);  // the second FAT sector
  auto directory = image;
  const std::uint32_t dirStart = core::loadU32(image.data() + 0x30);
  core::storeU32(directory.data() + 512 + 4 * dirStart, 0x00ABCDEF);  // its chain runs off the file
  for (const auto& [damaged, expected] : {std::pair{fat, std::string("FAT sector 1: sector 0xABCDEF lies past the end")},
                                         std::pair{directory, std::string("directory: chain reaches sector 0xABCDEF")}}) {
    for (const bool onDisk : {false, true}) {
      std::string err = "no error";
      try {
        if (onDisk) (void)cfb::CompoundFile::open(std::make_shared<OpaqueSource>(damaged), "t.cfb");
        else (void)openImage(damaged);
      } catch (const cfb::Error& e) {
        err = e.what();
      }
      EXPECT_NE(err.find(expected), std::string::npos) << err;
    }
  }
}

TEST(CompoundFile, EntriesOutsideTheTreeHaveTheirChainsCheckedWhenRead) {
  // "A" and what it holds are cut off the tree: nothing of theirs is checked
  // when the file is opened, so their streams are checked as they are read.
  auto image = sample();
  setLink(image, 4, kLeft, 0xFFFFFFFF);
  {
    const auto f = openImage(image);
    EXPECT_EQ(f->entry(3).parent, 0xFFFFFFFFu);
    EXPECT_EQ(f->readStream(f->entry(3), 5000), pattern(5000));
    EXPECT_EQ(f->readStream(f->entry(2), 100), pattern(100));
  }
  const auto first = core::loadU32(image.data() + dirEntryOffset(image, 3) + kStart);
  core::storeU32(image.data() + 512 + 4 * (first + 3), first + 1);
  const auto f = openImage(image);
  try {
    (void)f->readStream(f->entry(3), 5000);
    ADD_FAILURE() << "a looping chain was read";
  } catch (const cfb::Error& e) {
    EXPECT_NE(std::string(e.what()).find("stream 'big': sector chain loops back to sector"), std::string::npos) << e.what();
  }
}

TEST(CompoundFile, ChildLookupIgnoresCaseBeyondAscii) {
  cfb::Writer w;
  w.addStream(w.root(), u"\u00E9t\u00E9", pattern(1));
  w.addStream(w.root(), u"\u0434\u0430", pattern(2));
  const std::u16string longest(31, u'x');
  w.addStream(w.root(), longest, pattern(3));
  const auto f = openImage(w.finish());
  ASSERT_NE(f->child(f->root(), u"\u00C9T\u00C9"), nullptr);
  EXPECT_EQ(f->child(f->root(), u"\u00C9T\u00C9")->size, 1u);
  ASSERT_NE(f->child(f->root(), std::string_view("\xC9T\xC9")), nullptr);  // bytes are taken as Latin-1
  EXPECT_EQ(f->child(f->root(), u"\u0414\u0410")->size, 2u);
  ASSERT_NE(f->child(f->root(), std::string(31, 'X')), nullptr);
  EXPECT_EQ(f->child(f->root(), std::string(32, 'X')), nullptr);
  EXPECT_EQ(f->child(f->root(), u"\u00C9T"), nullptr);
}

TEST(CompoundFile, AsciiNamesOfEveryLengthMatchInEitherCaseOnly) {
  // Letters at their edges and the characters next to them, at every place
  // of names of every length.
  const std::u16string units = u"`az{@AZ[_.09";
  cfb::Writer w;
  std::vector<std::u16string> names;
  for (std::size_t len = 1; len <= 31; ++len) {
    std::u16string name;
    for (std::size_t i = 0; i < len; ++i) name.push_back(units[(i + len) % units.size()]);
    w.addStream(w.root(), name, pattern(len));
    names.push_back(name);
  }
  const auto f = openImage(w.finish());
  for (const auto& name : names) {
    std::u16string upper = name, shifted = name;
    for (auto& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    for (auto& c : shifted) c = c == u'`' ? u'@' : c == u'{' ? u'[' : c;
    const auto* e = f->child(f->root(), upper);
    ASSERT_NE(e, nullptr) << name.size();
    EXPECT_EQ(e->size, name.size());
    if (shifted != name) {
      EXPECT_EQ(f->child(f->root(), shifted), nullptr) << name.size();
    }
  }
}

TEST(CompoundFile, NamesCompareByLengthThenUpperCase) {
  EXPECT_LT(cfb::compareNames(u"zz", u"aaa"), 0);
  EXPECT_EQ(cfb::compareNames(u"Abc", u"aBC"), 0);
  EXPECT_LT(cfb::compareNames(u"abc", u"abd"), 0);
  EXPECT_TRUE(cfb::sameName(u"\u00E9t\u00E9", u"\u00C9T\u00C9"));
  EXPECT_TRUE(cfb::sameName(u"\u0434\u0430", u"\u0414\u0410"));
  EXPECT_FALSE(cfb::sameName(u"a", u"b"));
  // Latin Extended-A and the letters simple upper-casing sends to another
  // letter's capital: "łódź" is "ŁÓDŹ", and "ſı" is "SI".
  EXPECT_TRUE(cfb::sameName(u"\u0142\u00F3d\u017A", u"\u0141\u00D3D\u0179"));
  EXPECT_TRUE(cfb::sameName(u"\u017F\u0131", u"SI"));
  EXPECT_EQ(cfb::compareNames(u"x\u0101", u"X\u0100"), 0);
  EXPECT_EQ(cfb::nameKey(u"\u0155a"), u"\u0154A");
}

TEST(CompoundFile, HeaderDamage) {
  EXPECT_NE(errorOf(core::Bytes(100, 0)).find("t.cfb: header: file is 100 bytes"), std::string::npos);
  auto notCfb = sample();
  notCfb[0] = 'P';
  EXPECT_NE(errorOf(notCfb).find("not a compound file: header signature expected D0CF11E0A1B11AE1, found 50CF11E0"),
            std::string::npos);
  auto version = sample();
  core::storeU16(version.data() + 0x1A, 5);
  EXPECT_NE(errorOf(version).find("major version: expected 3 or 4, found 5"), std::string::npos);
  auto shift = sample();
  core::storeU16(shift.data() + 0x1E, 12);
  EXPECT_NE(errorOf(shift).find("version 3 expects 9, found 12"), std::string::npos);
  auto fatCount = sample();
  core::storeU32(fatCount.data() + 0x2C, 100000);
  EXPECT_NE(errorOf(fatCount).find("FAT sector count: 100000 exceeds"), std::string::npos);
}

TEST(CompoundFile, SectorChainDamage) {
  {
    // The directory's chain points back at itself.
    auto image = sample();
    const auto dir = core::loadU32(image.data() + 0x30);
    core::storeU32(image.data() + 512 + 4 * dir, dir);
    EXPECT_NE(errorOf(image).find("directory: sector chain loops back"), std::string::npos) << errorOf(image);
  }
  {
    // The big stream's second sector links back to its first.
    auto image = sample();
    const auto first = core::loadU32(image.data() + dirEntryOffset(image, 3) + kStart);
    core::storeU32(image.data() + 512 + 4 * (first + 1), first);
    const auto err = errorOf(image);
    EXPECT_NE(err.find("stream 'big': sector chain loops back to sector"), std::string::npos) << err;
  }
  {
    auto image = sample();
    setLink(image, 3, kStart, 0x00FFFFFF);
    const auto err = errorOf(image);
    EXPECT_NE(err.find("stream 'big': sector chain reaches sector 0xFFFFFF, past the last sector"), std::string::npos) << err;
  }
  {
    // Size larger than the chain but smaller than the file.
    auto image = sample();
    setLink(image, 3, kSize, 5200);
    const auto err = errorOf(image);
    EXPECT_NE(err.find("stream 'big': sector chain ends after 10 sectors, size 5200 needs 11"), std::string::npos) << err;
  }
  {
    auto image = sample();
    setLink(image, 3, kSize, 0x7FFFFFFF);
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("stream 'big' size: 2147483647 bytes is larger than the file"), std::string::npos) << err;
  }
  {
    // A mini stream chain that passes the end of the mini stream.
    auto image = sample();
    setLink(image, 2, kStart, 5000);
    const auto err = errorOf(image);
    EXPECT_NE(err.find("stream 's' (mini stream): sector chain reaches sector 0x1388"), std::string::npos) << err;
  }
  {
    // Two streams share their sectors.
    auto image = sample();
    setLink(image, 4, kStart, core::loadU32(image.data() + dirEntryOffset(image, 2) + kStart));
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("mini sector 0x0 is also used by another stream"), std::string::npos) << err;
  }
  {
    // A stream that starts in the mini stream's sector and then loops on it:
    // the fault within its own chain is the one reported.
    auto image = sample();
    const auto mini = core::loadU32(image.data() + dirEntryOffset(image, 0) + kStart);
    core::storeU32(image.data() + 512 + 4 * mini, mini);  // the mini stream needs only this one sector
    setLink(image, 3, kStart, mini);
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("stream 'big': sector chain loops back to sector"), std::string::npos) << err;
  }
  {
    // A stream claims the directory's sector.
    auto image = sample();
    setLink(image, 3, kStart, core::loadU32(image.data() + 0x30));
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("stream 'big'"), std::string::npos) << err;
  }
  {
    // Cut inside the big stream's data.
    auto image = sample();
    image.resize(image.size() - 1000);
    const auto err = errorOf(image);
    EXPECT_NE(err.find("t.cfb: stream 'big'"), std::string::npos) << err;
  }
}

TEST(CompoundFile, DirectoryTreeDamage) {
  {
    // A storage's child is its own ancestor: a cycle.
    auto image = sample();
    setLink(image, 1, kChild, 1);
    EXPECT_NE(errorOf(image).find("directory entry 1 is reached twice"), std::string::npos) << errorOf(image);
  }
  {
    // Two storages share one entry.
    auto image = sample();
    const auto shared = core::loadU32(image.data() + dirEntryOffset(image, 1) + kChild);
    setLink(image, 4, kRight, shared);  // "top" is the root's tree node; "A" hangs left of it
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("is reached twice in the directory tree"), std::string::npos) << err;
  }
  {
    auto image = sample();
    setLink(image, 2, kRight, 4000);
    setLink(image, 3, kRight, 4000);
    setLink(image, 2, kLeft, 4000);
    setLink(image, 3, kLeft, 4000);
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("id 4000 is past the directory's"), std::string::npos) << err;
  }
  {
    // Two children of one storage whose names compare equal: "abc" renamed "TOP" beside "top".
    cfb::Writer w;
    w.addStream(w.root(), u"top", pattern(10));
    w.addStream(w.root(), u"Tq", pattern(10));
    w.addStream(w.root(), u"abc", pattern(10));
    auto image = w.finish();
    core::storeU16(image.data() + dirEntryOffset(image, 3) + 0, u'T');
    core::storeU16(image.data() + dirEntryOffset(image, 3) + 2, u'O');
    core::storeU16(image.data() + dirEntryOffset(image, 3) + 4, u'P');
    const auto err = errorOf(image, false);
    EXPECT_NE(err.find("storage 'Root Entry' holds two entries named"), std::string::npos) << err;
  }
  {
    // The root entry is not a root.
    auto image = sample();
    image[dirEntryOffset(image, 0) + 66] = 1;
    EXPECT_NE(errorOf(image).find("directory entry 0 object type: expected 5"), std::string::npos);
  }
  {
    // An entry reached through the tree has an impossible name length.
    auto image = sample();
    core::storeU16(image.data() + dirEntryOffset(image, 4) + 64, 90);
    EXPECT_NE(errorOf(image, false).find("directory entry 4 name length"), std::string::npos);
  }
}
