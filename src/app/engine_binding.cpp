#include "app/engine_binding.h"

namespace parvane::app {

void BindEngine(MainWindow& window, importer::EngineStoreService& store) {
  window.setStoreService(&store);
  window.setEndHook([&store] { store.closeNow(); });
}

}  // namespace parvane::app
