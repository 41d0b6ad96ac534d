// pstdump: shows the node database and the lists/tables/properties layers of a
// Unicode personal folders file.
//   pstdump --header FILE      header and ROOT fields
//   pstdump --btrees FILE      every node and block entry, and the B-tree pages
//   pstdump --node NID FILE    one node: entry, data size, subnodes, and its
//                              property or table context when it holds one;
//                              NID/SUBNID[/SUBNID...] shows a subnode (e.g. an
//                              attachment of a message)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "engine/core/text.h"
#include "engine/ltp/errors.h"
#include "engine/ltp/heap.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/ndb/errors.h"
#include "engine/ndb/store_reader.h"

using namespace parvane;

namespace {

int usage() {
  std::fprintf(stderr, "usage: pstdump --header FILE | --btrees FILE | --node NID FILE\n");
  return 2;
}

const char* pageName(ndb::PageType t) { return t == ndb::PageType::NBT ? "NBT" : "BBT"; }

std::string hexBytes(const core::Bytes& b, std::size_t max = 32) {
  std::string s = core::hexBytes(core::ByteView(b).first(std::min(b.size(), max)));
  if (b.size() > max) s += "...";
  return s;
}

std::string showValue(ltp::PropType t, const core::Bytes& v) {
  if (t == ltp::PropType::String) {
    std::string s = "\"";
    for (std::size_t i = 0; i + 1 < v.size() && i < 160; i += 2) {
      const unsigned c = static_cast<unsigned>(v[i]) | (static_cast<unsigned>(v[i + 1]) << 8u);
      s += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return s + "\"";
  }
  auto f = ltp::fixedSize(t);
  if (f && *f <= 8 && v.size() == *f) {
    unsigned long long x = 0;
    for (std::size_t i = 0; i < v.size(); ++i) x |= static_cast<unsigned long long>(v[i]) << (8 * i);
    return std::to_string(x) + " (" + core::hex(x) + ")";
  }
  return hexBytes(v) + " (" + std::to_string(v.size()) + " bytes)";
}

void dumpHeader(const ndb::StoreReader& r) {
  const ndb::HEADER& h = r.header();
  std::printf("wVer %u  wVerClient %u  bCryptMethod %u\n", h.wVer, h.wVerClient, static_cast<unsigned>(h.bCryptMethod));
  std::printf("bidNextP %s  bidNextB %s  dwUnique %u\n", core::hex(h.bidNextP).c_str(), core::hex(h.bidNextB).c_str(), h.dwUnique);
  std::printf("ibFileEof %llu (file %llu)  ibAMapLast %s\n", static_cast<unsigned long long>(h.root.ibFileEof),
              static_cast<unsigned long long>(r.fileSize()), core::hex(h.root.ibAMapLast).c_str());
  std::printf("cbAMapFree %llu  cbPMapFree %llu  fAMapValid %u\n", static_cast<unsigned long long>(h.root.cbAMapFree),
              static_cast<unsigned long long>(h.root.cbPMapFree), static_cast<unsigned>(h.root.fAMapValid));
  std::printf("BREFNBT %s @ %s  BREFBBT %s @ %s\n", core::hex(h.root.BREFNBT.bid).c_str(), core::hex(h.root.BREFNBT.ib).c_str(),
              core::hex(h.root.BREFBBT.bid).c_str(), core::hex(h.root.BREFBBT.ib).c_str());
  std::printf("rgnid:");
  for (std::size_t i = 0; i < 32; ++i) std::printf(" %zx:%s", i, core::hex(h.rgnid[i]).c_str());
  std::printf("\n");
}

void dumpBtrees(const ndb::StoreReader& r) {
  std::size_t nodes = 0, blocks = 0;
  std::printf("# pages\n");
  r.forEachPage([](ndb::PageType t, int level, const ndb::BREF& ref, std::size_t n) {
    std::printf("%s level %d bid %s ib %s entries %zu\n", pageName(t), level, core::hex(ref.bid).c_str(),
                core::hex(ref.ib).c_str(), n);
  });
  std::printf("# nodes: nid parent bidData bidSub\n");
  r.forEachNode([&](const ndb::NodeInfo& n) {
    ++nodes;
    std::printf("%s %s %s %s\n", core::hex(n.nid).c_str(), core::hex(n.parent).c_str(), core::hex(n.bidData).c_str(),
                core::hex(n.bidSub).c_str());
  });
  std::printf("# blocks: bid ib cb cRef\n");
  r.forEachBlock([&](const ndb::BlockInfo& b) {
    ++blocks;
    std::printf("%s %s %u %u\n", core::hex(b.bid).c_str(), core::hex(b.ib).c_str(), b.cb, b.cRef);
  });
  std::printf("# %zu nodes, %zu blocks\n", nodes, blocks);
}

int dumpNode(const ndb::StoreReader& r, const std::vector<ndb::Nid>& path) {
  auto n = r.findNode(path[0]);
  if (!n) {
    std::fprintf(stderr, "pstdump: no node %s\n", core::hex(path[0]).c_str());
    return 1;
  }
  for (std::size_t i = 1; i < path.size(); ++i) {
    bool found = false;
    for (const auto& s : ndb::readSubnodes(r, n->bidSub))
      if (s.nid == path[i]) {
        n = ndb::NodeInfo{s.nid, n->nid, s.bidData, s.bidSub};
        found = true;
      }
    if (!found) {
      std::fprintf(stderr, "pstdump: node %s has no subnode %s\n", core::hex(n->nid).c_str(), core::hex(path[i]).c_str());
      return 1;
    }
  }
  std::printf("nid %s parent %s bidData %s bidSub %s\n", core::hex(n->nid).c_str(), core::hex(n->parent).c_str(),
              core::hex(n->bidData).c_str(), core::hex(n->bidSub).c_str());
  auto blocks = ndb::readDataBlocks(r, n->bidData);
  std::uint64_t size = 0;
  for (const auto& b : blocks) size += b.size();
  std::printf("data: %llu bytes in %zu blocks\n", static_cast<unsigned long long>(size), blocks.size());
  for (const auto& s : ndb::readSubnodes(r, n->bidSub))
    std::printf("subnode %s bidData %s (%llu bytes) bidSub %s\n", core::hex(s.nid).c_str(), core::hex(s.bidData).c_str(),
                static_cast<unsigned long long>(ndb::dataSize(r, s.bidData)), core::hex(s.bidSub).c_str());
  if (blocks.empty() || blocks[0].size() < 4 || blocks[0][2] != ltp::kHnSignature) return 0;
  auto sig = static_cast<ltp::ClientSig>(blocks[0][3]);
  if (sig == ltp::ClientSig::PC) {
    ltp::PropertyContextReader pc(r, n->bidData, n->bidSub);
    std::printf("property context, %zu properties\n", pc.properties().size());
    for (const auto& p : pc.properties())
      std::printf("  %s %s%s\n", core::hex(p.tag()).c_str(), showValue(p.type, pc.value(p)).c_str(),
                  p.subnode ? (" [subnode " + core::hex(p.subnode) + "]").c_str() : "");
  } else if (sig == ltp::ClientSig::TC) {
    ltp::TableContextReader tc(r, n->bidData, n->bidSub);
    std::printf("table context, %zu columns, %zu rows, row size %u%s\n", tc.columns().size(), tc.rows().size(),
                tc.rowSize(), tc.matrixInSubnode() ? ", row matrix in a subnode" : "");
    for (const auto& c : tc.columns())
      std::printf("  column %s ib %u cb %u bit %u\n", core::hex(c.tag).c_str(), c.ibData, c.cbData, c.iBit);
    for (const auto& row : tc.rows()) {
      std::printf("  row %s\n", core::hex(row.id).c_str());
      for (std::size_t i = 0; i < row.cells.size(); ++i)
        if (row.cells[i])
          std::printf("    %s %s\n", core::hex(tc.columns()[i].tag).c_str(),
                      showValue(ltp::tagType(tc.columns()[i].tag), *row.cells[i]).c_str());
    }
  } else {
    std::printf("heap with client signature %s\n", core::hex(blocks[0][3]).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string mode = argv[1];
  try {
    if (mode == "--header" && argc == 3) {
      dumpHeader(*ndb::StoreReader::open(argv[2]));
      return 0;
    }
    if (mode == "--btrees" && argc == 3) {
      dumpBtrees(*ndb::StoreReader::open(argv[2]));
      return 0;
    }
    if (mode == "--node" && argc == 4) {
      std::vector<ndb::Nid> path;
      for (const char* p = argv[2]; *p;) {
        char* end = nullptr;
        unsigned long nid = std::strtoul(p, &end, 0);
        if (end == p || nid > 0xFFFFFFFFul || (*end && *end != '/')) return usage();
        path.push_back(static_cast<ndb::Nid>(nid));
        p = *end ? end + 1 : end;
      }
      if (path.empty()) return usage();
      return dumpNode(*ndb::StoreReader::open(argv[3]), path);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pstdump: %s\n", e.what());
    return 1;
  }
  return usage();
}
