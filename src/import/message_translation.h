// A message file's message in the store's terms: file-local named-property
// ids translated through the store's map, 8-bit strings decoded to Unicode,
// values too big for memory left in the file to be read when written, and the
// properties the store computes itself dropped.
#pragma once

#include "engine/messaging/message_content.h"
#include "engine/msg/message.h"

namespace parvane::importer {

// Named properties are registered in `map`.
messaging::StoreMessage TranslateMessage(const msg::Message& source, messaging::NamedPropertyMap& map);

}  // namespace parvane::importer
