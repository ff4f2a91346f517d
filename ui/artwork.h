// The program's pictures, drawn in code: its icon and the maker's emblem.
#pragma once

#include <QPixmap>

namespace tarnex::ui {

// A script page with a transfer arrow on a blue tile, `size` pixels square.
QPixmap ProgramIcon(int size);
// The maker's emblem: a wave over the name, `width` x `height` pixels.
QPixmap MakerLogo(int width, int height);

}  // namespace tarnex::ui
