#include "support/store_audit/import_audit.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "engine/core/source.h"
#include "engine/ltp/errors.h"
#include "engine/ltp/format.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/messaging/store.h"
#include "engine/msg/message.h"
#include "import/message_translation.h"
#include "engine/ndb/errors.h"
#include "engine/ndb/format.h"
#include "engine/ndb/store_reader.h"

namespace parvane::testsupport {
namespace {

using core::Bytes;
using messaging::PropertyList;
using messaging::PropertyValue;
using messaging::StoreMessage;
using ndb::Bid;
using ndb::Nid;
using ndb::NidType;

constexpr Nid kIpmNid = 0x8022;
constexpr Nid kNameMapNid = 0x61;
constexpr Nid kRecipientTableNid = 0x692;
constexpr Nid kAttachmentTableNid = 0x671;
constexpr std::uint32_t kFirstAttachmentIndex = 0x401;
// Cells of values read from a source above this size are left out of a row.
constexpr std::uint64_t kCellLimit = 1u << 20;
constexpr std::uint16_t kContentCount = 0x3602;
constexpr std::uint16_t kContentUnreadCount = 0x3603;
constexpr std::uint16_t kSubfolders = 0x360A;

[[noreturn]] void fail(const std::string& what) { throw AuditError(what); }
void require(bool ok, const std::string& what) {
  if (!ok) fail(what);
}

std::string hex(std::uint64_t v) { return ndb::hex(v); }

Nid tableOf(Nid folder, NidType type) { return (folder & ~Nid{0x1F}) | static_cast<std::uint32_t>(type); }

Bytes valueBytes(const PropertyValue& v) {
  if (!v.source) return Bytes(v.bytes.begin(), v.bytes.end());
  return v.source->readAll();
}

Bytes utf16(std::u16string_view s) {
  Bytes out(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) core::storeU16(out.data() + 2 * i, s[i]);
  return out;
}

std::uint32_t int32Of(const ltp::PropertyContextReader& pc, std::uint16_t id, const std::string& what) {
  const auto* p = pc.find(id);
  require(p && p->type == ltp::PropType::Int32 && p->bytes.size() == 4, what + " has no 32-bit " + hex(id));
  return core::loadU32(p->bytes.data());
}

// ---- the node database: blocks, pages, references, allocation map ----

class NodeAudit {
 public:
  // `file`: the same store file, for the allocation map pages the reader does not expose.
  NodeAudit(const ndb::StoreReader& r, core::File& file) : r_(r), file_(file) {}

  void run() {
    const auto& root = r_.header().root;
    require(root.ibFileEof == r_.fileSize(), "ibFileEof " + hex(root.ibFileEof) + " is not the file's size " +
                                                 hex(r_.fileSize()));
    r_.forEachPage([&](ndb::PageType, int, const ndb::BREF& ref, std::size_t) {
      require(ref.ib % ndb::kPageSize == 0, "page " + hex(ref.bid) + " at " + hex(ref.ib) + " is not page-aligned");
      extent(ref.ib, ndb::kPageSize, "page " + hex(ref.bid));
    });
    r_.forEachBlock([&](const ndb::BlockInfo& b) {
      require(b.ib % ndb::kAllocUnit == 0, "block " + hex(b.bid) + " at " + hex(b.ib) + " is not aligned");
      require(b.cb <= ndb::kMaxBlockData, "block " + hex(b.bid) + " has " + std::to_string(b.cb) + " bytes");
      require(blocks_.emplace(b.bid, b).second, "block " + hex(b.bid) + " is twice in the block B-tree");
      extent(b.ib, ndb::blockDiskSize(b.cb), "block " + hex(b.bid));
      (void)r_.readBlock(b.bid);  // trailer, CRC and size
    });
    checkExtents();
    checkAllocationMap();
    std::set<Nid> nids;
    r_.forEachNode([&](const ndb::NodeInfo& n) {
      require(nids.insert(n.nid).second, "node " + hex(n.nid) + " is twice in the node B-tree");
      nodes_.push_back(n);
      data(n.bidData);
      subnodes(n.bidSub);
    });
    for (const auto& n : nodes_) {
      require(n.parent == 0 || n.parent == n.nid || nids.count(n.parent),
              "node " + hex(n.nid) + " has a parent " + hex(n.parent) + " that does not exist");
    }
    for (const auto& [bid, info] : blocks_) {
      auto it = refs_.find(bid);
      require(it != refs_.end(), "block " + hex(bid) + " is referenced by nothing");
      require(info.cRef == it->second + 1, "block " + hex(bid) + " has cRef " + std::to_string(info.cRef) + " for " +
                                               std::to_string(it->second) + " references");
    }
  }

