#include "engine/messaging/store.h"

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

#include "engine/core/text.h"
#include "engine/ltp/appending_table.h"
#include "engine/ltp/errors.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/messaging/errors.h"
#include "engine/messaging/folder_names.h"
#include "engine/messaging/message_writer.h"
#include "engine/messaging/node_values.h"
#include "engine/messaging/store_template.h"
#include "engine/messaging/stored_size.h"
#include "engine/ndb/node_store.h"

namespace parvane::messaging {
namespace {

using ndb::Nid;
using ndb::NidType;

constexpr Nid kStoreNid = 0x21;
constexpr Nid kNameMapNid = 0x61;
constexpr Nid kRootNid = 0x122;
constexpr Nid kIpmNid = 0x8022;
constexpr Nid kSearchRootNid = 0x8042;
constexpr Nid kDeletedNid = 0x8062;
constexpr Nid kCommonViewsNid = 0x8082;


constexpr std::uint32_t kFolderLastIndex = 0x404;
// The last index Outlook's new store has used per node type.
std::uint32_t outlookNidCounter(std::uint8_t type) {
  switch (type) {
    case 0x02: case 0x0D: case 0x0E: case 0x0F: return kFolderLastIndex;
    case 0x03: return 0x4000;
    case 0x04: return 0x10000;
    case 0x08: return 0x8000;
    default: return 0x400;
  }
}

constexpr std::uint16_t kContainerClass = 0x3613;
constexpr std::uint16_t kContentCount = 0x3602;
constexpr std::uint16_t kContentUnreadCount = 0x3603;
constexpr std::uint16_t kSubfolders = 0x360A;

// A folder's contents table stays in memory while the folder has had a
// message among the last this many; after that it is parked in the store.
constexpr std::uint64_t kRecentMessages = 64;

void sortUnique(std::vector<Nid>& nids) {
  std::sort(nids.begin(), nids.end());
  nids.erase(std::unique(nids.begin(), nids.end()), nids.end());
}

Nid tableOf(Nid folder, NidType type) { return (folder & ~Nid{0x1F}) | static_cast<std::uint32_t>(type); }

PropertyList listOf(std::span<const store_template::TemplateProperty> props) {
  PropertyList list;
  for (const auto& p : props) list.set(PropertyValue{p.tag, core::Bytes(p.value.begin(), p.value.end()), nullptr});
  return list;
}

// What the store keeps of a folder for the whole run: a few hundred bytes and
// four a subfolder. Its hierarchy table is made anew from its subfolders'
// records when it is written; its contents table is in memory only while the
// folder gets messages (parked in the store otherwise); its associated
// contents table never has rows.
struct Folder {
  Nid nid = 0;
  Nid parent = 0;
  bool search = false;
  bool pcDirty = true, hierarchyDirty = true, contentsDirty = true, assocDirty = true;
  std::uint32_t count = 0, unread = 0;
  std::uint32_t rowVersion = 0;  // of its row in its parent's hierarchy table
  PropertyList props;
  std::vector<Nid> children;  // in the order of their rows
  // the columns of its tables (none for a search folder)
  const ltp::TableColumns *hierarchyColumns = nullptr, *contentsColumns = nullptr, *assocColumns = nullptr;
  std::unique_ptr<ltp::AppendingTable> contents;  // rows only ever added, in NID order
  ltp::ParkedTable parked;                        // the contents table let go of
  std::uint64_t lastMessage = 0;  // when the folder last got a message (in messages)
};

RandomSource seededRandom() {
  std::random_device rd;
  auto rng = std::make_shared<std::mt19937_64>(
      (std::uint64_t{rd()} << 32) ^ rd() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return [rng] { return (*rng)(); };
}

StoreOptions withSources(StoreOptions options) {
  if (!options.fileTime) options.fileTime = &fileTimeNow;
  if (!options.random) options.random = seededRandom();
  return options;
}

GuidBytes randomGuid(const RandomSource& random) {
  GuidBytes g{};
  core::storeU64(g.data(), random());
  core::storeU64(g.data() + 8, random());
  return g;
}

}  // namespace

class Store::Impl {
 public:
  Impl(const std::string& path, const std::u16string& displayName, const StoreOptions& options)
      : path_(path), displayName_(displayName), options_(withSources(options)),
        recordKey_(randomGuid(options_.random)), names_(NamedPropertyMap::outlookDefault()) {
    ndb::CreateOptions ndbOptions;
    ndbOptions.fileSystem = options.fileSystem;
    ndb_ = ndb::NodeStore::create(path, ndbOptions);
    writer_ = std::make_unique<MessageWriter>(*ndb_, options_.abandonMessage);
    scratch_ = std::make_unique<ltp::TableContextBuilder>(*ndb_, columnSet(kHierarchyTemplateNid));
    build();
    flush();
    ndb_->commit();
    lastCommit_ = std::chrono::steady_clock::now();
  }

