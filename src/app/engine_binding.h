// The window over our own mail-store engine: the conversion runs create their
// objects through the engine's factory, and a store that a run still holds
// when the program ends (closing the window mid-run ends the process at once)
// is committed and closed before the process goes.
#pragma once

#include "app/main_window.h"
#include "engine/session/engine_object_factory.h"

namespace parvane::app {

// `factory` must outlive the window.
void BindEngine(MainWindow& window, session::EngineObjectFactory& factory);

// Commits and closes every store still attached to the engine's profile.
void CloseAttachedStores() noexcept;

}  // namespace parvane::app