  const std::vector<ndb::NodeInfo>& nodes() const { return nodes_; }

 private:
  // A data tree: each block once, however many owners share it.
  void data(Bid bid) {
    if (!bid) return;
    if (reference(bid) > 1 || !ndb::isInternalBid(bid)) return;
    auto x = ndb::decodeXBlock(r_.readBlock(bid));
    std::uint64_t total = 0;
    for (Bid c : x.rgbid) {
      data(c);
      total += x.cLevel == 1 ? blocks_.at(c).cb : ndb::decodeXBlock(r_.readBlock(c)).lcbTotal;
    }
    require(total == x.lcbTotal, "XBLOCK " + hex(bid) + " totals " + std::to_string(x.lcbTotal) + " over " +
                                     std::to_string(total) + " bytes");
  }

  void subnodes(Bid bid) {
    if (!bid) return;
    if (reference(bid) > 1) return;
    auto s = ndb::decodeSubnodeBlock(r_.readBlock(bid));
    for (const auto& e : s.leaves) {
      data(e.bidData);
      subnodes(e.bidSub);
    }
    for (const auto& e : s.index) subnodes(e.bid);
  }

  int reference(Bid bid) {
    require(blocks_.count(bid), "block " + hex(bid) + " is referenced but not in the block B-tree");
    return ++refs_[bid];
  }

  void extent(std::uint64_t ib, std::uint64_t size, const std::string& what) {
    require(ib >= ndb::kFirstAMapOffset && ib + size <= r_.header().root.ibFileEof,
            what + " at " + hex(ib) + " lies outside the file");
    extents_.push_back({ib, size, what});
  }

  void checkExtents() {
    std::sort(extents_.begin(), extents_.end(), [](const Extent& a, const Extent& b) { return a.ib < b.ib; });
    for (std::size_t i = 1; i < extents_.size(); ++i) {
      const auto& a = extents_[i - 1];
      require(a.ib + a.size <= extents_[i].ib, a.what + " overlaps " + extents_[i].what);
    }
  }

  // Every page and block lies in space the allocation map marks as used, and
  // the header's free count is the map's.
  void checkAllocationMap() {
    const auto& root = r_.header().root;
    if (root.fAMapValid == ndb::AMapValidity::Invalid) return;
    const std::size_t maps = static_cast<std::size_t>((root.ibAMapLast - ndb::kFirstAMapOffset) / ndb::kAMapSpan) + 1;
    std::vector<Bytes> bits(maps);
    std::uint64_t freeUnits = 0;
    for (std::size_t i = 0; i < maps; ++i) {
      Bytes page(ndb::kPageSize);
      require(file_.readAt(ndb::amapOffset(i), page) == page.size(), "allocation map " + std::to_string(i) + " is cut");
      (void)ndb::checkPage(page, ndb::PageType::AMap, ndb::amapOffset(i));
      bits[i].assign(page.begin(), page.begin() + ndb::kPageDataSize);
      for (std::uint8_t byte : bits[i]) freeUnits += 8 - static_cast<unsigned>(__builtin_popcount(byte));
    }
    require(freeUnits * ndb::kAllocUnit == root.cbAMapFree,
            "cbAMapFree " + std::to_string(root.cbAMapFree) + " but the maps have " +
                std::to_string(freeUnits * ndb::kAllocUnit) + " free bytes");
    for (const auto& e : extents_) {
      for (std::uint64_t at = e.ib; at < e.ib + e.size; at += ndb::kAllocUnit) {
        const auto map = static_cast<std::size_t>((at - ndb::kFirstAMapOffset) / ndb::kAMapSpan);
        const auto unit = static_cast<std::size_t>((at - ndb::amapOffset(map)) / ndb::kAllocUnit);
        require(map < maps && (bits[map][unit >> 3] & (0x80 >> (unit & 7))),
                e.what + " lies in space the allocation map marks as free");
      }
    }
  }

