// The process-wide mail profile: the stores attached to it, by entry
// identifier and display name. A store stays attached until it is removed;
// whatever is still attached when the process ends is committed and closed
// then, so no store file is ever left half-written by an early exit.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/messaging/store.h"

namespace parvane::session {

struct AttachedStore {
  std::string entryId;
  std::shared_ptr<messaging::Store> store;
};

class Profile {
 public:
  static Profile& instance();
  ~Profile();

  // Creates a new store file and attaches it. Raises AutomationError.
  AttachedStore attach(const std::string& path, const std::string& displayName);
  // The attached store with this entry identifier; raises AutomationError when none.
  AttachedStore byEntryId(const std::string& entryId) const;
  // The first attached store whose display name matches (any letter case), or none.
  std::shared_ptr<messaging::Store> byDisplayName(const std::u16string& displayName) const;
  std::vector<AttachedStore> stores() const;
  // Commits, closes and detaches; the file stays. Raises AutomationError when
  // the commit fails (the store is detached all the same).
  void detach(const std::string& entryId);
  // Closes every attached store (process exit).
  void closeAll() noexcept;

 private:
  Profile() = default;
  mutable std::mutex mutex_;
  std::vector<AttachedStore> stores_;
};

}  // namespace parvane::session
