// The window over our own engine: the conversion runs write through the
// engine's store service, and a store that a run still holds when the program
// ends (closing the window mid-run ends the process at once) is committed and
// closed before the process goes.
#pragma once

#include "app/main_window.h"
#include "import/engine_store_service.h"

namespace parvane::app {

// `store` must outlive the window.
void BindEngine(MainWindow& window, importer::EngineStoreService& store);

}  // namespace parvane::app