  struct Extent {
    std::uint64_t ib, size;
    std::string what;
  };
  const ndb::StoreReader& r_;
  core::File& file_;
  std::map<Bid, ndb::BlockInfo> blocks_;
  std::map<Bid, int> refs_;
  std::vector<Extent> extents_;
  std::vector<ndb::NodeInfo> nodes_;
};

// ---- the lists, tables and properties layer ----

enum class Context { Property, Table, Other };

Context contextOf(const ndb::StoreReader& r, Bid bidData) {
  if (!bidData) return Context::Other;
  auto blocks = ndb::readDataBlocks(r, bidData);
  const Bytes& first = blocks.front();
  if (first.size() < 4 || first[2] != 0xEC) return Context::Other;
  if (first[3] == static_cast<std::uint8_t>(ltp::ClientSig::PC)) return Context::Property;
  if (first[3] == static_cast<std::uint8_t>(ltp::ClientSig::TC)) return Context::Table;
  return Context::Other;
}

Context expectedContext(Nid nid) {
  switch (ndb::nidType(nid)) {
    case NidType::NormalFolder: case NidType::SearchFolder: case NidType::NormalMessage: case NidType::AssocMessage:
      return Context::Property;
    case NidType::HierarchyTable: case NidType::ContentsTable: case NidType::AssocContentsTable:
    case NidType::AttachmentTable: case NidType::RecipientTable:
      return Context::Table;
    default:
      return Context::Other;
  }
}

// Reads every node's context, and every value of it, through the engine's readers.
void readContexts(const ndb::StoreReader& r, const std::vector<ndb::NodeInfo>& nodes) {
  for (const auto& n : nodes) {
    Context kind = contextOf(r, n.bidData);
    Context expected = expectedContext(n.nid);
    require(expected == Context::Other || kind == expected,
            "node " + hex(n.nid) + " does not hold the context its type calls for");
    try {
      if (kind == Context::Property) {
        ltp::PropertyContextReader pc(r, n.bidData, n.bidSub);
        for (const auto& p : pc.properties()) (void)pc.value(p);
      } else if (kind == Context::Table) {
        ltp::TableContextReader tc(r, n.bidData, n.bidSub);
        std::set<std::uint32_t> ids;
        for (const auto& row : tc.rows())
          require(ids.insert(row.id).second, "table " + hex(n.nid) + " has row " + hex(row.id) + " twice");
      }
    } catch (const ltp::LtpError& e) {
      fail("node " + hex(n.nid) + ": " + e.what());
    }
  }
}

const ndb::SLENTRY* subnode(const ltp::PropertyContextReader& pc, Nid nid) {
  for (const auto& s : pc.subnodes())
    if (s.nid == nid) return &s;
  return nullptr;
}

// Each cell of a table row is the object's value of the same tag, and each
// value of a column's tag has its cell (a value read from a source above
// the cell limit may be left out).
void rowAgrees(const ltp::TableContextReader& table, const ltp::TableRow& row, const ltp::PropertyContextReader& pc,
               const std::string& what) {
  const auto& columns = table.columns();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::uint32_t tag = columns[c].tag;
    if (tag == ltp::kTagLtpRowId || tag == ltp::kTagLtpRowVer) continue;
    const auto* p = pc.find(static_cast<std::uint16_t>(tag >> 16));
    const bool same = p && p->tag() == tag;
    const auto& cell = row.cells[c];
    if (cell) {
      require(same, what + ": row has a cell " + hex(tag) + " the object does not have");
      require(pc.value(*p) == *cell, what + ": cell " + hex(tag) + " differs from the object's value");
    } else if (same) {
      require(pc.value(*p).size() > kCellLimit, what + ": row lacks the cell of the object's " + hex(tag));
    }
  }
}

// ---- the messaging layer ----

class MessageAudit {
 public:
  // `named`: the indexes the store's name-to-id map gives names to.
  MessageAudit(const ndb::StoreReader& r, std::set<std::uint16_t> named) : r_(r), named_(std::move(named)) {}

  // A message node or subnode: its content, its context and what was saved.
  void message(Bid bidData, Bid bidSub, const ltp::PropertyContextReader& pc, const StoreMessage& expected,
               std::optional<std::uint32_t> flags, const std::string& what) {
    properties(pc, expected.properties, what, /*isMessage=*/true);
    const std::uint32_t value = int32Of(pc, messaging::tags::MessageFlags, what);
    if (flags) {
      require((value & ~messaging::kMsgFlagHasAttach) == (*flags & ~messaging::kMsgFlagHasAttach),
              what + ": PidTagMessageFlags " + hex(value) + " is not the flags given");
    }
    require(((value & messaging::kMsgFlagHasAttach) != 0) == !expected.attachments.empty(),
            what + ": PidTagMessageFlags disagrees with the attachments");
    const auto* has = pc.find(messaging::tags::HasAttachments);
    require(has && has->bytes.size() == 1 && (has->bytes[0] != 0) == !expected.attachments.empty(),
            what + ": PidTagHasAttachments disagrees with the attachments");
    // the bytes the message takes in the file, its subnodes included
    const std::uint64_t bytes = std::min<std::uint64_t>(ndb::dataSize(r_, bidData) + subnodeBytes(bidSub), 0xFFFFFFFF);
    require(int32Of(pc, messaging::tags::MessageSize, what) == bytes,
            what + ": PidTagMessageSize " + std::to_string(int32Of(pc, messaging::tags::MessageSize, what)) + " is not the " + std::to_string(bytes) + " bytes the message takes");
    recipients(pc, expected.recipients, what);
    attachments(pc, expected.attachments, what);
  }

