// Creates the mail-store objects by programmatic identifier over our own engine:
// "Redemption.RDOSession", "Redemption.MAPIUtils" and "Outlook.Application".
// Every object it hands out works on one process-wide profile, the list of
// stores attached to it; a store still attached when the process ends is
// committed and closed then.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/messaging/store.h"
#include "platform/automation.h"

namespace parvane::session {

class EngineObjectFactory : public platform::ObjectFactory {
 public:
  // `storeOptions`: those of every store the sessions made here create.
  explicit EngineObjectFactory(messaging::StoreOptions storeOptions = {});
  ~EngineObjectFactory() override;

  // Raises AutomationError 429 (kCannotCreateObject) for any other identifier.
  std::shared_ptr<platform::AutomationObject> CreateObject(const std::string& progId) override;
  // Reads the files ahead of their imports on a thread of its own.
  void ExpectImports(std::vector<std::string> files) override;

 private:
  // The utilities hold no state, so one object serves every request for them.
  std::shared_ptr<platform::MAPIUtils> utils_;
  messaging::StoreOptions storeOptions_;
};

}  // namespace parvane::session
