// The process-wide mail profile: the stores attached to it, by entry
// identifier and display name. A store stays attached until it is removed;
// whatever is still attached when the process ends is committed and closed
// then, so no store file is ever left half-written by an early exit.
#pragma once

#include <atomic>
#include <cstdint>
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
  AttachedStore attach(const std::string& path, const std::string& displayName,
                       const messaging::StoreOptions& options = {});
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

  // Changes whenever a store is attached or detached: what was found by display
  // name under one value is still what would be found under the same value.
  std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

 private:
  Profile() = default;
  void changed() { generation_.fetch_add(1, std::memory_order_acq_rel); }
  mutable std::mutex mutex_;
  std::vector<AttachedStore> stores_;
  std::atomic<std::uint64_t> generation_{0};
};

}  // namespace parvane::session
