#include "app/engine_binding.h"

#include "engine/session/profile.h"

namespace parvane::app {

void BindEngine(MainWindow& window, session::EngineObjectFactory& factory) {
  window.setObjectFactory(&factory);
  window.setEndHook(&CloseAttachedStores);
}

void CloseAttachedStores() noexcept { session::Profile::instance().closeAll(); }

}  // namespace parvane::app
