#include "engine/session/engine_object_factory.h"

#include <utility>

#include "engine/session/automation_errors.h"
#include "engine/session/import_read_ahead.h"
#include "engine/session/outlook_objects.h"
#include "engine/session/profile.h"
#include "engine/session/rdo_objects.h"

namespace parvane::session {

EngineObjectFactory::EngineObjectFactory(messaging::StoreOptions storeOptions)
    : utils_(std::make_shared<EngineMapiUtils>()), storeOptions_(std::move(storeOptions)) {
  (void)Profile::instance();
}

EngineObjectFactory::~EngineObjectFactory() = default;

std::shared_ptr<platform::AutomationObject> EngineObjectFactory::CreateObject(const std::string& progId) {
  if (progId == "Redemption.RDOSession") return std::make_shared<EngineSession>(storeOptions_);
  if (progId == "Redemption.MAPIUtils") return utils_;
  if (progId == "Outlook.Application") return std::make_shared<EngineOutlookApplication>();
  raise(platform::AutomationError::kCannotCreateObject, "ActiveX component can't create object: \"" + progId + "\"");
}

void EngineObjectFactory::ExpectImports(std::vector<std::string> files) {
  AnnounceImports(std::move(files), &OpenMessageFileSized);
}

}  // namespace parvane::session
