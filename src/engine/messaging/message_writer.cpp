#include "engine/messaging/message_writer.h"

#include <algorithm>
#include <optional>

#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/messaging/node_values.h"

namespace parvane::messaging {
namespace {

using ndb::Nid;
using ndb::NidType;

constexpr Nid kRecipientTableNid = 0x692;
constexpr Nid kAttachmentTableNid = 0x671;
constexpr std::uint32_t kFirstAttachmentIndex = 0x401;

// The recipient table's columns when every recipient property has one in the
// template: the same for every message, so laid out once.
struct RecipientColumns {
  std::vector<std::uint32_t> tags;
  std::vector<std::uint16_t> ids;  // sorted
  std::optional<ltp::TableColumns> columns;
};

const RecipientColumns& recipientColumns() {
  static const RecipientColumns cached = [] {
    RecipientColumns r;
    r.tags = templateTags(kRecipientTemplateNid);
    for (auto t : r.tags) r.ids.push_back(tagId(t));
    std::sort(r.ids.begin(), r.ids.end());
    r.ids.erase(std::unique(r.ids.begin(), r.ids.end()), r.ids.end());
    r.columns.emplace(ltp::layoutColumns(r.tags));
    return r;
  }();
  return cached;
}

const ltp::TableColumns& attachmentColumns() {
  static const ltp::TableColumns cached(ltp::layoutColumns(attachmentTableTags()));
  return cached;
}

// A value's bytes count beside its context's heap only when they live in a
// subnode: the property context keeps a value of up to kMaxHeapAlloc bytes in
// its heap, even one given as a stream (a value read on demand).
bool inSubnode(std::uint64_t size) { return size > ltp::kMaxHeapAlloc; }

std::uint32_t sizeValue(std::uint64_t size) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFF));
}

}  // namespace

struct MessageWriter::Level {
  explicit Level(ndb::NodeStore& store)
      : pc(store), attachmentPc(store), recipients(store, *recipientColumns().columns),
        attachments(store, attachmentColumns()) {}
  ltp::PropertyContextBuilder pc, attachmentPc;
  ltp::TableContextBuilder recipients, attachments;
  bool recipientsKnown = true;  // `recipients` has the template's columns
  RowCells cells;
  std::vector<std::pair<std::uint32_t, ndb::NodeData>> large;
  std::vector<std::pair<Nid, ndb::NodeData>> children;
  std::vector<std::uint32_t> extra;
};

MessageWriter::MessageWriter(ndb::NodeStore& store, AbandonCheck abandon)
    : store_(store), abandon_(std::move(abandon)) {}
MessageWriter::~MessageWriter() = default;

// The bytes the subnodes of a node take in the file, read from its subnode
// tree (for what the lower layer wrote on its own, such as a table's rows).
std::uint64_t MessageWriter::subnodeBytes(ndb::Bid bidSub) const {
  std::uint64_t total = 0;
  if (bidSub) {
    for (const auto& e : ndb::readSubnodes(store_, bidSub))
      total += (e.bidData ? ndb::dataSize(store_, e.bidData) : 0) + subnodeBytes(e.bidSub);
  }
  return total;
}

MessageWriter::Written MessageWriter::table(ltp::TableContextBuilder& t) {
  auto data = t.finish();
  return {data, data.size + subnodeBytes(data.bidSub)};
}

// Writes a message with its recipients, attachments and large values. Its
// PidTagMessageSize is the bytes the message takes in the file, node and
// subnodes: the parts and the property context are each written once.
MessageWriter::Written MessageWriter::write(StoreMessage& m) {
  if (levels_.size() <= depth_) levels_.push_back(std::make_unique<Level>(store_));
  Level& at = *levels_[depth_];
  struct Deeper {
    std::size_t& depth;
    explicit Deeper(std::size_t& d) : depth(d) { ++depth; }
    ~Deeper() { --depth; }
    Deeper(const Deeper&) = delete;
    Deeper& operator=(const Deeper&) = delete;
  } deeper(depth_);
  auto& large = at.large;
  auto& children = at.children;
  large.clear();
  children.clear();
  try {
    return writeLevel(at, m);
  } catch (...) {
    // Until the end `large` and `children` hold a reference on each part; a
    // message given up half-way (a damaged source, a stop) gives them back,
    // so that no block it wrote stays behind.
    for (auto& part : large) releaseQuietly(part.second);
    for (auto& part : children) releaseQuietly(part.second);
    large.clear();
    children.clear();
    throw;
  }
}

void MessageWriter::releaseQuietly(const ndb::NodeData& data) noexcept {
  try {
    store_.release(data);
  } catch (...) {
    // the store failed already: the failure on its way up says so
  }
}