 private:
  // Every value the message file gave (save what the store computes) is kept
  // with its tag and bytes; the subject may gain the store's marker.
  void properties(const ltp::PropertyContextReader& pc, const PropertyList& expected, const std::string& what,
                  bool isMessage) {
    for (const auto& p : pc.properties()) named(p.id, what);
    for (const auto& v : expected.all()) {
      if (messaging::isComputedByStore(v.id()) || v.type() == messaging::ptype::Object) continue;
      if (isMessage && v.id() == messaging::tags::MessageFlags) continue;
      const auto* p = pc.find(v.id());
      require(p, what + ": property " + hex(v.tag) + " was not saved");
      require(p->tag() == v.tag, what + ": property " + hex(v.tag) + " was saved as " + hex(p->tag()));
      Bytes want = valueBytes(v);
      Bytes got = pc.value(*p);
      if (isMessage && v.id() == messaging::tags::Subject && got.size() == want.size() + 4 &&
          core::loadU16(got.data()) == 0x0001)
        got.erase(got.begin(), got.begin() + 4);
      require(got == want, what + ": property " + hex(v.tag) + " was saved with other bytes");
    }
  }

  void recipients(const ltp::PropertyContextReader& pc, const std::vector<PropertyList>& expected,
                  const std::string& what) {
    const auto* s = subnode(pc, kRecipientTableNid);
    require(s, what + ": no recipient table");
    ltp::TableContextReader table(r_, s->bidData, s->bidSub);
    require(table.rows().size() == expected.size(), what + ": recipient table has " +
                                                         std::to_string(table.rows().size()) + " rows for " +
                                                         std::to_string(expected.size()) + " recipients");
    for (const auto& c : table.columns()) named(static_cast<std::uint16_t>(c.tag >> 16), what + " recipient table");
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string who = what + " recipient " + std::to_string(i);
      const auto* row = table.findRow(static_cast<std::uint32_t>(i));
      require(row, who + ": no row");
      for (const auto& v : expected[i].all()) {
        if (messaging::isComputedByStore(v.id()) || v.type() == messaging::ptype::Object) continue;
        auto column = table.columnIndex(v.tag);
        if (!column) {
          // a column of another type for this id: the value is left out
          bool other = std::any_of(table.columns().begin(), table.columns().end(),
                                   [&](const ltp::ColumnDesc& c) { return (c.tag >> 16) == v.id(); });
          require(other, who + ": property " + hex(v.tag) + " has no column");
          continue;
        }
        const auto& cell = row->cells[*column];
        if (!cell) {
          require(v.size() > kCellLimit, who + ": property " + hex(v.tag) + " has no cell");
          continue;
        }
        require(*cell == valueBytes(v), who + ": cell " + hex(v.tag) + " differs from the recipient's value");
      }
      for (std::uint16_t id : {messaging::tags::RecipientType, messaging::tags::DisplayName}) {
        bool present = false;
        for (std::size_t c = 0; c < table.columns().size(); ++c)
          present = present || ((table.columns()[c].tag >> 16) == id && row->cells[c]);
        require(present, who + ": no " + hex(id));
      }
    }
  }

