// Writes a message as a node's content: its property context, recipient
// table, attachment table, one property context per attachment, embedded
// messages to any depth and large values in subnodes.
//
// PidTagMessageSize is the bytes the message takes in the file, its node and
// all subnodes: the parts are written first, then the property context, whose
// size value is filled in once its heap is laid out (a fixed-width value, so
// it leaves the heap's size as it was). The bytes of
// each part are counted as it is written; only what the lower layer adds on
// its own (a table's row matrix or large cells) is read back from the
// subnode tree.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/messaging/message_content.h"
#include "engine/messaging/node_values.h"
#include "engine/ndb/node_store.h"

namespace parvane::ltp {
class TableContextBuilder;
}

namespace parvane::messaging {

// One writer serves a store's messages one after another: its builders and
// lists keep their storage from message to message.
class MessageWriter {
 public:
  explicit MessageWriter(ndb::NodeStore& store, AbandonCheck abandon = {});
  ~MessageWriter();
  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // Written content and the bytes it takes in the file, its subnodes included.
  struct Written {
    ndb::NodeData data;
    std::uint64_t bytes = 0;
  };

  // Sets the message's PidTagMessageSize, and each attachment's object size
  // and PidTagAttachSize, to what was written. The result holds the references.
  Written write(StoreMessage& message);

 private:
  // The builders and lists of one depth of embedded messages.
  struct Level;
  std::uint64_t subnodeBytes(ndb::Bid bidSub) const;
  Written writeLevel(Level& at, StoreMessage& message);
  void releaseQuietly(const ndb::NodeData& data) noexcept;
  Written table(ltp::TableContextBuilder& t);
  Written writeRecipients(Level& at, const std::vector<PropertyList>& recipients);
  Written writeAttachment(Level& at, StoreAttachment& a);

  ndb::NodeStore& store_;
  AbandonCheck abandon_;
  std::vector<std::unique_ptr<Level>> levels_;
  std::size_t depth_ = 0;  // of the message being written
};

}  // namespace parvane::messaging
