#include "ui/menu_lock.h"

namespace tarnex::ui {

void MenuLock::Lock(const std::vector<QAction*>& items) {
  if (depth_++ > 0) return;
  saved_.clear();
  for (QAction* item : items) {
    saved_.emplace_back(item, item->isEnabled());
    item->setEnabled(false);
  }
}

void MenuLock::Unlock() {
  if (depth_ == 0 || --depth_ > 0) return;
  for (auto& [item, enabled] : saved_) {
    if (item && enabled) item->setEnabled(true);
  }
  saved_.clear();
}

}  // namespace tarnex::ui
