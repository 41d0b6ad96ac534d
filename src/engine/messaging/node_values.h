// Property values into nodes: a property context's values (large ones
// streamed into subnodes in chunks), a table row's cells, and the columns of
// the table templates a new store carries.
#pragma once

#include <functional>

#include <cstdint>
#include <span>
#include <vector>

#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/messaging/property_value.h"
#include "engine/messaging/store_template.h"
#include "engine/ndb/node_store.h"

namespace parvane::messaging {

// The template tables of a new store: a folder's three tables, and a
// message's recipient and attachment tables.
inline constexpr ndb::Nid kHierarchyTemplateNid = 0x60D;
inline constexpr ndb::Nid kContentsTemplateNid = 0x60E;
inline constexpr ndb::Nid kAssocTemplateNid = 0x60F;
inline constexpr ndb::Nid kRecipientTemplateNid = 0x692;
inline constexpr ndb::Nid kAttachmentTemplateNid = 0x671;

// A template node of the new store; raises StoreError if there is none.
const store_template::TemplateNode& templateNode(ndb::Nid nid);
std::vector<ltp::ColumnDesc> templateColumns(ndb::Nid nid);
std::vector<std::uint32_t> templateTags(ndb::Nid nid);
// The columns of a message's attachment table: the template's and the long
// file name, which Outlook's rows carry though its template lacks it.
std::vector<std::uint32_t> attachmentTableTags();

// The cells of a table row, as copies: see RowCells.
std::vector<ltp::Cell> rowCells(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns,
                                std::uint32_t rowVersion);

// The cells of a table row: the object's value for each column of the same
// tag (values above 1 MB are left out), and the row version. Views of the
// object's values, for TableContextBuilder::setRowViews, which copies them:
// only values read from a source are held here.
// Views into this object, so it stays where it was made.
class RowCells {
 public:
  RowCells() = default;
  RowCells(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns, std::uint32_t rowVersion);
  RowCells(const RowCells&) = delete;
  RowCells& operator=(const RowCells&) = delete;
  // The cells of another row, in the storage of the last ones.
  void assign(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns, std::uint32_t rowVersion);
  std::span<const ltp::CellRef> cells() const { return {cells_.data(), count_}; }

 private:
  std::vector<ltp::CellRef> cells_;  // room for a cell per column; the first count_ in use
  std::size_t count_ = 0;
  std::uint8_t version_[4] = {};
  std::vector<core::Bytes> read_;
};

// Asked between the chunks of a large value: true abandons the message being
// written (StoreError Abandoned), so that a stop need not wait for the copy of
// an attachment of a gigabyte. Empty: never.
using AbandonCheck = std::function<bool()>;

// A data stream written from a byte source in pieces of 64 KiB, so a value of
// any size passes through a fixed amount of memory.
ndb::NodeData streamInto(ndb::NodeStore& store, const core::ByteSource& source,
                         const AbandonCheck& abandon = {});

// Sets one value on a property context (objects are left to the caller,
// which writes what they hold); values read from a source are streamed.
void putValue(ndb::NodeStore& store, ltp::PropertyContextBuilder& pc, const PropertyValue& v,
              const AbandonCheck& abandon = {});
void putProperties(ndb::NodeStore& store, ltp::PropertyContextBuilder& pc, const PropertyList& list);

}  // namespace parvane::messaging