  // ---- the new store ----

  void build() {
    for (const auto& node : store_template::nodes()) {
      auto type = static_cast<NidType>(node.nid & 0x1F);
      bool folderNode = type == NidType::NormalFolder || type == NidType::SearchFolder;
      if (node.kind == store_template::NodeKind::PropertyContext && folderNode) {
        Folder f;
        f.nid = node.nid;
        f.parent = node.parentNid;
        f.search = type == NidType::SearchFolder;
        f.props = listOf(node.properties);
        folders_.emplace(node.nid, std::move(f));
        continue;
      }
      if (node.kind == store_template::NodeKind::TableContext && isFolderTable(node.nid)) continue;
      if (node.nid == kNameMapNid) continue;
      if (node.kind == store_template::NodeKind::PropertyContext) {
        PropertyList list = listOf(node.properties);
        if (node.nid == kStoreNid) storeProperties(list);
        ltp::PropertyContextBuilder pc(*ndb_);
        putProperties(*ndb_, pc, list);
        ndb_->putNode(node.nid, node.parentNid, pc.finish());
      } else if (node.kind == store_template::NodeKind::TableContext) {
        ltp::TableContextBuilder tc(*ndb_, templateColumns(node.nid));
        if (node.rows.empty()) {
          putTable(node.nid, node.parentNid, tc);
          continue;
        }
        for (const auto& row : node.rows) {
          std::vector<ltp::Cell> cells;
          for (const auto& c : row.cells) {
            if (c.tag != ltp::kTagLtpRowId) cells.push_back({c.tag, core::Bytes(c.value.begin(), c.value.end())});
          }
          tc.setRow(row.rowId, cells);
        }
        ndb_->putNode(node.nid, node.parentNid, tc.finish());
      } else {
        // the search management queue (0x1E1) among them stays empty, as in
        // every store Outlook leaves: what it queues is work for its next open
        ndb_->putNode(node.nid, node.parentNid, ndb_->writeData(node.raw));
      }
    }
    // Folder tables: Outlook's own columns for the folders it made.
    for (auto& [nid, f] : folders_) {
      if (f.parent != nid) folders_.at(f.parent).children.push_back(nid);
      pcDirty_.push_back(nid);
      if (f.search) continue;
      tablesDirty_.push_back(nid);
      f.hierarchyColumns = &columnSet(tableOf(nid, NidType::HierarchyTable));
      f.contentsColumns = &columnSet(tableOf(nid, NidType::ContentsTable));
      f.assocColumns = &columnSet(tableOf(nid, NidType::AssocContentsTable));
    }
    for (auto& [nid, f] : folders_) {
      if (f.parent != nid) hierarchyRow(f);
      named(f);
    }
    for (std::uint8_t t = 0; t < 0x20; ++t) {
      auto type = static_cast<NidType>(t);
      if (ndb_->nidCounter(type) < outlookNidCounter(t)) ndb_->setNidCounter(type, outlookNidCounter(t));
    }
    namesDirty_ = true;
  }

