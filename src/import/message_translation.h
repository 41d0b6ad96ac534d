// A message file's message in the store's terms: file-local named-property
// ids translated through the store's map, 8-bit strings decoded to Unicode,
// values too big for memory left in the file to be read when written, and the
// properties the store computes itself dropped.
#pragma once

#include <vector>

#include "engine/messaging/message_content.h"
#include "engine/msg/message.h"

namespace parvane::importer {

// Named properties are registered in `map`.
messaging::StoreMessage TranslateMessage(const msg::Message& source, messaging::NamedPropertyMap& map);

// A message translated before its store is known, so that a thread other than
// the store's can do it: its named properties carry ids of its own, 0x8000 +
// the order in which their names first came, which WithStoreIds turns into
// the store's. Registering the names in that order leaves the store's map as
// TranslateMessage would have.
struct DetachedTranslation {
  messaging::StoreMessage content;
  std::vector<messaging::PropertyName> names;  // by local id - 0x8000
};
DetachedTranslation TranslateDetached(const msg::Message& source);
messaging::StoreMessage WithStoreIds(DetachedTranslation translation, messaging::NamedPropertyMap& map);

}  // namespace parvane::importer
