// The designed fonts where the system has them, else a Japanese font it does have, so that the
// menus and texts never fall back to boxes.
#pragma once

#include <QFont>

namespace tarnex::ui {

// "ＭＳ ゴシック", fixed pitch: the main window, the editor and the log.
QFont GothicFont(int pixel_size);
// "ＭＳ Ｐゴシック", proportional: the options dialog, the progress window and the about box.
QFont PGothicFont(int pixel_size);

}  // namespace tarnex::ui