  // The columns of a template table, one object for all tables of the same columns.
  const ltp::TableColumns& columnSet(Nid templateNid) {
    ltp::TableColumns columns(templateColumns(templateNid));
    for (const auto& c : columnSets_) {
      if (c.columns() == columns.columns()) return c;
    }
    return columnSets_.emplace_back(std::move(columns));
  }

  bool isFolderTable(Nid nid) const {
    auto type = static_cast<NidType>(nid & 0x1F);
    if (type != NidType::HierarchyTable && type != NidType::ContentsTable && type != NidType::AssocContentsTable)
      return false;
    Nid owner = (nid & ~Nid{0x1F}) | static_cast<std::uint32_t>(NidType::NormalFolder);
    for (const auto& n : store_template::nodes()) {
      if (n.nid == owner) return true;
    }
    return false;
  }

  void storeProperties(PropertyList& list) {
    list.set(PropertyValue::binary(0x0FF9, core::Bytes(recordKey_.begin(), recordKey_.end())));
    list.set(PropertyValue::unicode(0x3001, displayName_));
    list.set(PropertyValue::binary(0x35E0, entryId(kIpmNid)));
    list.set(PropertyValue::binary(0x35E3, entryId(kDeletedNid)));
    list.set(PropertyValue::binary(0x35E6, entryId(kCommonViewsNid)));
    list.set(PropertyValue::binary(0x35E7, entryId(kSearchRootNid)));
    list.sort();
  }

  core::Bytes entryId(Nid nid) const {
    core::Bytes id(24, 0);
    std::copy(recordKey_.begin(), recordKey_.end(), id.begin() + 4);
    core::storeU32(id.data() + 20, nid);
    return id;
  }

  // ---- messages ----

  MessageId addMessage(FolderId folderId, StoreMessage message, std::optional<std::uint32_t> flags) {
    Folder& f = normalFolder(folderId);
    finish(message, flags, options_.fileTime(), options_.random);
    Nid nid = ndb_->allocateNid(NidType::NormalMessage);
    ndb_->putNode(nid, f.nid, writer_->write(message).data);
    if (!f.contents) {
      // its first message, or the first since it was let go of
      f.contents = std::make_unique<ltp::AppendingTable>(*ndb_, *f.contentsColumns, std::move(f.parked));
      openTables_.insert(f.nid);
    }
    rowCells_.assign(message.properties, f.contents->columns(), ndb_->nextUnique());
    f.contents->appendRow(nid, rowCells_.cells());
    f.count++;
    if (!(message.properties.int32(tags::MessageFlags).value_or(0) & kMsgFlagRead)) f.unread++;
    propertiesChanged(f);
    tablesChanged(f);
    f.contentsDirty = true;
    ++saved_;
    f.lastMessage = saved_;
    checkpoint();
    return nid;
  }

  // ---- folders ----

  Folder& normalFolder(FolderId id) {
    auto it = folders_.find(id);
    if (it == folders_.end() || it->second.search)
      throw StoreError(StoreError::Kind::NotFound, "folder " + core::hex(id) + " does not exist in " + path_);
    return it->second;
  }

  const Folder& folder(FolderId id) const {
    auto it = folders_.find(id);
    if (it == folders_.end())
      throw StoreError(StoreError::Kind::NotFound, "folder " + core::hex(id) + " does not exist in " + path_);
    return it->second;
  }

  // The subfolder of that name in any letter case, found by its name's hash.
  std::optional<FolderId> subfolderNamed(FolderId parentId, std::u16string_view name) const {
    auto [from, to] = namesByHash_.equal_range(folderNameHash(name, parentId));
    for (auto it = from; it != to; ++it) {
      const Folder& f = folders_.at(it->second);
      if (f.parent == parentId && f.nid != parentId && sameFolderName(f.props.text(tags::DisplayName), name))
        return f.nid;
    }
    return std::nullopt;
  }

