// Parvane: the program starts into its main window and ends when it closes.
#include <QtWidgets/QApplication>

#include "app/engine_binding.h"
#include "app/main_window.h"
#include "import/engine_store_service.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Parvane"));
  QApplication::setQuitOnLastWindowClosed(true);
  parvane::importer::EngineStoreService store;
  parvane::app::MainWindow window;
  parvane::app::BindEngine(window, store);
  window.showCentred();
  return QApplication::exec();
}
