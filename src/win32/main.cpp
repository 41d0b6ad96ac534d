// Parvane.exe: the program starts into its main window and ends when it closes.
// Closing ends the process at once; a store that a conversion still holds is
// committed and closed first.
#include "win32/windows_api.h"
#include <objbase.h>

#include "import/engine_store_service.h"
#include "win32/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The shell's folder dialog needs COM in a single-threaded apartment.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  parvane::importer::EngineStoreService store;
  parvane::win32::MainWindow window(instance, store, parvane::core::FileSystem::native(), [&store] {
    store.closeNow();
    ExitProcess(0);
  });
  window.showCentred();
  return window.run();
}
