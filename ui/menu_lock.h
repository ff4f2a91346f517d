// The run lock of the menus: every item of the window disabled for the length of a run, and
// afterwards exactly those enabled again that were enabled before.
#pragma once

#include <QAction>
#include <QPointer>
#include <utility>
#include <vector>

namespace tarnex::ui {

class MenuLock {
 public:
  // Remembers each item's state and disables it. A lock taken while locked only counts.
  void Lock(const std::vector<QAction*>& items);
  // Enables the items that were enabled when the first lock was taken.
  void Unlock();
  bool Locked() const { return depth_ > 0; }

 private:
  std::vector<std::pair<QPointer<QAction>, bool>> saved_;
  int depth_ = 0;
};

}  // namespace tarnex::ui