MessageWriter::Written MessageWriter::writeLevel(Level& at, StoreMessage& m) {
  auto& large = at.large;
  auto& children = at.children;
  std::uint64_t partBytes = 0;
  for (const auto& v : m.properties.all()) {
    if (v.type() == ptype::Object) continue;
    if (v.source) large.push_back({v.tag, streamInto(store_, *v.source, abandon_)});
    else if (v.bytes.size() > ltp::kMaxHeapAlloc) large.push_back({v.tag, store_.writeData(v.bytes)});
  }
  for (const auto& part : large) {
    if (inSubnode(part.second.size)) partBytes += part.second.size;
  }
  auto recipients = writeRecipients(at, m.recipients);
  children.push_back({kRecipientTableNid, recipients.data});
  partBytes += recipients.bytes;
  if (!m.attachments.empty()) {
    ltp::TableContextBuilder& attachments = at.attachments;
    attachments.clear();
    for (std::size_t k = 0; k < m.attachments.size(); ++k) {
      auto& a = m.attachments[k];
      std::uint32_t index = kFirstAttachmentIndex + static_cast<std::uint32_t>(k);
      // the header's counter covers every attachment index in use, as Outlook keeps it
      if (store_.nidCounter(NidType::Attachment) < index) store_.setNidCounter(NidType::Attachment, index);
      Nid nid = ndb::makeNid(NidType::Attachment, index);
      auto written = writeAttachment(at, a);
      children.push_back({nid, written.data});
      partBytes += written.bytes;
      at.cells.assign(a.properties, attachments.columns(), store_.nextUnique());
      attachments.setRowViews(nid, at.cells.cells());
    }
    auto written = table(attachments);
    children.push_back({kAttachmentTableNid, written.data});
    partBytes += written.bytes;
  }
  // The heap's size depends neither on the size value (a fixed-width value in
  // the record) nor on the subnodes, so the context is measured when complete
  // and its size value set before it is written.
  // the size value is written in place: the list does not change until the end
  PropertyValue* sizeProperty = m.properties.find(tags::MessageSize);
  if (sizeProperty && sizeProperty->tag == makeTag(tags::MessageSize, ptype::Int32) && sizeProperty->bytes.size() == 4 &&
      !sizeProperty->source) {
    core::storeU32(sizeProperty->bytes.data(), 0);
  } else {
    m.properties.set(PropertyValue::int32(tags::MessageSize, 0));
    sizeProperty = m.properties.find(tags::MessageSize);
  }
  ltp::PropertyContextBuilder& pc = at.pc;
  pc.clear();
  for (const auto& v : m.properties.all()) {
    if (!v.source && v.bytes.size() <= ltp::kMaxHeapAlloc) putValue(store_, pc, v);
  }
  for (const auto& [tag, data] : large) {
    store_.retain(data);
    pc.setStreamed(tag, data);
  }
  for (const auto& [nid, data] : children) {
    store_.retain(data);
    pc.subnodes().add(nid, data);
  }
  std::uint64_t bytes = 0;
  // two words of capture: held by the function object itself
  auto result = pc.finishSized(tags::MessageSize, [&bytes, partBytes](std::uint64_t heapBytes) {
    bytes = heapBytes + partBytes;
    return sizeValue(bytes);
  });
  core::storeU32(sizeProperty->bytes.data(), sizeValue(bytes));
  for (const auto& part : large) store_.release(part.second);
  for (const auto& part : children) store_.release(part.second);
  large.clear();
  children.clear();
  return {result, bytes};
}

MessageWriter::Written MessageWriter::writeRecipients(Level& at, const std::vector<PropertyList>& recipients) {
  const RecipientColumns& known = recipientColumns();
  // properties the template has no column for get one of their own, the first
  // tag of an id winning
  std::vector<std::uint32_t>& extra = at.extra;
  extra.clear();
  for (const auto& r : recipients) {
    for (const auto& v : r.all()) {
      if (v.type() == ptype::Object || std::binary_search(known.ids.begin(), known.ids.end(), v.id())) continue;
      if (std::none_of(extra.begin(), extra.end(), [&](std::uint32_t t) { return tagId(t) == v.id(); }))
        extra.push_back(v.tag);
    }
  }
  ltp::TableContextBuilder& rows = at.recipients;
  if (extra.empty()) {
    if (at.recipientsKnown) rows.clear();
    else rows.reset(*known.columns);
    at.recipientsKnown = true;
  } else {
    std::vector<std::uint32_t> tags = known.tags;
    tags.insert(tags.end(), extra.begin(), extra.end());
    rows.reset(ltp::TableColumns(ltp::layoutColumns(std::move(tags))));
    at.recipientsKnown = false;
  }
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    at.cells.assign(recipients[i], rows.columns(), store_.nextUnique());
    rows.setRowViews(static_cast<std::uint32_t>(i), at.cells.cells());
  }
  return table(rows);
}

// An attachment with what it holds; its large values become subnodes of
// their own bytes, so the bytes it takes are known without reading back.
MessageWriter::Written MessageWriter::writeAttachment(Level& at, StoreAttachment& a) {
  Nid objectNid = 0;
  Written object;
  if (a.embedded) {
    objectNid = store_.allocateNid(NidType::NormalMessage);
    object = write(*a.embedded);
    recordObjectSize(a, a.embedded->properties.int32(tags::MessageSize).value_or(0));
  } else if (a.oleData) {
    objectNid = ndb::makeNid(NidType::Attachment, 1);
    object.data = streamInto(store_, *a.oleData, abandon_);
    object.bytes = object.data.size;
    recordObjectSize(a, a.oleData->size());
  }
  ltp::PropertyContextBuilder& pc = at.attachmentPc;
  pc.clear();
  std::uint64_t valueBytes = 0;
  for (const auto& v : a.properties.all()) {
    putValue(store_, pc, v, abandon_);
    if (v.type() != ptype::Object && inSubnode(v.size())) valueBytes += v.size();
  }
  if (objectNid) {
    const auto* value = a.properties.find(tags::AttachData);
    pc.subnodes().add(objectNid, object.data);
    pc.setObject(tags::AttachData, objectNid, core::loadU32(value->bytes.data() + 4));
  }
  auto data = pc.finish();
  return {data, data.size + valueBytes + object.bytes};
}

}  // namespace parvane::messaging