  void attachments(const ltp::PropertyContextReader& pc, const std::vector<messaging::StoreAttachment>& expected,
                   const std::string& what) {
    const auto* s = subnode(pc, kAttachmentTableNid);
    if (expected.empty()) {
      require(!s, what + ": an attachment table without attachments");
      return;
    }
    require(s, what + ": no attachment table");
    ltp::TableContextReader table(r_, s->bidData, s->bidSub);
    require(table.rows().size() == expected.size(), what + ": attachment table has " +
                                                         std::to_string(table.rows().size()) + " rows for " +
                                                         std::to_string(expected.size()) + " attachments");
    for (std::size_t k = 0; k < expected.size(); ++k) {
      const Nid nid = ndb::makeNid(NidType::Attachment, kFirstAttachmentIndex + static_cast<std::uint32_t>(k));
      const std::string which = what + " attachment " + hex(nid);
      const auto* row = table.findRow(nid);
      require(row, which + ": no row");
      const auto* node = subnode(pc, nid);
      require(node, which + ": no subnode");
      ltp::PropertyContextReader attachment(r_, node->bidData, node->bidSub);
      rowAgrees(table, *row, attachment, which);
      const auto& a = expected[k];
      properties(attachment, a.properties, which, /*isMessage=*/false);
      (void)int32Of(attachment, messaging::tags::AttachMethod, which);
      const auto* object = attachment.find(messaging::tags::AttachData);
      if (!a.embedded && !a.oleData) {
        require(!object || object->type != ltp::PropType::Object, which + ": an object without content");
        continue;
      }
      require(object && object->type == ltp::PropType::Object && object->bytes.size() == 8,
              which + ": no object value");
      const auto* content = subnode(attachment, core::loadU32(object->bytes.data()));
      require(content, which + ": the object's subnode is missing");
      if (a.oleData) {
        require(ndb::readData(r_, content->bidData) == a.oleData->readAll(), which + ": OLE storage differs");
      } else {
        ltp::PropertyContextReader embedded(r_, content->bidData, content->bidSub);
        message(content->bidData, content->bidSub, embedded, *a.embedded, std::nullopt, which + " embedded message");
      }
    }
  }

  // A named property's id has its name in the store's map.
  void named(std::uint16_t id, const std::string& what) const {
    require(id < 0x8000 || id == 0xFFFF || named_.count(static_cast<std::uint16_t>(id - 0x8000)),
            what + ": property " + hex(id) + " has no name in the store's map");
  }

  std::uint64_t subnodeBytes(Bid bidSub) const {
    std::uint64_t total = 0;
    for (const auto& e : ndb::readSubnodes(r_, bidSub)) total += ndb::dataSize(r_, e.bidData) + subnodeBytes(e.bidSub);
    return total;
  }

  const ndb::StoreReader& r_;
  std::set<std::uint16_t> named_;
};

// The indexes the name-to-id map's entry stream names.
std::set<std::uint16_t> namedIndexes(const ltp::PropertyContextReader& map) {
  std::set<std::uint16_t> out;
  const auto* entries = map.find(0x0003);
  require(entries && entries->type == ltp::PropType::Binary, "the name-to-id map has no entry stream");
  const Bytes stream = map.value(*entries);
  require(stream.size() % 8 == 0, "the name-to-id map's entry stream is cut");
  for (std::size_t at = 0; at < stream.size(); at += 8)
    require(out.insert(core::loadU16(stream.data() + at + 6)).second, "the name-to-id map names an index twice");
  return out;
}

