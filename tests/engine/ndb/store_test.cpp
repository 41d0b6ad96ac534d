// Whole store files written through NodeStore, checked by the outside checker
// and readers and read back through StoreReader.
#include <gtest/gtest.h>

#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "engine/core/io_error.h"
#include "engine/ndb/errors.h"
#include "engine/ndb/space_map.h"
#include "engine/ndb/node_store.h"
#include "engine/ndb/store_reader.h"
#include "oracles.h"
#include "support/faulty_file_system.h"

namespace parvane::ndb {
namespace {

using parvane::testing::FaultyFileSystem;
using parvane::testing::TempDir;

Bytes pattern(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<std::uint8_t>(x);
  }
  return b;
}

// No error outside the messaging area (files of this layer have no store or
// folders), and no warning either except those of `allowed`.
void expectClean(const std::string& path, const std::vector<std::string>& allowed = {}) {
  auto r = parvane::testing::pstcheck(path);
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.output;
  EXPECT_TRUE(r.errors.empty()) << parvane::testing::joined(r.errors);
  for (const auto& w : r.warnings) {
    bool ok = w.find("WARN messaging") != std::string::npos;
    for (const auto& a : allowed) ok = ok || w.find(a) != std::string::npos;
    EXPECT_TRUE(ok) << w;
  }
}

// Counts every reference to every block (NBT, subnode trees, XBLOCKs) from a reader.
std::map<Bid, int> countReferences(const StoreReader& r) {
  std::map<Bid, int> refs;
  std::function<void(Bid)> data = [&](Bid b) {
    if (!b) return;
    if (refs[b]++ || !isInternalBid(b)) return;
    for (Bid c : decodeXBlock(r.readBlock(b)).rgbid) data(c);
  };
  std::function<void(Bid)> subs = [&](Bid b) {
    if (!b) return;
    if (refs[b]++) return;
    SUBNODEBLOCK s = decodeSubnodeBlock(r.readBlock(b));
    for (auto& e : s.leaves) {
      data(e.bidData);
      subs(e.bidSub);
    }
    for (auto& e : s.index) {
      refs[e.bid]++;
      for (auto& l : decodeSubnodeBlock(r.readBlock(e.bid)).leaves) {
        data(l.bidData);
        subs(l.bidSub);
      }
    }
  };
  r.forEachNode([&](const NodeInfo& n) {
    data(n.bidData);
    subs(n.bidSub);
  });
  return refs;
}

// Every node the reader finds is one of `expect` with its data, and none is missing.
void expectNodes(const StoreReader& r, const std::map<Nid, Bytes>& expect) {
  std::size_t nodes = 0;
  r.forEachNode([&](const NodeInfo& n) {
    ++nodes;
    auto it = expect.find(n.nid);
    ASSERT_NE(it, expect.end()) << hex(n.nid);
    EXPECT_EQ(readData(r, n.bidData), it->second) << hex(n.nid);
  });
  EXPECT_EQ(nodes, expect.size());
}

// cRef is exactly the number of references plus one, and no block is unreferenced.
void expectBlockCountsMatchTheirReferences(const StoreReader& r) {
  auto refs = countReferences(r);
  std::size_t blocks = 0;
  r.forEachBlock([&](const BlockInfo& b) {
    ++blocks;
    EXPECT_EQ(b.cRef, refs[b.bid] + 1) << hex(b.bid);
  });
  EXPECT_EQ(blocks, refs.size());
}

// The names in a folder, its hidden ones too.
std::vector<std::string> namesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(NodeStore, RefusesAnExistingPathOrFolderAndNamesIt) {
  TempDir dir;
  auto s = NodeStore::create(dir.file("a.pst"));
  s->close();
  const auto before = std::filesystem::file_size(dir.file("a.pst"));
  try {
    NodeStore::create(dir.file("a.pst"));
    ADD_FAILURE() << "an existing store was not refused";
  } catch (const core::IoError& e) {
    EXPECT_EQ(e.cause(), core::IoError::Cause::AlreadyExists);
    EXPECT_EQ(std::string(e.what()), dir.file("a.pst") + ": cannot create file: " + std::strerror(EEXIST));
  }
  ASSERT_EQ(::symlink("nowhere", dir.file("dangling.pst").c_str()), 0);
  EXPECT_THROW(NodeStore::create(dir.file("dangling.pst")), core::IoError);
  try {
    NodeStore::create(dir.path() + "/missing/dir/b.pst");
    ADD_FAILURE() << "a missing folder was not refused";
  } catch (const core::IoError& e) {
    // the store's own name, not the temporary one
    EXPECT_EQ(std::string(e.what()), dir.path() + "/missing/dir/b.pst: cannot create file: " + std::strerror(ENOENT));
  }
  EXPECT_EQ(std::filesystem::file_size(dir.file("a.pst")), before);
  EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"a.pst", "dangling.pst"}));
}

