// Property context: a node's properties as a BTH (property id -> type and value)
// in a heap. Fixed-size values of up to 4 bytes sit in the record, other values
// in the heap, values above 3580 bytes in subnodes. The builder chooses the
// place itself; a value already streamed into a data tree (e.g. an attachment of
// several hundred MB) is handed over as NodeData and becomes a subnode.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/ltp/format.h"
#include "engine/ltp/heap.h"
#include "engine/ndb/block_source.h"
#include "engine/ndb/node_store.h"

namespace parvane::ltp {

class PropertyContextBuilder {
 public:
  explicit PropertyContextBuilder(ndb::NodeStore& store);
  // Starts from an existing node's properties and subnodes (e.g. to change a
  // folder's counts); the node is not modified until its new content is put.
  static PropertyContextBuilder load(ndb::NodeStore& store, const ndb::NodeInfo& node);

  // Sets a property from its stored bytes: little-endian for fixed-size types
  // (exactly their size), UTF-16LE without terminator for PtypString, the
  // count/offsets/data layout for multi-valued variable types. Large values are
  // written to a subnode at once. Throws LtpError for a size that does not fit the type.
  void set(std::uint32_t tag, ByteView value);
  void setInt16(std::uint16_t id, std::int16_t v);
  void setInt32(std::uint16_t id, std::int32_t v);
  void setBool(std::uint16_t id, bool v);
  void setInt64(std::uint16_t id, std::int64_t v);
  void setTime(std::uint16_t id, std::uint64_t filetime);
  void setString(std::uint16_t id, std::u16string_view s);
  void setBinary(std::uint16_t id, ByteView b);
  // A variable-size value already written as a data stream; it becomes a subnode
  // (the references of `data` pass to this builder).
  void setStreamed(std::uint32_t tag, ndb::NodeData data);
  // A PtypObject value: the subnode `nid` (added through subnodes()) and its size.
  void setObject(std::uint16_t id, Nid nid, std::uint32_t size);
  // Values longer than `bytes` (at most 3580, the default) go to subnodes.
  // Outlook's own files keep values up to a few hundred bytes in the heap and
  // move those of about 1.2 KB and more to subnodes. Applies to values set later.
  void setSubnodeThreshold(std::size_t bytes);
  bool remove(std::uint16_t id);
  bool has(std::uint16_t id) const;
  std::size_t size() const { return props_.size(); }
  // Drops every value and subnode (releasing their references), as after
  // finish(): one builder serves node after node and keeps its storage.
  void clear();

  // The node's subnodes besides those holding large values (attachments,
  // recipient and attachment tables...). Use NIDs of other types than Ltp for them.
  ndb::SubnodeTreeBuilder& subnodes() { return subnodes_; }

  // Writes heap and subnode tree; the result holds the references and is
  // normally passed to NodeStore::putNode. The builder is empty afterwards.
  ndb::NodeData finish();
  // finish() for a context that holds its own size: the 4-byte value of
  // property `id` (set earlier, of a 4-byte type) becomes valueOf(the bytes
  // of the heap) once the heap is laid out; the value's width keeps the
  // heap's size as it was.
  ndb::NodeData finishSized(std::uint16_t id, const std::function<std::uint32_t(std::uint64_t)>& valueOf);

 private:
  // A value in the heap or inline is `size` bytes at `offset` of values_, so
  // that a context's values share one buffer.
  struct Entry {
    std::uint16_t type = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    Nid subnode = 0;  // value in a subnode
  };
  Nid newValueNid();
  // Lays out heap_; `leaves`: see buildBth().
  HeapBuilder& buildHeap(std::vector<Hid>* leaves = nullptr);
  ndb::NodeData write(HeapBuilder& heap);
  void dropValue(std::uint16_t id);
  std::vector<std::pair<std::uint16_t, Entry>>::iterator lowerBound(std::uint16_t id);
  void put(std::uint16_t id, Entry e);
  // An entry of type `type` whose bytes are `value`, appended to values_.
  Entry stored(std::uint16_t type, ByteView value);
  ByteView bytesOf(const Entry& e) const { return ByteView(values_.data() + e.offset, e.size); }

  ndb::NodeStore* store_;
  // Sorted by property id, the order the BTH is written in; a node has tens of
  // properties, so a flat vector beats a tree of one allocation each.
  std::vector<std::pair<std::uint16_t, Entry>> props_;
  Bytes values_;  // a replaced value's bytes stay until finish()
  ndb::SubnodeTreeBuilder subnodes_;
  std::uint32_t nextValueIndex_ = 1;
  std::size_t subnodeThreshold_ = kMaxHeapAlloc;
  // Kept from node to node for their storage.
  HeapBuilder heap_{ClientSig::PC};
  Bytes records_;
  std::vector<Hid> leaves_;
};

struct PropertyValue {
  std::uint16_t id = 0;
  PropType type = PropType::Int32;
  Bytes bytes;      // the value's bytes (fixed types in little-endian); empty when in a subnode
  Nid subnode = 0;  // set when the value lives in a subnode
  std::uint32_t tag() const { return makeTag(id, type); }
};

class PropertyContextReader {
 public:
  // Reads the PC of a node (data tree `bidData`, subnode tree `bidSub`).
  PropertyContextReader(const ndb::BlockSource& src, ndb::Bid bidData, ndb::Bid bidSub);
  const std::vector<PropertyValue>& properties() const { return props_; }
  const PropertyValue* find(std::uint16_t id) const;
  // The full value, reading it from its subnode if needed.
  Bytes value(const PropertyValue& p) const;
  const std::vector<ndb::SLENTRY>& subnodes() const { return subnodes_; }

 private:
  const ndb::BlockSource& src_;
  std::vector<PropertyValue> props_;
  std::vector<ndb::SLENTRY> subnodes_;
};

}  // namespace parvane::ltp
