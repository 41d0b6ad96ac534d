// How many bytes of a store file a message can take at most, before it is
// written: for a run that must keep a store within a size, which it can only
// decide before the message is in the file.
#pragma once

#include <cstdint>

#include "engine/messaging/message_content.h"

namespace parvane::messaging {

// An upper bound of the file bytes addMessage() uses for `message`: its values
// in heaps or in blocks of their own, with each block's trailer, alignment and
// B-tree entries, the recipient and attachment tables, what finish() adds
// (display lists, flags, sizes, keys), the message's row in its folder's
// contents table and its node; embedded messages and OLE data included.
// Generous where the layout depends on packing: heaps are counted half again.
std::uint64_t StoredSizeBound(const StoreMessage& message);

}  // namespace parvane::messaging
