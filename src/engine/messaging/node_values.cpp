#include "engine/messaging/node_values.h"

#include <algorithm>

#include "engine/messaging/errors.h"

namespace parvane::messaging {
namespace {

constexpr std::uint64_t kCellLimit = 1u << 20;
// A streamed value passes through a piece this size: small enough to stay in
// the cache between its read and its copy into the blocks written.
constexpr std::size_t kStreamChunk = 64u << 10;

core::Bytes bytesOf(const PropertyValue& v) {
  if (!v.source) return v.bytes;
  return v.source->read(0, static_cast<std::size_t>(v.source->size()));
}

}  // namespace

const store_template::TemplateNode& templateNode(ndb::Nid nid) {
  for (const auto& n : store_template::nodes()) {
    if (n.nid == nid) return n;
  }
  throw StoreError("store template", "node " + core::hex(nid), "present", "absent");
}

std::vector<ltp::ColumnDesc> templateColumns(ndb::Nid nid) {
  std::vector<ltp::ColumnDesc> cols;
  for (const auto& c : templateNode(nid).columns) cols.push_back({c.tag, c.ibData, c.cbData, c.iBit});
  return cols;
}

std::vector<std::uint32_t> templateTags(ndb::Nid nid) {
  std::vector<std::uint32_t> tags;
  for (const auto& c : templateNode(nid).columns) tags.push_back(c.tag);
  return tags;
}

std::vector<std::uint32_t> attachmentTableTags() {
  auto tags = templateTags(kAttachmentTemplateNid);
  tags.push_back(makeTag(0x3707, ptype::Unicode));  // PidTagAttachLongFilename
  return tags;
}

std::vector<ltp::Cell> rowCells(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns,
                                std::uint32_t rowVersion) {
  RowCells views(props, columns, rowVersion);
  std::vector<ltp::Cell> cells;
  cells.reserve(views.cells().size());
  for (const auto& c : views.cells()) cells.push_back({c.tag, core::Bytes(c.value.begin(), c.value.end())});
  return cells;
}

RowCells::RowCells(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns, std::uint32_t rowVersion) {
  assign(props, columns, rowVersion);
}

void RowCells::assign(const PropertyList& props, const std::vector<ltp::ColumnDesc>& columns, std::uint32_t rowVersion) {
  count_ = 0;
  read_.clear();
  core::storeU32(version_, rowVersion);
  if (cells_.size() < columns.size()) cells_.resize(columns.size());
  // columns come sorted by tag, so by id; a list sorted by id (as a finished
  // message's is) is walked along with them instead of searched per column
  const auto& values = props.all();
  const bool sorted = props.sorted() &&
                      std::is_sorted(columns.begin(), columns.end(),
                                     [](const ltp::ColumnDesc& a, const ltp::ColumnDesc& b) { return a.tag < b.tag; });
  std::size_t next = 0;
  for (const auto& c : columns) {
    if (c.tag == ltp::kTagLtpRowId) continue;
    if (c.tag == ltp::kTagLtpRowVer) {
      cells_[count_++] = {c.tag, core::ByteView(version_, 4)};
      continue;
    }
    const PropertyValue* v = nullptr;
    if (sorted) {
      while (next < values.size() && values[next].id() < tagId(c.tag)) ++next;
      if (next < values.size() && values[next].id() == tagId(c.tag)) v = &values[next];
    } else {
      v = props.find(tagId(c.tag));
    }
    if (!v || v->tag != c.tag) continue;
    if (!v->source) {
      cells_[count_++] = {c.tag, v->bytes};
    } else if (v->source->size() <= kCellLimit) {
      // a moved buffer keeps its storage, so earlier views stay valid
      read_.push_back(bytesOf(*v));
      cells_[count_++] = {c.tag, read_.back()};
    }
  }
}

ndb::NodeData streamInto(ndb::NodeStore& store, const core::ByteSource& source,
                         const AbandonCheck& abandon) {
  auto writer = store.newData();
  core::Bytes chunk;
  for (std::uint64_t at = 0; at < source.size(); at += chunk.size()) {
    if (abandon && at > 0 && abandon()) {
      throw StoreError(StoreError::Kind::Abandoned, "the message was abandoned while it was written");
    }
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunk, source.size() - at)));
    source.readAt(at, chunk);
    writer.append(chunk);
  }
  return writer.finish();
}

void putValue(ndb::NodeStore& store, ltp::PropertyContextBuilder& pc, const PropertyValue& v,
              const AbandonCheck& abandon) {
  if (v.type() == ptype::Object) return;
  if (v.source) {
    pc.setStreamed(v.tag, streamInto(store, *v.source, abandon));
  } else if (v.type() == ptype::Boolean) {
    pc.setBool(v.id(), !v.bytes.empty() && v.bytes[0] != 0);
  } else {
    pc.set(v.tag, v.bytes);
  }
}

void putProperties(ndb::NodeStore& store, ltp::PropertyContextBuilder& pc, const PropertyList& list) {
  for (const auto& v : list.all()) putValue(store, pc, v);
}

}  // namespace parvane::messaging