  void named(const Folder& f) {
    if (f.parent == f.nid) return;
    namesByHash_.emplace(folderNameHash(f.props.text(tags::DisplayName), f.parent), f.nid);
  }

  FolderId createFolder(FolderId parentId, const std::u16string& name) {
    Folder& parent = normalFolder(parentId);
    if (subfolderNamed(parentId, name))
      throw StoreError(StoreError::Kind::NameCollision,
                       "a folder named \"" + core::toUtf8(name) + "\" already exists there");
    Folder f;
    f.nid = ndb_->allocateNid(NidType::NormalFolder);
    f.parent = parent.nid;
    f.props.set(PropertyValue::unicode(tags::DisplayName, name));
    f.props.set(PropertyValue::unicode(kContainerClass, u"IPF.Note"));
    f.hierarchyColumns = &columnSet(kHierarchyTemplateNid);
    f.contentsColumns = &columnSet(kContentsTemplateNid);
    f.assocColumns = &columnSet(kAssocTemplateNid);
    Nid nid = f.nid;
    Folder& added = folders_.emplace(nid, std::move(f)).first->second;
    pcDirty_.push_back(nid);
    tablesDirty_.push_back(nid);
    named(added);
    parent.children.push_back(nid);
    propertiesChanged(parent);
    hierarchyRow(added);
    return nid;
  }

  // Marks a folder's properties, or its tables, to be written at the next flush.
  void propertiesChanged(Folder& f) {
    if (!f.pcDirty) pcDirty_.push_back(f.nid);
    f.pcDirty = true;
  }
  void tablesChanged(Folder& f) {
    if (!f.hierarchyDirty && !f.contentsDirty && !f.assocDirty) tablesDirty_.push_back(f.nid);
  }

  PropertyList folderProperties(const Folder& f) const {
    PropertyList p = f.props;
    p.set(PropertyValue::int32(kContentCount, f.count));
    p.set(PropertyValue::int32(kContentUnreadCount, f.unread));
    p.set(PropertyValue::boolean(kSubfolders, !f.children.empty()));
    p.sort();
    return p;
  }

  // The folder's row in its parent's hierarchy table changes: it gets a new
  // row version, and the parent's table is written again at the next flush.
  void hierarchyRow(Folder& f) {
    Folder& parent = folders_.at(f.parent);
    if (parent.search) return;
    f.rowVersion = ndb_->nextUnique();
    tablesChanged(parent);
    parent.hierarchyDirty = true;
  }

  // A folder's hierarchy table, made from its subfolders' records.
  void putHierarchy(const Folder& f) {
    const Nid nid = tableOf(f.nid, NidType::HierarchyTable);
    scratch_->reset(*f.hierarchyColumns);
    for (Nid c : f.children) {
      const Folder& child = folders_.at(c);
      const PropertyList props = folderProperties(child);  // the cells are views of it
      rowCells_.assign(props, scratch_->columns(), child.rowVersion);
      scratch_->setRowViews(c, rowCells_.cells());
    }
    putTable(nid, 0, *scratch_);
  }

  // A table without rows of a folder that holds no table of that kind in memory.
  template <class Table>
  void putEmpty(Nid nid, const ltp::TableColumns& columns) {
    if (putShared(nid, 0, columns.columns())) return;
    Table table(*ndb_, columns);
    putTable(nid, 0, table);
  }

  // Puts the shared empty table of these columns, if one was written and
  // has room for another reference.
  bool putShared(Nid nid, Nid parent, const std::vector<ltp::ColumnDesc>& columns) {
    for (auto& t : emptyTables_) {
      if (t.columns == columns) {
        if (t.shares >= kMostShares) return false;
        ndb_->retain(t.data);
        ndb_->putNode(nid, parent, t.data);
        ++t.shares;
        return true;
      }
    }
    return false;
  }