TEST(NodeStore, ANewStoreGetsItsNameAtItsFirstCommit) {
  TempDir dir;
  const std::string path = dir.file("new.pst");
  auto s = NodeStore::create(path);
  EXPECT_EQ(s->path(), path);
  // until then it is a valid file under a hidden temporary name beside it
  auto names = namesIn(dir);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], ".new.pst." + std::to_string(::getpid()) + ".partial");
  EXPECT_EQ(parvane::testing::pffinfo(dir.file(names[0])), 0);
  s->commit();
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"new.pst"});
  auto r = StoreReader::open(path);
  EXPECT_EQ(r->header().root.ibFileEof, r->fileSize());
  EXPECT_EQ(r->header().root.fAMapValid, AMapValidity::Valid2);
  EXPECT_EQ(r->header().rgnid[static_cast<int>(NidType::NormalMessage)], 0x10000u);
  EXPECT_EQ(r->fileSize(), 271360u);  // one AMap span, like Outlook's empty store
  EXPECT_EQ(parvane::testing::pffinfo(path), 0);
  auto check = parvane::testing::pstcheck(path);
  // with no node at all the checker finds only the two empty B-tree roots
  for (const auto& e : check.errors) EXPECT_NE(e.find("page has no entries"), std::string::npos) << e;
  // the store goes on writing into the renamed file
  Nid nid = s->allocateNid(NidType::Internal);
  s->putNode(nid, 0, s->writeData(pattern(900000, 3)));
  s->close();
  auto reread = StoreReader::open(path);
  ASSERT_TRUE(reread->findNode(nid));
  EXPECT_EQ(readData(*reread, reread->findNode(nid)->bidData), pattern(900000, 3));
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"new.pst"});
}

// A process killed before its first commit leaves its temporary file; a later
// store in the same folder removes those whose process is gone and whose
// lock it can take, and nothing else.
#ifndef _WIN32
TEST(NodeStore, TemporaryFilesOfGoneProcessesAreRemovedByTheNextStore) {
  TempDir dir;
  const auto goneProcess = [] {
    const pid_t child = ::fork();
    if (child == 0) _exit(0);
    ::waitpid(child, nullptr, 0);
    return std::to_string(child);
  };
  const std::string gone = goneProcess(), goneToo = goneProcess();
  const std::vector<std::string> stale{".a.pst." + gone + ".partial", ".b b.pst." + goneToo + "-2.partial"};
  // a live process's file (ours, here: a store being written), one whose lock
  // someone holds although its process is gone, and names of other kinds
  const std::vector<std::string> kept{".held.pst." + gone + "-1.partial", ".a.pst.x1.partial", "a.pst." + gone + ".partial",
                                      ".a.pst." + gone + ".partial.bak"};
  for (const auto& name : stale) std::ofstream(dir.file(name)) << "left";
  for (const auto& name : kept) std::ofstream(dir.file(name)) << "left";
  const int held = ::open(dir.file(kept[0]).c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto writing = NodeStore::create(dir.file("writing.pst"));
  auto s = NodeStore::create(dir.file("new.pst"));
  s->close();
  ::close(held);
  auto expected = kept;
  expected.push_back("." + std::string("writing.pst.") + std::to_string(::getpid()) + ".partial");
  expected.push_back("new.pst");
  std::sort(expected.begin(), expected.end());
  auto names = namesIn(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected);
}
#endif

// A name near the file system's limit still leaves room for the temporary
// name, which is cut at a character boundary.
TEST(NodeStore, ANameAtTheLengthLimitIsCreated) {
  TempDir dir;
  std::string name = "x";  // then é, two bytes each: byte 160 is inside one
  while (name.size() < 240) name += "\xC3\xA9";
  name += ".pst";
  auto s = NodeStore::create(dir.file(name));
  auto names = namesIn(dir);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_LT(names[0].size(), 200u);
  EXPECT_EQ(names[0], "." + name.substr(0, 159) + "." + std::to_string(::getpid()) + ".partial");
  s->close();
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{name});
}