void auditFolder(const ndb::StoreReader& r, const std::vector<ndb::NodeInfo>& nodes, const ImportedStore& expected) {
  auto nodeOf = [&](Nid nid) {
    auto n = r.findNode(nid);
    require(n.has_value(), "node " + hex(nid) + " is missing");
    return *n;
  };
  auto table = [&](Nid nid) {
    auto n = nodeOf(nid);
    return ltp::TableContextReader(r, n.bidData, n.bidSub);
  };
  auto context = [&](Nid nid) {
    auto n = nodeOf(nid);
    return ltp::PropertyContextReader(r, n.bidData, n.bidSub);
  };
  // the folder, found by its name in its parent's hierarchy table
  auto hierarchy = table(tableOf(kIpmNid, NidType::HierarchyTable));
  auto nameColumn = hierarchy.columnIndex(messaging::makeTag(messaging::tags::DisplayName, messaging::ptype::Unicode));
  require(nameColumn.has_value(), "the hierarchy table has no display name column");
  const Bytes name = utf16(expected.folderName);
  const ltp::TableRow* row = nullptr;
  for (const auto& candidate : hierarchy.rows()) {
    if (candidate.cells[*nameColumn] == name) {
      require(!row, "two folders with the imported folder's name");
      row = &candidate;
    }
  }
  require(row, "the imported folder has no hierarchy row");
  const Nid folder = row->id;
  require(ndb::nidType(folder) == NidType::NormalFolder, "the hierarchy row " + hex(folder) + " is not a folder");
  require(nodeOf(folder).parent == kIpmNid, "the folder's parent is not the IPM subtree");
  auto folderPc = context(folder);
  rowAgrees(hierarchy, *row, folderPc, "folder " + hex(folder) + " hierarchy row");
  const auto ipm = context(kIpmNid);
  const auto* sub = ipm.find(kSubfolders);
  require(sub && sub->bytes.size() == 1 && sub->bytes[0], "the IPM subtree does not say it has subfolders");
  const auto* none = folderPc.find(kSubfolders);
  require(none && none->bytes.size() == 1 && !none->bytes[0], "the folder says it has subfolders");
  require(table(tableOf(folder, NidType::HierarchyTable)).rows().empty(), "the folder's hierarchy table has rows");
  require(table(tableOf(folder, NidType::AssocContentsTable)).rows().empty(), "the folder's associated table has rows");

  // its messages: counts, rows, and each message against what was saved
  auto contents = table(tableOf(folder, NidType::ContentsTable));
  const std::size_t count = expected.messages.size();
  require(contents.rows().size() == count, "the contents table has " + std::to_string(contents.rows().size()) +
                                               " rows for " + std::to_string(count) + " messages");
  require(int32Of(folderPc, kContentCount, "the folder") == count, "PidTagContentCount is not the message count");
  std::vector<Nid> messages;
  for (const auto& n : nodes) {
    if (ndb::nidType(n.nid) == NidType::NormalMessage && n.parent == folder) messages.push_back(n.nid);
  }
  require(messages.size() == count, "the folder has " + std::to_string(messages.size()) + " message nodes");
  std::uint32_t unread = 0;
  MessageAudit audit(r, namedIndexes(context(kNameMapNid)));
  for (std::size_t i = 0; i < count; ++i) {
    const std::string what = "message " + hex(messages[i]);
    const auto* contentsRow = contents.findRow(messages[i]);
    require(contentsRow, what + " has no contents row");
    const auto node = nodeOf(messages[i]);
    ltp::PropertyContextReader pc(r, node.bidData, node.bidSub);
    rowAgrees(contents, *contentsRow, pc, what + " contents row");
    if (!(int32Of(pc, messaging::tags::MessageFlags, what) & messaging::kMsgFlagRead)) ++unread;
    audit.message(node.bidData, node.bidSub, pc, expected.messages[i], expected.flags, what);
  }
  require(int32Of(folderPc, kContentUnreadCount, "the folder") == unread,
          "PidTagContentUnreadCount is not the unread message count");
}

}  // namespace

ImportedStore importMessageFile(core::ByteView bytes, core::FileSystem& fs, const std::string& path,
                                const ImportOptions& options) {
  ImportedStore out;
  out.path = path;
  out.folderName = u"Imported";
  out.flags = options.flags;
  auto source = std::make_shared<core::MemorySource>(Bytes(bytes.begin(), bytes.end()));
  msg::ReadOptions readOptions;
  readOptions.inMemoryLimit = options.inMemoryLimit;
  std::optional<msg::MessageFile> file;
  try {
    file.emplace(msg::MessageFile::read(source, "import.msg", readOptions));
  } catch (const msg::ReadError& e) {
    out.refusal = e.what();
    return out;
  }
  messaging::StoreOptions storeOptions;
  storeOptions.fileSystem = &fs;
  auto store = messaging::Store::create(path, u"Import audit", storeOptions);
  out.storeWritten = true;
  auto folder = store->createFolder(store->ipmSubtree(), out.folderName);
  try {
    // converted twice: once as the expectation, once to be saved (the store
    // finishes what it is given in place)
    auto expected = importer::TranslateMessage(file->message(), store->namedProperties());
    store->addMessage(folder, importer::TranslateMessage(file->message(), store->namedProperties()), options.flags);
    out.messages.push_back(std::move(expected));
  } catch (const msg::ReadError& e) {
    out.refusal = e.what();
  }
  store->close();
  return out;
}

void auditStore(core::FileSystem& fs, const ImportedStore& expected) {
  if (!expected.storeWritten) return;
  try {
    auto r = ndb::StoreReader::open(expected.path, &fs);
    auto file = fs.openRead(expected.path);
    NodeAudit nodes(*r, *file);
    nodes.run();
    readContexts(*r, nodes.nodes());
    auditFolder(*r, nodes.nodes(), expected);
  } catch (const ndb::NdbError& e) {
    fail(std::string("the store does not read back: ") + e.what());
  } catch (const ltp::LtpError& e) {
    fail(std::string("a context does not read back: ") + e.what());
  }
}

}  // namespace parvane::testsupport
