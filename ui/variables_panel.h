// The variables panel: a dockable window, hidden until asked for, that lists the script
// variables (secrets masked) and the engine's state: the result flag, the last reply, the
// connection, the local folder and the data connection mode.
#pragma once

#include <QDockWidget>

#include "ui/debug_state.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace tarnex::ui {

class TVariablesPanel : public QDockWidget {
 public:
  explicit TVariablesPanel(QWidget* parent = nullptr);

  void Show(const DebugState& state);

  QTreeWidget* Tree() const { return tree_; }
  // The value shown for `name` in the group `group` (0 variables, 1 state); empty when none.
  QString ValueOf(int group, const QString& name) const;

 private:
  QTreeWidget* tree_;
  QTreeWidgetItem* variables_;
  QTreeWidgetItem* state_;
};

}  // namespace tarnex::ui
