#include "engine/messaging/stored_size.h"

#include "engine/ltp/format.h"
#include "engine/ndb/format.h"

namespace parvane::messaging {
namespace {

// A block on disk: its data, its trailer, alignment to 64 bytes, and its
// entry in a leaf of the block B-tree (24 bytes in a 512-byte page of 20).
constexpr std::uint64_t kBlockOverhead = ndb::kBlockTrailerSize + 63 + 26;

// A stream cut into data blocks under XBLOCKs (and an XXBLOCK past 1021).
std::uint64_t streamBytes(std::uint64_t size) {
  const std::uint64_t blocks = (size + ndb::kMaxBlockData - 1) / ndb::kMaxBlockData;
  const std::uint64_t xblocks = blocks > 1 ? (blocks + ndb::kXBlockMaxEntries - 1) / ndb::kXBlockMaxEntries + 1 : 0;
  // and its entry in the subnode tree
  return size + (blocks + xblocks) * kBlockOverhead + xblocks * ndb::kMaxBlockData + 24;
}

// The values of one object: small ones in its heap (a record in the
// property B-tree, an allocation, alignment), large ones as streams.
struct ObjectBytes {
  std::uint64_t heap = 0;
  std::uint64_t streams = 0;
};

void addValues(const PropertyList& list, ObjectBytes& into) {
  for (const auto& v : list.all()) {
    const std::uint64_t size = v.size();
    if (v.source || size > ltp::kMaxHeapAlloc) {
      into.streams += streamBytes(size);
    } else {
      into.heap += size + 16;
    }
  }
}

// A heap's blocks may each leave up to one largest allocation unused.
std::uint64_t heapBytes(std::uint64_t heap) {
  const std::uint64_t blocks = heap / ndb::kMaxBlockData + 1;
  return heap + heap / 2 + blocks * (kBlockOverhead + 512);
}

// The fixed parts of a message: its property context's heap header and
// property B-tree, the recipient table (table info, column descriptions,
// row index, row matrix), the subnode tree, the node's entry, its row in the
// folder's contents table and what finish() adds.
constexpr std::uint64_t kMessageFixed = 12 * 1024;
// Per recipient: its row in the table, counted beside its values.
constexpr std::uint64_t kRecipientFixed = 256;
// Per attachment: its property context's fixed parts, its row in the
// attachment table (a few short columns).
constexpr std::uint64_t kAttachmentFixed = 2 * 1024;

}  // namespace

std::uint64_t StoredSizeBound(const StoreMessage& message) {
  ObjectBytes own;
  addValues(message.properties, own);
  // The recipients' values in the table, and once more in the display lists
  // and the table's cells that the store computes from them.
  ObjectBytes recipients;
  for (const auto& r : message.recipients) addValues(r, recipients);
  std::uint64_t total = kMessageFixed + heapBytes(own.heap) + own.streams +
                        2 * (heapBytes(recipients.heap) + recipients.streams) +
                        kRecipientFixed * message.recipients.size();
  for (const auto& a : message.attachments) {
    ObjectBytes values;
    addValues(a.properties, values);
    total += kAttachmentFixed + heapBytes(values.heap) + values.streams;
    if (a.embedded) total += StoredSizeBound(*a.embedded);
    if (a.oleData) total += streamBytes(a.oleData->size());
  }
  return total;
}

}  // namespace parvane::messaging