TEST(NodeStore, AStoreDroppedBeforeItsFirstCommitLeavesNothing) {
  TempDir dir;
  {
    auto s = NodeStore::create(dir.file("dropped.pst"));
    Nid nid = s->allocateNid(NidType::Internal);
    s->putNode(nid, 0, s->writeData(pattern(700000, 4)));  // grows the file
    EXPECT_FALSE(s->checkpoint());  // too soon: no commit, so no name
  }
  EXPECT_TRUE(namesIn(dir).empty());
  // a name taken by someone else while the store was written is never replaced
  auto s = NodeStore::create(dir.file("taken.pst"));
  { std::ofstream(dir.file("taken.pst")) << "someone else's"; }
  try {
    s->commit();
    ADD_FAILURE() << "the store replaced a file";
  } catch (const core::IoError& e) {
    EXPECT_EQ(e.cause(), core::IoError::Cause::AlreadyExists);
    EXPECT_EQ(std::string(e.what()), dir.file("taken.pst") + ": cannot rename: " + std::strerror(EEXIST));
  }
  EXPECT_THROW(s->close(), NdbError);
  s.reset();
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"taken.pst"});
  std::ifstream in(dir.file("taken.pst"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's");
}

TEST(NodeStore, EverySizeClassRoundTripsAndPassesTheReaders) {
  TempDir dir;
  const std::string path = dir.file("sizes.pst");
  const std::vector<std::size_t> sizes = {0, 1, 63, 8176, 8177, 2 * 8176, 8 * 1000 * 1000,
                                          1021 * 8176, 1021 * 8176 + 1, 9 * 1000 * 1000};
  std::map<Nid, std::size_t> written;
  {
    auto s = NodeStore::create(path);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      Nid nid = s->allocateNid(NidType::Internal);
      DataWriter w = s->newData();
      Bytes b = pattern(sizes[i], nid);
      // feed the stream in uneven pieces
      for (std::size_t at = 0; at < b.size();) {
        std::size_t n = std::min<std::size_t>(b.size() - at, 1000 + at % 7919);
        w.append(ByteView(b).subspan(at, n));
        at += n;
      }
      NodeData d = w.finish();
      EXPECT_EQ(d.size, sizes[i]);
      EXPECT_EQ(d.bidData == 0, sizes[i] == 0);
      s->putNode(nid, 0, d);
      written[nid] = sizes[i];
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  for (auto [nid, size] : written) {
    auto n = r->findNode(nid);
    ASSERT_TRUE(n) << hex(nid);
    EXPECT_EQ(dataSize(*r, n->bidData), size);
    EXPECT_EQ(readData(*r, n->bidData), pattern(size, nid)) << size;
    if (size > 1021 * 8176) {
      EXPECT_EQ(decodeXBlock(r->readBlock(n->bidData)).cLevel, 2) << "XXBLOCK expected for " << size;
    } else if (size > 8176) {
      EXPECT_EQ(decodeXBlock(r->readBlock(n->bidData)).cLevel, 1);
    }
  }
  expectClean(path);
  EXPECT_EQ(parvane::testing::pffinfo(path), 0);
  EXPECT_EQ(parvane::testing::pypffOpen(path), 0);
}

TEST(NodeStore, ThousandsOfNodesWithReplaceDeleteAndSharedBlocks) {
  TempDir dir;
  const std::string path = dir.file("many.pst");
  std::map<Nid, Bytes> expect;
  {
    CreateOptions o;
    o.commitEveryBytes = 256 * 1024;  // several interval commits on the way
    auto s = NodeStore::create(path, o);
    for (int i = 0; i < 6000; ++i) {
      Nid nid = s->allocateNid(i % 3 ? NidType::Ltp : NidType::Internal);
      Bytes b = pattern(static_cast<std::size_t>(i % 500), nid);
      s->putNode(nid, 0x122, s->writeData(b));
      expect[nid] = b;
      s->checkpoint();
    }
    EXPECT_GT(s->stats().commits, 2u);
    // replace every fifth node, delete every seventh
    std::mt19937 rng(7);
    std::size_t k = 0;
    for (auto it = expect.begin(); it != expect.end(); ++k) {
      if (k % 7 == 0) {
        EXPECT_TRUE(s->deleteNode(it->first));
        it = expect.erase(it);
        continue;
      }
      if (k % 5 == 0) {
        it->second = pattern(rng() % 20000, it->first + 1);
        s->putNode(it->first, 0x122, s->writeData(it->second));
      }
      ++it;
    }
    EXPECT_FALSE(s->deleteNode(makeNid(NidType::Internal, 0x7FFFFF)));
    // one block shared by 50 nodes, as a new store's empty tables share one
    NodeData shared = s->writeData(pattern(100, 1));
    for (std::uint32_t i = 0; i < 50; ++i) {
      Nid nid = makeNid(NidType::ContentsTableIndex, 0x500 + i);
      if (i) s->retain(shared);
      s->putNode(nid, 0, shared);
      expect[nid] = pattern(100, 1);
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  expectNodes(*r, expect);
  expectBlockCountsMatchTheirReferences(*r);
  int levels = 0;
  r->forEachPage([&](PageType t, int level, const BREF&, std::size_t) {
    if (t == PageType::NBT) levels = std::max(levels, level);
  });
  EXPECT_GE(levels, 2) << "5000 nodes need a three-level node B-tree";
  expectClean(path);
  EXPECT_EQ(parvane::testing::pypffOpen(path), 0);
}

// A commit writes again only the leaves that changed and the index pages
// above them. Rounds of commits that each change nodes in early leaves in
// place, append new ones and at last remove some from the middle must leave
// every index page pointing at its leaves' latest pages.
TEST(NodeStore, CommitsAfterChangesAnywhereInTheTreeKeepEveryNodeReachable) {
  TempDir dir;
  const std::string path = dir.file("rounds.pst");
  std::map<Nid, Bytes> expect;
  std::vector<Nid> nids;
  {
    auto s = NodeStore::create(path);
    const auto put = [&](Nid nid, std::uint32_t seed) {
      Bytes b = pattern(40 + seed % 200, seed);
      s->putNode(nid, 0x122, s->writeData(b));
      expect[nid] = b;
    };
    for (std::uint32_t i = 0; i < 3000; ++i) {
      nids.push_back(s->allocateNid(NidType::Ltp));
      put(nids.back(), i);
    }
    s->commit();
    for (std::uint32_t round = 1; round <= 6; ++round) {
      // in place: a node in each of a few leaves spread over the tree
      for (std::size_t k = round * 7; k < nids.size(); k += 397) put(nids[k], 10000 * round + static_cast<std::uint32_t>(k));
      for (std::uint32_t i = 0; i < 40; ++i) {
        nids.push_back(s->allocateNid(NidType::Ltp));
        put(nids.back(), 20000 * round + i);
      }
      if (round == 5) {
        for (std::size_t k = 1500; k < 1530; ++k) {
          EXPECT_TRUE(s->deleteNode(nids[k]));
          expect.erase(nids[k]);
        }
      }
      s->commit();
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  expectNodes(*r, expect);
  for (const auto& [nid, bytes] : expect) {
    const auto found = r->findNode(nid);
    ASSERT_TRUE(found) << hex(nid);
    EXPECT_EQ(readData(*r, found->bidData), bytes) << hex(nid);
  }
  expectClean(path);
  EXPECT_EQ(parvane::testing::pypffOpen(path), 0);
}

// After a commit only the last leaf of each B-tree and the maps in use stay in
// memory; changing old nodes and freeing old blocks reads their leaves and
// maps back from the file, and the result is exact.
TEST(NodeStore, LeavesAndMapsLeaveMemoryAtACommitAndAreReadBack) {
  TempDir dir;
  const std::string path = dir.file("paged.pst");
  std::map<Nid, Bytes> expect;
  {
    auto s = NodeStore::create(path);
    for (int i = 0; i < 20000; ++i) {
      Nid nid = s->allocateNid(NidType::Internal);
      expect[nid] = pattern(200 + static_cast<std::size_t>(i % 64), nid);
      s->putNode(nid, 0x122, s->writeData(expect[nid]));
    }
    EXPECT_GT(s->stats().leavesInMemory, 2000u);
    s->commit();
    EXPECT_LE(s->stats().leavesInMemory, 2u);
    EXPECT_LE(s->stats().mapSpansInMemory, 2u);
    EXPECT_GT(s->stats().fileSize, 20u * kAMapSpan);
    // old nodes replaced and deleted all over both trees and the file
    std::size_t k = 0;
    for (auto it = expect.begin(); it != expect.end(); ++k) {
      if (k % 9 == 0) {
        EXPECT_TRUE(s->deleteNode(it->first));
        it = expect.erase(it);
        continue;
      }
      if (k % 13 == 0) {
        it->second = pattern(700, it->first + 3);
        s->putNode(it->first, 0x122, s->writeData(it->second));
      }
      ++it;
    }
    EXPECT_EQ(s->findNode(expect.begin()->first)->nid, expect.begin()->first);
    s->commit();
    EXPECT_LE(s->stats().leavesInMemory, 2u);
    EXPECT_LE(s->stats().mapSpansInMemory, 2u);
    // new blocks go into the space freed in old spans, whose maps left memory
    for (int i = 0; i < 2000; ++i) {
      Nid nid = s->allocateNid(NidType::Internal);
      expect[nid] = pattern(200, nid);
      s->putNode(nid, 0x122, s->writeData(expect[nid]));
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  expectNodes(*r, expect);
  expectBlockCountsMatchTheirReferences(*r);
  expectClean(path);
}

TEST(NodeStore, SubnodeTreesOfEverySizeAndNesting) {
  TempDir dir;
  const std::string path = dir.file("subs.pst");
  {
    auto s = NodeStore::create(path);
    for (std::size_t count : {std::size_t{1}, std::size_t{340}, std::size_t{341}, std::size_t{2000}}) {
      SubnodeTreeBuilder subs(*s);
      for (std::uint32_t i = 0; i < count; ++i) {
        NodeData d = s->writeData(pattern(i % 50 + 1, i));
        if (i % 100 == 0) {  // a subnode with subnodes of its own
          SubnodeTreeBuilder inner(*s);
          inner.add(makeNid(NidType::Ltp, 1), s->writeData(pattern(10, 99)));
          d.bidSub = inner.write();
        }
        subs.add(makeNid(NidType::Attachment, i + 1), d);
      }
      NodeData content = s->writeData(pattern(30, 5));
      content.bidSub = subs.write();
      s->putNode(s->allocateNid(NidType::Internal), 0, content);
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  std::vector<std::size_t> counts;
  r->forEachNode([&](const NodeInfo& n) {
    auto subs = readSubnodes(*r, n.bidSub);
    counts.push_back(subs.size());
    for (std::size_t i = 0; i < subs.size(); ++i) {
      EXPECT_EQ(subs[i].nid, makeNid(NidType::Attachment, static_cast<std::uint32_t>(i + 1)));
      EXPECT_EQ(readData(*r, subs[i].bidData), pattern(i % 50 + 1, static_cast<std::uint32_t>(i)));
      EXPECT_EQ(subs[i].bidSub != 0, i % 100 == 0);
    }
  });
  EXPECT_EQ(counts, (std::vector<std::size_t>{1, 340, 341, 2000}));
  expectClean(path);
}

TEST(NodeStore, ReplacingContentKeepsSharedSubnodesAndFreesTheRest) {
  TempDir dir;
  const std::string path = dir.file("rewrite.pst");
  auto s = NodeStore::create(path);
  Nid nid = s->allocateNid(NidType::Internal);
  SubnodeTreeBuilder subs(*s);
  subs.add(makeNid(NidType::Attachment, 1), s->writeData(pattern(5000, 1)));
  subs.add(makeNid(NidType::Attachment, 2), s->writeData(pattern(5000, 2)));
  NodeData c = s->writeData(pattern(100, 3));
  c.bidSub = subs.write();
  s->putNode(nid, 0, c);
  s->commit();
  std::uint64_t blocksBefore = s->stats().blocks;
  // rewrite many times, each keeping attachment 1 and replacing attachment 2
  for (int round = 0; round < 20; ++round) {
    SubnodeTreeBuilder again(*s);
    again.load(s->findNode(nid)->bidSub);
    again.add(makeNid(NidType::Attachment, 2), s->writeData(pattern(6000, 100u + static_cast<std::uint32_t>(round))));
    NodeData d = s->writeData(pattern(100, 3));
    d.bidSub = again.write();
    s->putNode(nid, 0, d);
    if (round % 5 == 0) s->commit();
  }
  EXPECT_EQ(s->stats().blocks, blocksBefore);
  std::uint64_t size = s->stats().fileSize;
  s->close();
  EXPECT_EQ(size, 271360u) << "freed space is reused instead of growing the file";
  auto r = StoreReader::open(path);
  auto entries = readSubnodes(*r, r->findNode(nid)->bidSub);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(readData(*r, entries[0].bidData), pattern(5000, 1));
  EXPECT_EQ(readData(*r, entries[1].bidData), pattern(6000, 119));
  expectClean(path);
}

TEST(NodeStore, OnlyCommittedContentSurvivesAnAbandonedStore) {
  TempDir dir;
  const std::string path = dir.file("abandon.pst");
  Nid kept = 0, lost = 0;
  {
    auto s = NodeStore::create(path);
    kept = s->allocateNid(NidType::Internal);
    s->putNode(kept, 0, s->writeData(pattern(20000, 1)));
    s->commit();
    lost = s->allocateNid(NidType::Internal);
    s->putNode(lost, 0, s->writeData(pattern(3000000, 2)));  // grows the file too
    s->deleteNode(kept);
    // destroyed without close()
  }
  auto r = StoreReader::open(path);
  EXPECT_TRUE(r->findNode(kept));
  EXPECT_FALSE(r->findNode(lost));
  EXPECT_EQ(readData(*r, r->findNode(kept)->bidData), pattern(20000, 1));
  // the file grew after the commit, its new spans' maps synced before the
  // header that covers them: the maps stay valid
  EXPECT_EQ(r->header().root.fAMapValid, AMapValidity::Valid2);
  expectClean(path);
}

// The file grown between two commits: the second leaves valid maps.
TEST(NodeStore, ACommitAfterTheFileGrewLeavesValidMaps) {
  TempDir dir;
  const std::string path = dir.file("grown.pst");
  auto s = NodeStore::create(path);
  Nid first = s->allocateNid(NidType::Internal);
  s->putNode(first, 0, s->writeData(pattern(20000, 1)));
  s->commit();
  Nid second = s->allocateNid(NidType::Internal);
  s->putNode(second, 0, s->writeData(pattern(3000000, 2)));  // grows the file
  s->commit();
  auto r = StoreReader::open(path);
  EXPECT_NE(r->header().root.fAMapValid, AMapValidity::Invalid);
  EXPECT_EQ(readData(*r, r->findNode(second)->bidData), pattern(3000000, 2));
  expectClean(path);
  s->close();
}

TEST(NodeStore, EncodingOptionsAllRoundTrip) {
  for (CryptMethod m : {CryptMethod::None, CryptMethod::Permute, CryptMethod::Cyclic}) {
    TempDir dir;
    const std::string path = dir.file("crypt.pst");
    CreateOptions o;
    o.crypt = m;
    auto s = NodeStore::create(path, o);
    Nid nid = s->allocateNid(NidType::Internal);
    s->putNode(nid, 0, s->writeData(pattern(30000, 4)));
    s->close();
    auto r = StoreReader::open(path);
    EXPECT_EQ(r->header().bCryptMethod, m);
    EXPECT_EQ(readData(*r, r->findNode(nid)->bidData), pattern(30000, 4));
    expectClean(path);
  }
}

TEST(NodeStore, CountersFollowTheNodesPut) {
  TempDir dir;
  auto s = NodeStore::create(dir.file("ids.pst"));
  EXPECT_EQ(s->allocateNid(NidType::NormalMessage), makeNid(NidType::NormalMessage, 0x10001));
  EXPECT_EQ(s->allocateNid(NidType::NormalFolder), makeNid(NidType::NormalFolder, 0x401));
  s->putNode(makeNid(NidType::HierarchyTable, 0x777), 0, s->writeData(pattern(5, 5)));
  EXPECT_EQ(s->nidCounter(NidType::HierarchyTable), 0x777u);
  EXPECT_EQ(s->nextUnique(), 1u);
  EXPECT_EQ(s->nextUnique(), 2u);
  EXPECT_THROW(s->putNode(makeNid(NidType::Hid, 5), 0, NodeData{}), NdbError);
  s->close();
  auto r = StoreReader::open(dir.file("ids.pst"));
  EXPECT_EQ(r->header().rgnid[static_cast<int>(NidType::HierarchyTable)], 0x777u);
  EXPECT_EQ(r->header().dwUnique, 2u);
}

// A disk that fills up at any point while the empty store is written: the
// creation fails naming the store and the cause, leaves no file at all, and
// the next attempt in the same folder succeeds.
TEST(NodeStore, DiskFullWhileCreatingLeavesNoFileAndARetryWorks) {
  TempDir dir;
  const std::string path = dir.file("full.pst");
  std::uint64_t needed = 0;
  {
    FaultyFileSystem counting;
    CreateOptions o;
    o.fileSystem = &counting;
    NodeStore::create(dir.file("measure.pst"), o)->close();
    needed = counting.bytesWritten();
    std::filesystem::remove(dir.file("measure.pst"));
  }
  ASSERT_GT(needed, 2048u);
  for (std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{511}, std::uint64_t{1024}, needed / 2, needed - 1}) {
    SCOPED_TRACE("budget " + std::to_string(budget) + " of " + std::to_string(needed));
    FaultyFileSystem full;
    full.writeBudget = budget;
    CreateOptions o;
    o.fileSystem = &full;
    try {
      NodeStore::create(path, o)->close();
      ADD_FAILURE() << "created on a full disk";
    } catch (const core::IoError& e) {
      EXPECT_EQ(e.cause(), core::IoError::Cause::DiskFull);
      EXPECT_EQ(std::string(e.what()), path + ": cannot write: " + std::strerror(ENOSPC));
    }
    EXPECT_TRUE(namesIn(dir).empty()) << namesIn(dir).front();
  }
  NodeStore::create(path)->close();
  EXPECT_EQ(parvane::testing::pffinfo(path), 0);
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{"full.pst"});
}

TEST(NodeStore, DiskFullLeavesTheLastCommitIntact) {
  for (std::uint64_t budget : {std::uint64_t{300000}, std::uint64_t{2000000}, std::uint64_t{5000000}}) {
    TempDir dir;
    const std::string path = dir.file("full.pst");
    FaultyFileSystem fs;
    fs.writeBudget = budget;
    CreateOptions o;
    o.fileSystem = &fs;
    o.commitEveryBytes = 100000;
    std::vector<Nid> committed, pending;
    bool failed = false;
    {
      auto s = NodeStore::create(path, o);
      try {
        for (std::uint32_t i = 0; i < 100000; ++i) {
          Nid nid = s->allocateNid(NidType::Internal);
          s->putNode(nid, 0, s->writeData(pattern(3000 + i % 5000, nid)));
          pending.push_back(nid);
          if (s->checkpoint()) {
            committed.insert(committed.end(), pending.begin(), pending.end());
            pending.clear();
          }
        }
      } catch (const core::IoError& e) {
        EXPECT_EQ(e.cause(), core::IoError::Cause::DiskFull);
        failed = true;
      }
      EXPECT_TRUE(failed);
      // a failed store refuses further work instead of writing a broken file
      EXPECT_THROW(s->putNode(makeNid(NidType::Internal, 5), 0, NodeData{}), NdbError);
      EXPECT_THROW(s->commit(), NdbError);
    }
    auto r = StoreReader::open(path);
    std::size_t found = 0;
    r->forEachNode([&](const NodeInfo&) { ++found; });
    EXPECT_GE(found, committed.size());
    EXPECT_LE(found, committed.size() + pending.size());
    for (Nid nid : committed) {
      auto n = r->findNode(nid);
      ASSERT_TRUE(n) << hex(nid);
      EXPECT_EQ(readData(*r, n->bidData).size(), 3000 + (nidIndex(nid) - 0x401) % 5000);
    }
    // stopped between the two header writes of a commit: complete, maps to be rebuilt
    expectClean(path, {"fAMapValid is INVALID_AMAP"});
  }
}

}  // namespace
}  // namespace parvane::ndb

namespace parvane::ndb {
namespace {

TEST(StoreReader, DamagedFilesRaiseErrorsAndNeverCrash) {
  TempDir dir;
  const std::string path = dir.file("good.pst");
  {
    auto s = NodeStore::create(path);
    for (int i = 0; i < 400; ++i) {
      Nid nid = s->allocateNid(NidType::Internal);
      NodeData d = s->writeData(pattern(static_cast<std::size_t>(i * 97 % 20000), nid));
      SubnodeTreeBuilder subs(*s);
      if (i % 10 == 0) subs.add(makeNid(NidType::Attachment, 1), s->writeData(pattern(100, 1)));
      d.bidSub = subs.write();
      s->putNode(nid, 0, d);
    }
    s->close();
  }
  std::ifstream in(path, std::ios::binary);
  const Bytes good((std::istreambuf_iterator<char>(in)), {});
  std::mt19937 rng(99);
  int rejected = 0;
  for (int round = 0; round < 150; ++round) {
    Bytes bad = good;
    // damage the header, the B-tree pages or the blocks, sometimes re-sealing
    // the header so that the damage gets past its CRCs
    std::size_t at = round % 3 == 0 ? rng() % kHeaderSize : kFirstAMapOffset + rng() % (bad.size() - kFirstAMapOffset);
    for (int k = 0; k < 1 + round % 5; ++k) bad[(at + static_cast<std::size_t>(k) * 17) % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    if (round % 3 == 0) {
      try {
        HEADER h = decodeHeader(ByteView(good).first(kHeaderSize));
        h.root.BREFNBT.ib = (rng() % (good.size() / kPageSize)) * kPageSize;
        auto enc = encodeHeader(h);
        std::copy(enc.begin(), enc.end(), bad.begin());
      } catch (const NdbError&) {
      }
    }
    const std::string p = dir.file("bad" + std::to_string(round) + ".pst");
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    try {
      auto r = StoreReader::open(p);
      r->forEachNode([&](const NodeInfo& n) {
        readData(*r, n.bidData);
        readSubnodes(*r, n.bidSub);
      });
      r->forEachBlock([](const BlockInfo&) {});
    } catch (const NdbError&) {
      ++rejected;
    } catch (const core::TruncatedError&) {
      ++rejected;
    }
    std::remove(p.c_str());
  }
  EXPECT_GT(rejected, 50);
}

}  // namespace
}  // namespace parvane::ndb

namespace parvane::ndb {
namespace {

TEST(DataReader, StreamsEveryTreeShapeBlockByBlock) {
  TempDir dir;
  const std::string path = dir.file("stream.pst");
  std::vector<std::pair<Nid, std::size_t>> nodes;
  {
    auto s = NodeStore::create(path);
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{50000}, std::size_t{9000000}}) {
      Nid nid = s->allocateNid(NidType::Internal);
      s->putNode(nid, 0, s->writeData(pattern(size, nid)));
      nodes.emplace_back(nid, size);
    }
    s->close();
  }
  auto r = StoreReader::open(path);
  for (auto [nid, size] : nodes) {
    DataReader in(*r, r->findNode(nid)->bidData);
    EXPECT_EQ(in.size(), size);
    Bytes all, block;
    std::size_t blocks = 0;
    while (in.next(block)) {
      EXPECT_LE(block.size(), kMaxBlockData);
      all.insert(all.end(), block.begin(), block.end());
      ++blocks;
    }
    EXPECT_EQ(all, pattern(size, nid));
    EXPECT_EQ(blocks, (size + kMaxBlockData - 1) / kMaxBlockData);
  }
}

// Blocks held in memory, to build trees a writer never makes.
class FakeBlocks final : public BlockSource {
 public:
  Bytes readBlock(Bid bid) const override {
    auto it = blocks.find(bid);
    if (it == blocks.end()) throw NdbError("no block " + hex(bid));
    return it->second;
  }
  std::map<Bid, Bytes> blocks;
};

TEST(DataReader, MalformedTreesRaiseErrorsInsteadOfLooping) {
  FakeBlocks f;
  XBLOCK loop;  // an XXBLOCK that lists itself
  loop.cLevel = 2;
  loop.lcbTotal = 100;
  loop.rgbid = {0x12};
  f.blocks[0x12] = encodeXBlock(loop);
  XBLOCK wrongLevel;  // an XBLOCK under an XXBLOCK that claims to be another XXBLOCK
  wrongLevel.cLevel = 2;
  wrongLevel.rgbid = {0x22};
  f.blocks[0x22] = encodeXBlock(wrongLevel);
  XBLOCK top;
  top.cLevel = 2;
  top.rgbid = {0x22};
  f.blocks[0x32] = encodeXBlock(top);
  XBLOCK dataWithInternal;  // an XBLOCK listing an internal block as data
  dataWithInternal.cLevel = 1;
  dataWithInternal.rgbid = {0x12};
  f.blocks[0x42] = encodeXBlock(dataWithInternal);
  for (Bid root : {Bid{0x12}, Bid{0x32}, Bid{0x42}}) {
    Bytes b;
    EXPECT_THROW(
        {
          DataReader in(f, root);
          while (in.next(b)) {
          }
        },
        NdbError)
        << hex(root);
    EXPECT_THROW(readDataBlocks(f, root), NdbError) << hex(root);
  }
  SUBNODEBLOCK si;  // an SIBLOCK whose child is itself
  si.cLevel = 1;
  si.index = {{0x21, 0x52}};
  f.blocks[0x52] = encodeSubnodeBlock(si);
  EXPECT_THROW(readSubnodes(f, 0x52), NdbError);
}

// Space is marked and searched a byte of the map at a time where it can be:
// every allocation must still be the first free run, against a map kept one
// unit at a time, whatever the runs' alignment.
void checkFirstFreeRuns(std::size_t maxUnits) {
  SpaceMap map;
  map.addSpan();
  std::vector<bool> used(kUnitsPerAMap);
  for (std::size_t u = 0; u < kUnitsPerAMap; ++u) used[u] = map.isAllocated(amapOffset(0) + u * kAllocUnit);
  const auto firstFit = [&](std::size_t n) -> std::optional<std::size_t> {
    for (std::size_t u = 0; u + n <= kUnitsPerAMap; ++u) {
      std::size_t run = 0;
      while (run < n && !used[u + run]) ++run;
      if (run == n) return u;
      u += run;
    }
    return std::nullopt;
  };
  std::mt19937 rng(7);
  std::vector<std::pair<std::size_t, std::size_t>> live;  // unit, units
  for (int step = 0; step < 3000; ++step) {
    if (!live.empty() && rng() % 3 == 0) {
      std::size_t k = rng() % live.size();
      auto [u, n] = live[k];
      map.free(amapOffset(0) + u * kAllocUnit, n * kAllocUnit);
      for (std::size_t i = u; i < u + n; ++i) used[i] = false;
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
      continue;
    }
    std::size_t n = 1 + rng() % maxUnits;
    auto expected = firstFit(n);
    auto got = map.allocate(n * kAllocUnit, false);
    ASSERT_EQ(got.has_value(), expected.has_value()) << "step " << step;
    if (!got) continue;
    ASSERT_EQ((*got - amapOffset(0)) / kAllocUnit, *expected) << "step " << step << ", " << n << " units";
    for (std::size_t i = *expected; i < *expected + n; ++i) used[i] = true;
    live.push_back({*expected, n});
  }
  for (std::size_t u = 0; u < kUnitsPerAMap; ++u)
    ASSERT_EQ(map.isAllocated(amapOffset(0) + u * kAllocUnit), used[u]) << "unit " << u;
}

TEST(SpaceMap, AllocationsAreTheFirstFreeRunAtAnyAlignment) { checkFirstFreeRuns(40); }

// Runs of a whole block (up to 128 units) cross several words of the map.
TEST(SpaceMap, LongRunsAreTheFirstFreeRunAcrossWordsOfTheMap) { checkFirstFreeRuns(130); }

}  // namespace
}  // namespace parvane::ndb

namespace parvane::ndb {
namespace {

// A store kept within a limit that falls just past a span's end, or just
// short of it, at the first PMap's span: writes of every size, frees that
// leave holes, and commits go on while roomWithin() says a largest block
// fits; the file then has every span the limit allows and none more.
TEST(NodeStore, RoomWithinALimitIsAllTheFileTakesUpToIt) {
  TempDir dir;
  for (const std::uint64_t limit : {amapOffset(9) + 1, amapOffset(9) - 1, amapOffset(9)}) {
    const std::string file = dir.file("limit" + std::to_string(limit) + ".pst");
    CreateOptions options;
    options.growthLimit = limit;
    auto store = NodeStore::create(file, options);
    std::mt19937 random(static_cast<std::uint32_t>(limit));
    std::vector<Nid> nodes;
    std::uint64_t written = 0;
    while (store->roomWithin(limit) >= kMaxBlockSize) {
      const std::size_t size = random() % 4 == 0 ? kMaxBlockData : 1 + random() % kMaxBlockData;
      nodes.push_back(store->allocateNid(NidType::Internal));
      store->putNode(nodes.back(), 0, store->writeData(pattern(size, static_cast<std::uint32_t>(written))));
      written += size;
      // every third time a node goes again, committed or not, leaving holes of every size
      if (random() % 3 == 0) store->deleteNode(nodes[random() % nodes.size()]);
      if (random() % 50 == 0) store->commit();
      ASSERT_LE(store->stats().fileSize, limit);
    }
    store->close();
    EXPECT_EQ(std::filesystem::file_size(file), amapOffset(spansWithin(limit))) << "limit " << limit;
    expectClean(file, {"INVALID_AMAP"});
  }
}

}  // namespace
}  // namespace parvane::ndb
