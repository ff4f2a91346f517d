// The options dialog TTarnexOption ("Tarnex -Options"). Its controls are the program's live
// settings: every change in a control is in force at once (the engine reads LiveSettings),
// Ok stores them, Cancel only closes, and every showing loads them again from the store.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "documents/file_dialog.h"
#include "platform/registry.h"
#include "settings/live_settings.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolButton;

namespace tarnex::ui {

class SpinField;
class UserDialogs;

class TTarnexOption : public QDialog {
 public:
  // `main_window` is where the dialog is placed from; the store holds the options.
  TTarnexOption(QWidget* main_window, settings::LiveSettings& settings,
                std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs);

  // The FTP client's trace follows "DebugMode" the moment it changes.
  std::function<void(bool)> OnDebugMode;

  // Loads every setting from the store into the controls and places the dialog 50 pixels
  // right of and below the main window. Raises the store's type error, with the settings
  // before the failing one loaded.
  void FormShow();
  // Stores every setting and closes; a store error is raised and the dialog stays open. A
  // send-wait at least as long as the time-out is stored only once the user confirms it.
  void btn_OkClick();
  void btn_NgClick();
  void ch_logsaveClick();
  void btn_BrowsClick();
  void cb_waitClick();
  void cb_debugmodeClick();
  void sp_WsizeChange(SpinField& field);

  QCheckBox* ch_runmode;
  QCheckBox* ch_logsave;
  QCheckBox* cb_debugmode;
  QCheckBox* cb_wait;
  QCheckBox* cb_progress;
  QCheckBox* cb_showbutton;
  QLineEdit* Ed_logsave;
  QToolButton* btn_Brows;
  QToolButton* btn_Ok;
  QToolButton* btn_Ng;
  QFrame* Bvl_wait;
  SpinField* sp_Wsize;
  SpinField* sp_Wsec;
  SpinField* Ed_timeout;
  // The pause after each line of a whole run, in milliseconds (stored as StepDelay).
  SpinField* sp_StepDelay;
  QLabel* LabelStepDelay;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  documents::FileDialog dlg;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildWaitFrame();
  void SpreadTimeoutLabel();
  void ConnectControls();
  void ShowSettings();
  void EnableLogName(bool enable);
  bool ConfirmSendWait();

  QWidget* main_window_;
  settings::LiveSettings& settings_;
  std::shared_ptr<platform::RegistryStore> store_;
  UserDialogs& dialogs_;
};

}  // namespace tarnex::ui
