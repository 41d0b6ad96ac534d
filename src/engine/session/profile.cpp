#include "engine/session/profile.h"

#include <algorithm>
#include <filesystem>

#include "engine/core/text.h"
#include "engine/messaging/folder_names.h"
#include "engine/session/automation_errors.h"

namespace parvane::session {

Profile& Profile::instance() {
  static Profile profile;
  return profile;
}

Profile::~Profile() { closeAll(); }

AttachedStore Profile::attach(const std::string& path, const std::string& displayName,
                              const messaging::StoreOptions& options) {
  // The path is UTF-8; a plain string would be read in the Windows code page there.
  // Past MAX_PATH the check may miss on Windows: the exclusive creation refuses then.
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())), ec))
    raise(platform::AutomationError::kFileExists, "Cannot create the store \"" + path + "\": the file already exists");
  auto store = translated("Cannot create the store \"" + path + "\"", [&] {
    return std::shared_ptr<messaging::Store>(messaging::Store::create(path, core::utf8ToUtf16(displayName), options));
  });
  AttachedStore attached{core::hexBytes(store->entryId(0)), store};
  std::lock_guard lock(mutex_);
  stores_.push_back(attached);
  changed();
  return attached;
}

AttachedStore Profile::byEntryId(const std::string& entryId) const {
  std::lock_guard lock(mutex_);
  for (const auto& s : stores_) {
    if (s.entryId == entryId) return s;
  }
  raise(kMapiNotFound, "No store with the entry identifier \"" + entryId + "\" is attached to the profile");
}

std::shared_ptr<messaging::Store> Profile::byDisplayName(const std::u16string& displayName) const {
  std::lock_guard lock(mutex_);
  for (const auto& s : stores_) {
    if (messaging::sameFolderName(s.store->displayName(), displayName)) return s.store;
  }
  return nullptr;
}

std::vector<AttachedStore> Profile::stores() const {
  std::lock_guard lock(mutex_);
  return stores_;
}

void Profile::detach(const std::string& entryId) {
  std::shared_ptr<messaging::Store> store;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(stores_.begin(), stores_.end(), [&](const AttachedStore& s) { return s.entryId == entryId; });
    if (it == stores_.end())
      raise(kMapiNotFound, "No store with the entry identifier \"" + entryId + "\" is attached to the profile");
    store = it->store;
    stores_.erase(it);
    changed();
  }
  translated("Cannot close the store \"" + store->path() + "\"", [&] { store->close(); });
}

void Profile::closeAll() noexcept {
  std::vector<AttachedStore> stores;
  {
    std::lock_guard lock(mutex_);
    stores.swap(stores_);
    changed();
  }
  for (auto& s : stores) {
    try {
      s.store->close();
    } catch (...) {
      // nothing left to report to at exit; the file stays as of its last commit
    }
  }
}

}  // namespace parvane::session
