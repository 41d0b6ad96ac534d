// Parvane: the program starts into its main window and ends when it closes.
#include <QtWidgets/QApplication>

#include <csignal>

#include "app/engine_binding.h"
#include "app/main_window.h"
#include "import/engine_store_service.h"

int main(int argc, char** argv) {
  // A file-size limit (ulimit -f) makes a write fail with EFBIG, which the
  // store takes as a full disk, rather than end the process unannounced.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Parvane"));
  QApplication::setQuitOnLastWindowClosed(true);
  parvane::importer::EngineStoreService store;
  parvane::app::MainWindow window;
  parvane::app::BindEngine(window, store);
  window.showCentred();
  return QApplication::exec();
}
