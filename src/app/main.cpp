// Parvane: the program starts into its main window and ends when it closes.
#include <QtWidgets/QApplication>

#include "app/engine_binding.h"
#include "app/main_window.h"
#include "engine/session/engine_object_factory.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Parvane"));
  QApplication::setQuitOnLastWindowClosed(true);
  parvane::session::EngineObjectFactory factory;
  parvane::app::MainWindow window;
  parvane::app::BindEngine(window, factory);
  window.showCentred();
  return QApplication::exec();
}