  // Writes a table. Empty tables with the same columns share one set of
  // blocks, as in Outlook's own store.
  template <class Table>
  void putTable(Nid nid, Nid parent, Table& table) {
    if (table.rowCount() == 0) {
      if (putShared(nid, parent, table.columns())) return;
      auto data = table.finish();
      // a block counts at most 65,534 references: past that, a new one is shared
      auto same = std::find_if(emptyTables_.begin(), emptyTables_.end(),
                               [&](const EmptyTable& t) { return t.columns == table.columns(); });
      if (same != emptyTables_.end()) *same = {table.columns(), data, 1};
      else emptyTables_.push_back({table.columns(), data, 1});
      ndb_->putNode(nid, parent, data);
      return;
    }
    ndb_->putNode(nid, parent, table.finish());
  }


  // ---- durability ----

  // Writes what changed since the last flush, folder by folder in NID order:
  // the work grows with the folders that changed, not with all of them.
  void flush() {
    sortUnique(pcDirty_);
    for (Nid nid : pcDirty_) {
      Folder& f = folders_.at(nid);
      ltp::PropertyContextBuilder pc(*ndb_);
      auto props = folderProperties(f);
      putProperties(*ndb_, pc, props);
      ndb_->putNode(nid, f.parent, pc.finish());
      if (f.parent != nid) hierarchyRow(f);
      f.pcDirty = false;
    }
    pcDirty_.clear();
    // the folders with a table to write, and those with a contents table in memory
    std::vector<Nid> visit;
    sortUnique(tablesDirty_);
    std::set_union(tablesDirty_.begin(), tablesDirty_.end(), openTables_.begin(), openTables_.end(),
                   std::back_inserter(visit));
    tablesDirty_.clear();
    for (Nid nid : visit) {
      Folder& f = folders_.at(nid);
      if (f.search) continue;
      if (f.hierarchyDirty) {
        if (f.children.empty()) putEmpty<ltp::TableContextBuilder>(tableOf(nid, NidType::HierarchyTable), *f.hierarchyColumns);
        else putHierarchy(f);
      }
      if (f.contentsDirty) {
        if (f.contents) putTable(tableOf(nid, NidType::ContentsTable), 0, *f.contents);
        else putEmpty<ltp::AppendingTable>(tableOf(nid, NidType::ContentsTable), *f.contentsColumns);
      }
      // the contents tables of folders that got no message lately leave memory
      if (f.contents && saved_ - f.lastMessage >= kRecentMessages) {
        f.parked = f.contents->letGo();
        f.contents.reset();
        openTables_.erase(nid);
      }
      if (f.assocDirty) putEmpty<ltp::TableContextBuilder>(tableOf(nid, NidType::AssocContentsTable), *f.assocColumns);
      f.hierarchyDirty = f.contentsDirty = f.assocDirty = false;
    }
    if (namesDirty_ || names_.size() != namesWritten_) {
      ltp::PropertyContextBuilder pc(*ndb_);
      putProperties(*ndb_, pc, names_.toProperties());
      ndb_->putNode(kNameMapNid, 0, pc.finish());
      namesWritten_ = names_.size();
      namesDirty_ = false;
    }
  }

  bool fitsWithin(const StoreMessage& message, std::uint64_t limit) {
    ndb_->setGrowthLimit(limit);
    // the message, its folder written again, and the close
    const std::uint64_t need = StoredSizeBound(message) + kFolderFlushBound + kCloseReserve;
    // Far from the limit no commit is needed: the folders changed since the
    // last commit are written again, and the blocks written since, for the
    // B-tree pages they may still cost, are counted at an eighth.
    if (ndb_->roomWithin(limit) >= need + flushBound() + ndb_->stats().bytesSinceCommit / 8) return true;
    commit();
    return ndb_->roomWithin(limit) >= need;
  }

  // What the next flush() writes at most beyond the message's own row: each
  // folder whose count, tables or properties changed gets its property
  // context and changed tables written again, the last blocks of a contents
  // table and its block lists among them.
  std::uint64_t flushBound() const {
    std::uint64_t bytes = 0;
    for (const auto& [nid, f] : folders_)
      if (f.pcDirty || f.hierarchyDirty || f.contentsDirty || f.assocDirty) bytes += kFolderFlushBound;
    return bytes;
  }
  static constexpr std::uint64_t kFolderFlushBound = 64u << 10;
  // What the close writes beyond the folders: the name map and the B-tree
  // pages of the message's entries.
  static constexpr std::uint64_t kCloseReserve = 256u << 10;

