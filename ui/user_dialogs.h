// Everything that asks the user and waits: message boxes, file dialogs and modal forms. The
// program shows Qt's dialogs; tests answer through their own implementation, so that no test
// ever enters a real modal loop.
#pragma once

#include <vector>

#include "documents/file_dialog.h"
#include "platform/dialogs.h"

class QDialog;
class QString;
class QWidget;

namespace tarnex::ui {

// The filter (from 1) that a file dialog reports as `chosen`: its description with or without
// the pattern part, as the dialog shows it; 0 when it is none of `filters`.
int ChosenFilterIndex(const std::vector<documents::FilterEntry>& filters, const QString& chosen);

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;

  // A modal message box over `owner` (none: the box stands alone); the button pressed.
  virtual platform::MessageResult ShowMessage(QWidget* owner,
                                              const platform::MessageBoxRequest& box) = 0;
  // Modal file dialogs working on `dialog`: its filter, filter index, default extension and
  // file name (whose directory part is where the dialog opens). True when the user confirmed a
  // file; its full path (CP932) is then in dialog.file_name. With `script_types`, picking
  // filter 1 or 2 switches the default extension between fcs and fcx (dialog.TypeChange).
  virtual bool RunOpenDialog(QWidget* owner, documents::FileDialog& dialog, bool script_types) = 0;
  virtual bool RunSaveDialog(QWidget* owner, documents::FileDialog& dialog, bool script_types) = 0;
  // Shows `dialog` modally until it closes; returns its result code.
  virtual int RunModal(QDialog& dialog) = 0;
};

class QtUserDialogs : public UserDialogs {
 public:
  platform::MessageResult ShowMessage(QWidget* owner,
                                      const platform::MessageBoxRequest& box) override;
  bool RunOpenDialog(QWidget* owner, documents::FileDialog& dialog, bool script_types) override;
  bool RunSaveDialog(QWidget* owner, documents::FileDialog& dialog, bool script_types) override;
  int RunModal(QDialog& dialog) override;
};

}  // namespace tarnex::ui
