#include "ui/connection_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/options_store.h"
#include "text/fingerprint.h"
#include "ui/qt_text.h"
#include "ui/user_dialogs.h"
#include "ui/slot_guard.h"
#include "ui/ui_fonts.h"

namespace tarnex::ui {
namespace {

// A stored option's word ("utf-8", "explicit") as the data of a choice.
QString ChoiceData(std::string_view word) {
  return QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size()));
}

// Selects the choice whose data is `data`, else the first.
void SelectChoice(QComboBox& box, const QString& data) {
  const int index = box.findData(data);
  box.setCurrentIndex(index >= 0 ? index : 0);
}

}  // namespace

TConnectionDialog::TConnectionDialog(QWidget* main_window, settings::LiveSettings& settings,
                                     std::shared_ptr<platform::RegistryStore> store,
                                     UserDialogs& dialogs)
    : QDialog(main_window),
      main_window_(main_window),
      settings_(settings),
      store_(std::move(store)),
      dialogs_(dialogs) {
  setObjectName(QStringLiteral("ConnectionOption"));
  setWindowTitle(QStringLiteral("接続設定"));
  setFont(PGothicFont(12));
  auto* layout = new QVBoxLayout(this);
  rows_ = new QFormLayout;
  layout->addLayout(rows_);

  cm_protocol = new QComboBox(this);
  cm_protocol->setObjectName(QStringLiteral("cm_protocol"));
  const std::pair<settings::RemoteProtocol, const char*> protocols[] = {
      {settings::RemoteProtocol::Ftp, "FTP（ftp:// と ftps:// も使える）"},
      {settings::RemoteProtocol::Sftp, "SFTP（ssh を使う）"},
  };
  for (const auto& [protocol, caption] : protocols) {
    cm_protocol->addItem(QString::fromUtf8(caption),
                         ChoiceData(settings::RemoteProtocolText(protocol)));
  }
  AddRow(QStringLiteral("プロトコル"), cm_protocol);

  cb_passive = new QCheckBox(QStringLiteral("パッシブモード（EPSV、だめなら PASV）"), this);
  cb_passive->setObjectName(QStringLiteral("cb_passive"));
  AddRow(QStringLiteral("データ接続"), cb_passive);

  cm_remote_encoding = new QComboBox(this);
  cm_remote_encoding->setObjectName(QStringLiteral("cm_remote_encoding"));
  const std::pair<settings::RemoteEncoding, const char*> encodings[] = {
      {settings::RemoteEncoding::Cp932, "cp932（スクリプトのバイトのまま）"},
      {settings::RemoteEncoding::Utf8, "utf-8"},
      {settings::RemoteEncoding::Auto, "auto（サーバーの FEAT で決める）"},
  };
  for (const auto& [encoding, caption] : encodings) {
    cm_remote_encoding->addItem(QString::fromUtf8(caption),
                                ChoiceData(settings::RemoteEncodingText(encoding)));
  }
  AddRow(QStringLiteral("リモートのファイル名"), cm_remote_encoding);

  cm_tls_mode = new QComboBox(this);
  cm_tls_mode->setObjectName(QStringLiteral("cm_tls_mode"));
  const std::pair<settings::TlsMode, const char*> modes[] = {
      {settings::TlsMode::Off, "off（暗号化しない）"},
      {settings::TlsMode::Explicit, "explicit（AUTH TLS）"},
      {settings::TlsMode::Implicit, "implicit（最初から TLS、ポート 990）"},
  };
  for (const auto& [mode, caption] : modes) {
    cm_tls_mode->addItem(QString::fromUtf8(caption), ChoiceData(settings::TlsModeText(mode)));
  }
  AddRow(QStringLiteral("FTPS"), cm_tls_mode);
  Ed_tls_ca = new QLineEdit(this);
  Ed_tls_ca->setObjectName(QStringLiteral("Ed_tls_ca"));
  AddRow(QStringLiteral("CA ファイル"), Ed_tls_ca);
  Ed_tls_fingerprint = new QLineEdit(this);
  Ed_tls_fingerprint->setObjectName(QStringLiteral("Ed_tls_fingerprint"));
  Ed_tls_fingerprint->setPlaceholderText(QStringLiteral("SHA-256（証明書を固定する）"));
  AddRow(QStringLiteral("フィンガープリント"), Ed_tls_fingerprint);

  Ed_ssh_key = new QLineEdit(this);
  Ed_ssh_key->setObjectName(QStringLiteral("Ed_ssh_key"));
  Ed_ssh_key->setPlaceholderText(QStringLiteral("空なら ssh の鍵とエージェント"));
  AddRow(QStringLiteral("SSH 秘密鍵"), Ed_ssh_key);
  Ed_ssh_known_hosts = new QLineEdit(this);
  Ed_ssh_known_hosts->setObjectName(QStringLiteral("Ed_ssh_known_hosts"));
  Ed_ssh_known_hosts->setPlaceholderText(QStringLiteral("空なら ~/.ssh/known_hosts"));
  AddRow(QStringLiteral("known_hosts"), Ed_ssh_known_hosts);
  Ed_ssh_host_key = new QLineEdit(this);
  Ed_ssh_host_key->setObjectName(QStringLiteral("Ed_ssh_host_key"));
  Ed_ssh_host_key->setPlaceholderText(QStringLiteral("SHA256:...（ホスト鍵を固定する）"));
  AddRow(QStringLiteral("ホスト鍵"), Ed_ssh_host_key);
  cb_ssh_accept_new = new QCheckBox(QStringLiteral("初めてのホストの鍵を信頼して記録する"), this);
  cb_ssh_accept_new->setObjectName(QStringLiteral("cb_ssh_accept_new"));
  AddRow(QString(), cb_ssh_accept_new);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btn_Ng = new QPushButton(QStringLiteral("Cancel"), this);
  btn_Ng->setObjectName(QStringLiteral("btn_Ng"));
  btn_Ok = new QPushButton(QStringLiteral("Ok"), this);
  btn_Ok->setObjectName(QStringLiteral("btn_Ok"));
  btn_Ok->setDefault(true);
  buttons->addWidget(btn_Ng);
  buttons->addWidget(btn_Ok);
  layout->addLayout(buttons);
  connect(btn_Ok, &QPushButton::clicked, this, Guarded([this] { btn_OkClick(); }));
  connect(btn_Ng, &QPushButton::clicked, this, [this] { reject(); });
}

