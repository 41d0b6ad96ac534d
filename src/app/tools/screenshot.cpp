// Renders the main window, as it looks at start, to a PNG file.
//
//   parvane_screenshot OUTPUT.png [PATH...]
//
// Each PATH given is listed in the file list first, to show a filled list.
#include <QtGui/QPixmap>
#include <QtWidgets/QApplication>

#include <cstdio>

#include "app/main_window.h"
#include "filelist/file_list.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [PATH...]\n", argv[0]);
    return 2;
  }
  parvane::app::MainWindow window;
  for (int i = 2; i < argc; ++i) {
    parvane::filelist::AppendToList({window.grid(), window.countLabel()}, argv[i]);
  }
  if (argc > 2) window.convertButton().setEnabled(true);
  window.showCentred();
  QApplication::processEvents();
  const QPixmap picture = window.grab();
  if (!picture.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
