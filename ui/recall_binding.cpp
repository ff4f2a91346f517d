#include "ui/recall_binding.h"

#include <QAction>
#include <QMenu>

#include "ui/qt_text.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

// "&0 path": the number is the accelerator, the path is shown as it is.
QString MenuCaption(const documents::MenuEntry& entry) {
  const QString caption = ToQt(entry.caption);
  const qsizetype blank = caption.indexOf(QLatin1Char(' '));
  if (caption.startsWith(QLatin1Char('&')) && blank == 2) {
    return caption.left(3) + EscapeMnemonic(caption.mid(3));
  }
  return EscapeMnemonic(caption);
}

}  // namespace

RecallMenuBinding::RecallMenuBinding(documents::TCustomMenuControl& recall, QMenu& parent_menu,
                                     QObject* parent)
    : QObject(parent), recall_(recall), menu_(&parent_menu) {
  recall_.OnChange = [this] { ScheduleRebuild(); };
}

RecallMenuBinding::~RecallMenuBinding() {
  recall_.OnChange = nullptr;
}

void RecallMenuBinding::ScheduleRebuild() {
  if (pending_) return;
  pending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (pending_) Guard([this] { Rebuild(); });
      },
      Qt::QueuedConnection);
}

void RecallMenuBinding::RemoveEntries() {
  for (QPointer<QAction>& entry : entries_) {
    if (!entry) continue;
    if (menu_) menu_->removeAction(entry);
    entry->deleteLater();
  }
  entries_.clear();
}

bool RecallMenuBinding::ParentHasOtherItems() const {
  if (!menu_) return false;
  for (QAction* action : menu_->actions()) {
    bool ours = false;
    for (const QPointer<QAction>& entry : entries_) ours = ours || entry == action;
    if (!ours) return true;
  }
  return false;
}

void RecallMenuBinding::Rebuild() {
  pending_ = false;
  if (!menu_) return;
  const std::vector<documents::MenuEntry> items = recall_.MenuItems(ParentHasOtherItems());
  RemoveEntries();
  for (const documents::MenuEntry& item : items) {
    auto* action = new QAction(this);
    action->setObjectName(QString::fromStdString(item.name));
    if (item.separator) {
      action->setSeparator(true);
    } else {
      action->setText(MenuCaption(item));
      action->setEnabled(item.enabled);
      const int tag = item.tag;
      connect(action, &QAction::triggered, this, Guarded([this, tag] { recall_.ItemClick(tag); }));
    }
    menu_->addAction(action);
    entries_.emplace_back(action);
  }
}

}  // namespace tarnex::ui
