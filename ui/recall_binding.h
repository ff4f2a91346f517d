// The recall menu's entries under "開き直す": built from TRecallMenu::MenuItems() and built
// again whenever the list changes. The rebuild is deferred to after the event that caused it,
// because the change usually comes from the click of one of the entries it replaces, and that
// entry must outlive the delivery of its own click.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

#include "documents/recall_menu.h"

class QAction;
class QMenu;

namespace tarnex::ui {

class RecallMenuBinding : public QObject {
 public:
  RecallMenuBinding(documents::TCustomMenuControl& recall, QMenu& parent_menu,
                    QObject* parent = nullptr);
  ~RecallMenuBinding() override;

  // Replaces the entries with what the list says now.
  void Rebuild();
  bool RebuildPending() const { return pending_; }

 private:
  void ScheduleRebuild();
  void RemoveEntries();
  bool ParentHasOtherItems() const;

  documents::TCustomMenuControl& recall_;
  QPointer<QMenu> menu_;
  std::vector<QPointer<QAction>> entries_;
  bool pending_ = false;
};

}  // namespace tarnex::ui
