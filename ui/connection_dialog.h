// The connection settings dialog "接続設定": the protocol of a host given alone, passive mode,
// the encoding of remote file names, FTPS (the TLS mode, a CA file, a pinned fingerprint) and
// SFTP's SSH options (a key, a known hosts file, a pinned host key, accept-new), stored next to
// the options. Unlike the options dialog its controls are not the live
// settings: Ok stores them and puts them in force, Cancel forgets what was changed. The rows
// sit in one form layout, so a setting added later is one more row.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "platform/registry.h"
#include "settings/live_settings.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;


namespace tarnex::ui {

class UserDialogs;

class TConnectionDialog : public QDialog {
 public:
  TConnectionDialog(QWidget* main_window, settings::LiveSettings& settings,
                    std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs);

  // After Ok has stored the settings: the window hands them to its FTP client.
  std::function<void()> OnApplied;

  // Loads the stored settings into the controls and places the dialog beside the main window.
  void FormShow();
  // Stores the controls' settings, puts them in force and closes; a store error is raised and
  // the dialog stays open.
  void btn_OkClick();

  QComboBox* cm_protocol;
  QCheckBox* cb_passive;
  QComboBox* cm_remote_encoding;
  QComboBox* cm_tls_mode;
  QLineEdit* Ed_tls_ca;
  QLineEdit* Ed_tls_fingerprint;
  QLineEdit* Ed_ssh_key;
  QLineEdit* Ed_ssh_known_hosts;
  QLineEdit* Ed_ssh_host_key;
  QCheckBox* cb_ssh_accept_new;
  QPushButton* btn_Ok;
  QPushButton* btn_Ng;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void AddRow(const QString& label, QWidget* field);
  settings::ConnectionSettings FromControls() const;

  QWidget* main_window_;
  settings::LiveSettings& settings_;
  std::shared_ptr<platform::RegistryStore> store_;
  UserDialogs& dialogs_;
  QFormLayout* rows_;
  settings::ConnectionSettings shown_;  // as last loaded, rows or not
};

}  // namespace tarnex::ui
