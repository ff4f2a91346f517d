#include "ui/ui_fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <initializer_list>

namespace tarnex::ui {
namespace {

QFont FirstInstalled(std::initializer_list<const char*> families, QFont::StyleHint hint,
                     int pixel_size) {
  const QStringList installed = QFontDatabase::families();
  QFont font;
  font.setStyleHint(hint);
  for (const char* family : families) {
    const QString name = QString::fromUtf8(family);
    if (installed.contains(name, Qt::CaseInsensitive)) {
      font.setFamily(name);
      break;
    }
  }
  font.setPixelSize(pixel_size);
  return font;
}

}  // namespace

QFont GothicFont(int pixel_size) {
  return FirstInstalled({"ＭＳ ゴシック", "MS Gothic", "Noto Sans Mono CJK JP", "IPAGothic",
                         "TakaoGothic", "VL Gothic", "Noto Sans CJK JP", "DejaVu Sans Mono"},
                        QFont::TypeWriter, pixel_size);
}

QFont PGothicFont(int pixel_size) {
  return FirstInstalled({"ＭＳ Ｐゴシック", "MS PGothic", "Noto Sans CJK JP", "IPAPGothic",
                         "TakaoPGothic", "VL PGothic", "DejaVu Sans"},
                        QFont::SansSerif, pixel_size);
}

}  // namespace tarnex::ui