  void commit() {
    made([&] {
      flush();
      ndb_->commit();
    });
    lastCommit_ = std::chrono::steady_clock::now();
  }

  // Runs a commit (or the close), moving the committed count to the messages
  // saved once the file shows the commit, even one that failed after
  // switching to its new content. A commit with nothing to write leaves it:
  // nothing was saved since the last.
  template <class Fn>
  void made(Fn&& fn) {
    const std::uint64_t saved = saved_, before = ndb_->stats().commits;
    try {
      fn();
    } catch (...) {
      if (ndb_->stats().commits > before) committed_ = saved;
      throw;
    }
    if (ndb_->stats().commits > before) committed_ = saved;
  }

  void checkpoint() {
    auto elapsed = std::chrono::steady_clock::now() - lastCommit_;
    if (ndb_->stats().bytesSinceCommit >= options_.commitEveryBytes ||
        elapsed >= std::chrono::milliseconds(options_.commitEveryMilliseconds))
      commit();
  }

  void close() {
    // Tried once: a close that fails has already let go of the growing
    // tables, and the file stays as of its last commit.
    open_ = false;
    made([&] {
      flush();
      // the references the growing tables hold, dropped before the last commit
      for (auto& [nid, f] : folders_) {
        f.contents.reset();
        f.parked = {};
      }
      openTables_.clear();
      ndb_->close();
    });
  }

