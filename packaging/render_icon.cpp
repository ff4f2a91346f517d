// Writes the program icon, drawn by the same code as the window and the about box, to a PNG:
//   tarnex-render-icon SIZE FILE
// The packaged PNG comes from here, so it cannot drift from what the program shows.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/artwork.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: tarnex-render-icon SIZE FILE\n", stderr);
    return 2;
  }
  const int size = std::atoi(argv[1]);
  if (size < 16 || size > 1024) {
    std::fputs("tarnex-render-icon: SIZE must be 16 to 1024\n", stderr);
    return 2;
  }
  // No display is needed to draw into a pixmap.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QImage image = tarnex::ui::ProgramIcon(size).toImage();
  if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "tarnex-render-icon: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
