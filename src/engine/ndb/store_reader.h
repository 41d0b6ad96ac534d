// Read-only access to a Unicode personal folders file at the node database
// level: header, both B-trees, blocks. Used by round-trip tests and pstdump.
// Every structure read is verified (CRCs, signatures, trailers, bounds) and a
// damaged one raises NdbError naming it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "engine/ndb/block_source.h"
#include "engine/core/file_system.h"
#include "engine/ndb/format.h"
#include "engine/ndb/node_store.h"

namespace parvane::ndb {

struct BlockInfo {
  Bid bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cRef = 0;
};

class StoreReader : public BlockSource {
 public:
  static std::unique_ptr<StoreReader> open(const std::string& path, core::FileSystem* fs = nullptr);
  ~StoreReader() override;

  const HEADER& header() const { return header_; }
  std::optional<NodeInfo> findNode(Nid nid) const;
  void forEachNode(const std::function<void(const NodeInfo&)>& fn) const;
  void forEachBlock(const std::function<void(const BlockInfo&)>& fn) const;
  // Visits every B-tree page: tree (NBT/BBT), level, BREF and entry count.
  void forEachPage(const std::function<void(PageType, int level, const BREF&, std::size_t entries)>& fn) const;
  std::optional<BlockInfo> findBlock(Bid bid) const;
  Bytes readBlock(Bid bid) const override;
  std::uint64_t fileSize() const;

 private:
  StoreReader(std::unique_ptr<core::File> file, HEADER header);
  Bytes readPage(std::uint64_t ib) const;
  template <class Visit>
  void walk(PageType type, const BREF& ref, int depth, Visit&& visit) const;
  template <class Visit>
  void walkPage(PageType type, const BREF& ref, int depth, int level, std::set<std::uint64_t>& seen,
                Visit&& visit) const;

  std::unique_ptr<core::File> file_;
  HEADER header_;
};

}  // namespace parvane::ndb