  std::string path_;
  std::u16string displayName_;
  StoreOptions options_;
  GuidBytes recordKey_;
  NamedPropertyMap names_;
  std::size_t namesWritten_ = 0;
  bool namesDirty_ = true;
  std::unique_ptr<ndb::NodeStore> ndb_;
  std::unique_ptr<MessageWriter> writer_;  // after ndb_: gone before it
  RowCells rowCells_;                      // a contents row's cells, kept for their storage
  std::map<Nid, Folder> folders_;
  // the folders by a hash of their parent and name (see folderNameHash)
  std::unordered_multimap<std::uint64_t, Nid> namesByHash_;
  // folders to write at the next flush (unsorted, may repeat), and those
  // whose contents table is in memory
  std::vector<Nid> pcDirty_, tablesDirty_;
  std::set<Nid> openTables_;
  std::deque<ltp::TableColumns> columnSets_;  // see columnSet()
  std::unique_ptr<ltp::TableContextBuilder> scratch_;  // hierarchy tables are made in it
  struct EmptyTable {
    std::vector<ltp::ColumnDesc> columns;
    ndb::NodeData data;
    std::uint32_t shares = 0;  // the nodes given it
  };
  // well below the 65,534 references a block's count holds, for the
  // references that come and go while the nodes are replaced
  static constexpr std::uint32_t kMostShares = 60000;
  std::vector<EmptyTable> emptyTables_;  // tables without rows written so far, to share
  bool open_ = true;
  std::uint64_t saved_ = 0, committed_ = 0;  // messages
  std::chrono::steady_clock::time_point lastCommit_;
};

namespace {

// Runs a store operation, turning the lower layers' errors into the store's own.
template <class F>
auto guarded(const std::string& path, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const StoreError&) {
    throw;
  } catch (const core::IoError& e) {
    // A message's source that fails is not the store's failure: passed on.
    if (e.path() != path) throw;
    // the file and the cause, each once
    const std::string& op = e.operation();
    if (op == "sync its folder")
      throw StoreError(e, "cannot sync the folder that holds " + path + ", so its name may not last: " + e.reason());
    const char* action = op == "create file" || op == "rename" ? "cannot create " : op == "read" ? "cannot read " : "cannot write ";
    throw StoreError(e, action + path + ": " + e.reason());
  } catch (const ndb::NdbError& e) {
    throw StoreError(StoreError::Kind::Format, e.what());
  } catch (const ltp::LtpError& e) {
    throw StoreError(StoreError::Kind::Format, e.what());
  }
}

}  // namespace

std::unique_ptr<Store> Store::create(const std::string& path, const std::u16string& displayName,
                                     const StoreOptions& options) {
  return guarded(path, [&] { return std::unique_ptr<Store>(new Store(std::make_unique<Impl>(path, displayName, options))); });
}

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Store::~Store() {
  if (impl_ && impl_->open_) {
    try {
      impl_->close();
    } catch (...) {
      // the file stays as of its last commit
    }
  }
}

const std::string& Store::path() const { return impl_->path_; }
const std::u16string& Store::displayName() const { return impl_->displayName_; }
const GuidBytes& Store::recordKey() const { return impl_->recordKey_; }
core::Bytes Store::entryId(std::uint32_t nid) const { return impl_->entryId(nid); }
FolderId Store::rootFolder() const { return kRootNid; }
FolderId Store::ipmSubtree() const { return kIpmNid; }
FolderId Store::deletedItems() const { return kDeletedNid; }

std::vector<FolderId> Store::subfolders(FolderId folder) const { return impl_->folder(folder).children; }
std::optional<FolderId> Store::subfolderNamed(FolderId parent, std::u16string_view name) const {
  impl_->folder(parent);
  return impl_->subfolderNamed(parent, name);
}
std::u16string Store::folderName(FolderId folder) const { return impl_->folder(folder).props.text(tags::DisplayName); }
bool Store::hasFolder(FolderId folder) const { return impl_->folders_.count(folder) != 0; }
std::uint32_t Store::contentCount(FolderId folder) const { return impl_->folder(folder).count; }


FolderId Store::createFolder(FolderId parent, const std::u16string& name) {
  if (!impl_->open_) throw StoreError(StoreError::Kind::Closed, "the store " + impl_->path_ + " is closed");
  return guarded(impl_->path_, [&] { return impl_->createFolder(parent, name); });
}

MessageId Store::addMessage(FolderId folder, StoreMessage message, std::optional<std::uint32_t> flags) {
  if (!impl_->open_) throw StoreError(StoreError::Kind::Closed, "the store " + impl_->path_ + " is closed");
  return guarded(impl_->path_, [&] { return impl_->addMessage(folder, std::move(message), flags); });
}

NamedPropertyMap& Store::namedProperties() { return impl_->names_; }


void Store::commit() {
  if (!impl_->open_) throw StoreError(StoreError::Kind::Closed, "the store " + impl_->path_ + " is closed");
  guarded(impl_->path_, [&] { impl_->commit(); });
}

void Store::close() {
  if (!impl_->open_) return;
  guarded(impl_->path_, [&] { impl_->close(); });
}

bool Store::isOpen() const { return impl_->open_; }
std::uint64_t Store::fileSize() const { return impl_->ndb_->stats().fileSize; }
std::uint64_t Store::bytesInUse() const {
  const ndb::StoreStats stats = impl_->ndb_->stats();
  return stats.fileSize - stats.freeBytes;
}
std::uint64_t Store::bytesSinceCommit() const { return impl_->ndb_->stats().bytesSinceCommit; }
void Store::setGrowthLimit(std::uint64_t bytes) { impl_->ndb_->setGrowthLimit(bytes); }

bool Store::fitsWithin(const StoreMessage& message, std::uint64_t limit) {
  if (!impl_->open_) throw StoreError(StoreError::Kind::Closed, "the store " + impl_->path_ + " is closed");
  return guarded(impl_->path_, [&] { return impl_->fitsWithin(message, limit); });
}
std::uint64_t Store::savedMessageCount() const { return impl_->saved_; }
std::uint64_t Store::committedMessageCount() const { return impl_->committed_; }

}  // namespace parvane::messaging
