// Parvane: the program starts into its main window and ends when it closes.
#include <QtWidgets/QApplication>

#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Parvane"));
  QApplication::setQuitOnLastWindowClosed(true);
  parvane::app::MainWindow window;
  window.showCentred();
  return QApplication::exec();
}