void TConnectionDialog::AddRow(const QString& label, QWidget* field) {
  rows_->addRow(label, field);
}

void TConnectionDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Guard([this] { FormShow(); });
}

void TConnectionDialog::FormShow() {
  settings::ConnectionSettings stored = settings_.connection;
  settings::LoadConnection(stored, store_);
  shown_ = stored;
  SelectChoice(*cm_protocol, ChoiceData(settings::RemoteProtocolText(stored.protocol)));
  cb_passive->setChecked(stored.Passive);
  SelectChoice(*cm_remote_encoding,
               ChoiceData(settings::RemoteEncodingText(stored.remote_encoding)));
  SelectChoice(*cm_tls_mode, ChoiceData(settings::TlsModeText(stored.tls_mode)));
  Ed_tls_ca->setText(QString::fromStdString(stored.tls_ca_file));
  Ed_tls_fingerprint->setText(QString::fromStdString(stored.tls_fingerprint));
  Ed_ssh_key->setText(QString::fromStdString(stored.ssh.key_file));
  Ed_ssh_known_hosts->setText(QString::fromStdString(stored.ssh.known_hosts_file));
  Ed_ssh_host_key->setText(QString::fromStdString(stored.ssh.host_key_pin));
  cb_ssh_accept_new->setChecked(stored.ssh.accept_new);
  if (main_window_ != nullptr) move(main_window_->pos() + QPoint(50, 50));
}

settings::ConnectionSettings TConnectionDialog::FromControls() const {
  // The settings this dialog has no row for are stored again as they were loaded.
  settings::ConnectionSettings connection = shown_;
  connection.Passive = cb_passive->isChecked();
  const std::string text = cm_remote_encoding->currentData().toString().toStdString();
  connection.remote_encoding =
      settings::RemoteEncodingFromText(text).value_or(settings::RemoteEncoding::Cp932);
  connection.tls_mode =
      settings::TlsModeFromText(cm_tls_mode->currentData().toString().toStdString())
          .value_or(settings::TlsMode::Off);
  connection.tls_ca_file = Ed_tls_ca->text().trimmed().toStdString();
  connection.tls_fingerprint = Ed_tls_fingerprint->text().trimmed().toStdString();
  connection.protocol =
      settings::RemoteProtocolFromText(cm_protocol->currentData().toString().toStdString())
          .value_or(settings::RemoteProtocol::Ftp);
  connection.ssh.key_file = Ed_ssh_key->text().trimmed().toStdString();
  connection.ssh.known_hosts_file = Ed_ssh_known_hosts->text().trimmed().toStdString();
  connection.ssh.host_key_pin = Ed_ssh_host_key->text().trimmed().toStdString();
  connection.ssh.accept_new = cb_ssh_accept_new->isChecked();
  return connection;
}

void TConnectionDialog::btn_OkClick() {
  const settings::ConnectionSettings connection = FromControls();
  if (!connection.ssh.host_key_pin.empty() && !IsSshHostKeyFingerprint(connection.ssh.host_key_pin)) {
    // Stored, a pin of another form would fail every SFTP login later, far from here.
    platform::MessageBoxRequest box;
    box.text = FromQt(QStringLiteral("ホスト鍵は ssh が示す形（SHA256: と 43 文字）で入力してください。"));
    box.caption = "Tarnex";
    box.icon = platform::MessageIcon::Warning;
    dialogs_.ShowMessage(this, box);
    Ed_ssh_host_key->setFocus();
    return;
  }
  settings::StoreConnection(connection, store_);
  settings_.connection = connection;
  if (OnApplied) OnApplied();
  accept();
}

}  // namespace tarnex::ui
