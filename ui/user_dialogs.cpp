#include "ui/user_dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "ui/qt_text.h"

namespace tarnex::ui {
namespace {

using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageResult;

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::Ok:
      break;
  }
  return QMessageBox::Ok;
}

MessageResult FromQtButton(int button, MessageButtons buttons) {
  switch (button) {
    case QMessageBox::Yes:
      return MessageResult::Yes;
    case QMessageBox::No:
      return MessageResult::No;
    case QMessageBox::Cancel:
      return MessageResult::Cancel;
    case QMessageBox::Ok:
      return MessageResult::Ok;
    default:
      break;
  }
  // A box closed some other way counts as its most cautious answer.
  if (buttons == MessageButtons::YesNoCancel) return MessageResult::Cancel;
  if (buttons == MessageButtons::YesNo) return MessageResult::No;
  return MessageResult::Ok;
}

// "description (pattern)", the form in which a file dialog takes a filter.
QString NameFilter(const documents::FilterEntry& entry) {
  return ToQt(entry.description) + QStringLiteral(" (") + ToQt(entry.pattern) + QStringLiteral(")");
}

// The user picked `filter`: with script types the default extension follows it.
void ChooseFilter(documents::FileDialog& dialog, const QString& filter, bool script_types) {
  const int index = ChosenFilterIndex(dialog.Filters(), filter);
  if (index == 0) return;
  if (script_types) {
    dialog.TypeChange(index);
  } else {
    dialog.filter_index = index;
  }
}

bool RunFileDialog(QWidget* owner, documents::FileDialog& dialog, bool save, bool script_types) {
  QFileDialog box(owner);
  box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  box.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The descriptions are shown as written; the patterns only filter.
  box.setOption(QFileDialog::HideNameFilterDetails);
  QStringList filters;
  for (const documents::FilterEntry& entry : dialog.Filters()) filters << NameFilter(entry);
  box.setNameFilters(filters);
  if (dialog.filter_index >= 1 && dialog.filter_index <= filters.size()) {
    box.selectNameFilter(filters.at(dialog.filter_index - 1));
  }
  box.setDefaultSuffix(ToQt(dialog.default_extension));
  if (!dialog.file_name.empty()) {
    const QFileInfo info(ToQt(dialog.file_name));
    box.setDirectory(info.absolutePath());
    box.selectFile(info.fileName());
  }
  // The dialog names the filter as it shows it, without the pattern part.
  QObject::connect(&box, &QFileDialog::filterSelected, &box, [&](const QString& filter) {
    ChooseFilter(dialog, filter, script_types);
    box.setDefaultSuffix(ToQt(dialog.default_extension));
  });
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
  ChooseFilter(dialog, box.selectedNameFilter(), script_types);
  dialog.file_name = PathFromQt(box.selectedFiles().constFirst());
  return true;
}

}  // namespace

int ChosenFilterIndex(const std::vector<documents::FilterEntry>& filters, const QString& chosen) {
  const QString wanted = chosen.simplified();
  for (size_t i = 0; i < filters.size(); ++i) {
    if (wanted == NameFilter(filters[i]).simplified() ||
        wanted == ToQt(filters[i].description).simplified()) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

MessageResult QtUserDialogs::ShowMessage(QWidget* owner, const platform::MessageBoxRequest& box) {
  // The texts are in the thread's encoding: a UTF-8 script's run asks in UTF-8.
  QMessageBox message(ToQtIcon(box.icon), RunTextToQt(box.caption), RunTextToQt(box.text),
                      ToQtButtons(box.buttons), owner);
  message.setTextFormat(Qt::PlainText);
  if (box.system_modal) message.setWindowModality(Qt::ApplicationModal);
  return FromQtButton(message.exec(), box.buttons);
}

bool QtUserDialogs::RunOpenDialog(QWidget* owner, documents::FileDialog& dialog,
                                  bool script_types) {
  return RunFileDialog(owner, dialog, false, script_types);
}

bool QtUserDialogs::RunSaveDialog(QWidget* owner, documents::FileDialog& dialog,
                                  bool script_types) {
  return RunFileDialog(owner, dialog, true, script_types);
}

int QtUserDialogs::RunModal(QDialog& dialog) {
  return dialog.exec();
}

}  // namespace tarnex::ui
