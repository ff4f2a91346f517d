// The options dialog: load, store, Cancel, the click handlers, the spin fields.
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "script/engine.h"
#include "settings/options_store.h"
#include "tests/ui/ui_test_support.h"
#include "ui/connection_dialog.h"
#include "ui/frame_enable.h"
#include "ui/log_memo.h"
#include "ui/options_dialog.h"
#include "ui/spin_field.h"

namespace tarnex::ui::testing {
namespace {

using platform::MessageResult;

class OptionsDialogTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    MakeForms(/*start=*/false);
  }
  TTarnexOption& Options() { return forms->Options(); }
  settings::LiveSettings& Live() { return Main().Settings(); }

  void StoreRaw(const char* name, int value) {
    platform::Registry registry(store);
    registry.OpenKey("\\SOFTWARE\\Tarnex\\Options", true);
    registry.WriteInteger(name, value);
  }
  settings::LiveSettings Stored() {
    settings::LiveSettings stored;
    settings::Load(stored, store);
    return stored;
  }
  static void LoseFocus(SpinField& field) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&field, &out);
  }
};

TEST_F(OptionsDialogTest, ControlsSitWhereTheFormPutsThem) {
  EXPECT_EQ(Options().windowTitle(), QStringLiteral("Tarnex -Options"));
  EXPECT_EQ(Options().size(), QSize(287, 250));
  struct Row {
    QWidget* control;
    QRect geometry;
  };
  const Row rows[] = {
      {Options().Ed_timeout, QRect(74, 4, 49, 21)},  {Options().Ed_logsave, QRect(16, 64, 209, 20)},
      {Options().btn_Brows, QRect(232, 64, 41, 21)}, {Options().cb_wait, QRect(16, 96, 161, 17)},
      {Options().Bvl_wait, QRect(8, 104, 265, 57)},  {Options().sp_Wsize, QRect(32, 128, 49, 21)},
      {Options().sp_Wsec, QRect(144, 128, 49, 21)},  {Options().btn_Ng, QRect(168, 216, 49, 25)},
      {Options().btn_Ok, QRect(224, 216, 49, 25)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.control->geometry(), row.geometry) << row.control->objectName().toStdString();
  }
  EXPECT_EQ(Options().Label3->text(), QStringLiteral("TimeOut               秒"));
  EXPECT_EQ(Options().Label2->text(), QStringLiteral("秒のWait"));
  EXPECT_EQ(Options().cb_debugmode->text(), QStringLiteral("DebugMode"));
  EXPECT_FALSE(Options().sp_Wsize->isVisibleTo(&Options()));
  EXPECT_FALSE(Options().Label1->isVisibleTo(&Options()));
}

TEST_F(OptionsDialogTest, LoadWithoutStoredValuesShowsTheDefaults) {
  Options().FormShow();
  for (QCheckBox* box : {Options().ch_runmode, Options().ch_logsave, Options().cb_debugmode,
                         Options().cb_wait, Options().cb_progress, Options().cb_showbutton}) {
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
  }
  EXPECT_TRUE(Options().Ed_logsave->text().isEmpty());
  EXPECT_FALSE(Options().Ed_logsave->isEnabled());
  EXPECT_FALSE(Options().btn_Brows->isEnabled());
  EXPECT_EQ(Options().sp_Wsec->Value(), 0);
  EXPECT_EQ(Options().sp_Wsize->Value(), 4);
  EXPECT_EQ(Options().Ed_timeout->Value(), 10);
  EXPECT_FALSE(Options().sp_Wsec->isEnabled());
}

TEST_F(OptionsDialogTest, LoadClampsStoredNumbersAndSwitchesTheirDependants) {
  struct Case {
    const char* name;
    int stored;
    SpinField* TTarnexOption::*field;
    int shown;
  };
  const Case cases[] = {{"Timeout", 300, &TTarnexOption::Ed_timeout, 200},
                        {"Timeout", 1, &TTarnexOption::Ed_timeout, 5},
                        {"WaitSec", 99, &TTarnexOption::sp_Wsec, 60},
                        {"WaitSize", 5000, &TTarnexOption::sp_Wsize, 4096},
                        {"StepDelay", 20000, &TTarnexOption::sp_StepDelay, 10000},
                        {"StepDelay", 0, &TTarnexOption::sp_StepDelay, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + std::to_string(c.stored));
    StoreRaw(c.name, c.stored);
    Options().FormShow();
    EXPECT_EQ((Options().*c.field)->Value(), c.shown);
  }
  EXPECT_EQ(Live().Ed_timeout, 5);
  EXPECT_EQ(Live().sp_Wsec, 60);
  EXPECT_EQ(Live().StepDelay, 0);
  // A stored pause after uploads (written "Sendwait", read "SendWait") enables the wait fields;
  // a stored debug mode switches the client's trace on at once.
  StoreRaw("SendWait", 1);
  StoreRaw("cb_debugmode", 1);
  Options().FormShow();
  EXPECT_TRUE(Options().cb_wait->isChecked());
  EXPECT_TRUE(Options().sp_Wsec->isEnabled());
  EXPECT_TRUE(Options().Label2->isEnabled());
  EXPECT_TRUE(Live().cb_wait);
  EXPECT_TRUE(Main().Engine().FTP.debugmode());
}

TEST_F(OptionsDialogTest, OkStoresAndCancelKeepsTheChangesInForceWithoutStoring) {
  Options().FormShow();
  Options().ch_runmode->setChecked(true);
  Options().cb_progress->setChecked(true);
  Options().Ed_timeout->Editor()->setText(QStringLiteral("300"));  // typed, focus kept
  EXPECT_EQ(Live().Ed_timeout, 300);
  Options().sp_StepDelay->Editor()->setText(QStringLiteral("20"));
  EXPECT_EQ(Live().StepDelay, 20);  // the next run's pause
  Options().btn_Ok->click();
  settings::LiveSettings stored;
  {
    platform::Registry registry(store);
    registry.OpenKey("\\SOFTWARE\\Tarnex\\Options", true);
    EXPECT_EQ(registry.ReadInteger("Timeout"), 300);  // stored as typed
    EXPECT_EQ(registry.ReadInteger("Runmode"), 1);
    EXPECT_EQ(registry.ReadInteger("StepDelay"), 20);
  }
  EXPECT_EQ(Stored().Ed_timeout, 200);  // into range at the next load

  Options().FormShow();
  Options().cb_showbutton->setChecked(true);
  Options().btn_Ng->click();
  EXPECT_TRUE(Live().cb_showbutton);     // in force now
  EXPECT_FALSE(Stored().cb_showbutton);  // not stored
  Options().FormShow();                  // the next opening shows the store again
  EXPECT_FALSE(Options().cb_showbutton->isChecked());
  EXPECT_FALSE(Live().cb_showbutton);
}

TEST_F(OptionsDialogTest, DebugModeFollowsTheBoxAtOnceWhicheverButtonCloses) {
  Options().FormShow();
  Options().cb_debugmode->setChecked(true);
  EXPECT_TRUE(Main().Engine().FTP.debugmode());
  Options().btn_Ng->click();
  EXPECT_TRUE(Main().Engine().FTP.debugmode());
  Options().FormShow();  // the store still says off
  EXPECT_FALSE(Main().Engine().FTP.debugmode());
}

TEST_F(OptionsDialogTest, LogSavingFillsAnEmptyNameAndKeepsATypedOne) {
  Options().FormShow();
  Options().ch_logsave->setChecked(true);
  EXPECT_EQ(Options().Ed_logsave->text(), QStringLiteral("Tarnex.log"));
  EXPECT_EQ(Live().Ed_logsave, "Tarnex.log");
  EXPECT_TRUE(Options().Ed_logsave->isEnabled());
  EXPECT_TRUE(Options().btn_Brows->isEnabled());
  Options().Ed_logsave->setText(QStringLiteral("mine.log"));
  Q_EMIT Options().Ed_logsave->textEdited(QStringLiteral("mine.log"));
  Options().ch_logsave->setChecked(false);
  EXPECT_FALSE(Options().Ed_logsave->isEnabled());
  Options().ch_logsave->setChecked(true);
  EXPECT_EQ(Options().Ed_logsave->text(), QStringLiteral("mine.log"));
  EXPECT_EQ(Live().Ed_logsave, "mine.log");
}

TEST_F(OptionsDialogTest, BrowseOpensInTheFoldersOfTheNameAndTakesThePick) {
  Options().FormShow();
  Options().ch_logsave->setChecked(true);
  const std::string picked = dir / "picked.log";
  dialogs.picks = {picked};
  Options().btn_Brows->click();
  ASSERT_EQ(dialogs.saves.size(), 1u);
  EXPECT_EQ(dialogs.saves[0].filter, "Tarnex log |*.log|all files|*.*");
  EXPECT_EQ(dialogs.saves[0].default_extension, "log");
  EXPECT_EQ(dialogs.saves[0].file_name, "Tarnex.log");
  EXPECT_EQ(Live().Ed_logsave, picked);
  EXPECT_EQ(Options().Ed_logsave->text().toStdString(), picked);
}

TEST_F(OptionsDialogTest, SpinFieldsClampOnLeavingAndSelectTheValueAfterAStep) {
  Options().FormShow();
  Options().cb_wait->setChecked(true);
  SpinField& wait = *Options().sp_Wsec;
  wait.Editor()->setText(QStringLiteral("75"));
  EXPECT_EQ(Live().sp_Wsec, 75);
  LoseFocus(wait);
  EXPECT_EQ(wait.Editor()->text(), QStringLiteral("60"));
  EXPECT_EQ(Live().sp_Wsec, 60);
  wait.stepBy(-1);
  EXPECT_EQ(wait.Value(), 59);
  EXPECT_EQ(wait.Editor()->selectedText(), QStringLiteral("59"));
  wait.stepBy(5);
  EXPECT_EQ(wait.Value(), 60);  // never beyond the range
  // Text that is no number reads as the minimum.
  Options().Ed_timeout->Editor()->setText(QString());
  EXPECT_EQ(Live().Ed_timeout, 5);
}

TEST_F(OptionsDialogTest, WaitFrameEnablesOnlyWhatLiesWhollyInsideIt) {
  Options().FormShow();
  Options().cb_wait->setChecked(true);
  for (QWidget* inside : std::initializer_list<QWidget*>{Options().sp_Wsec, Options().Label2,
                                                         Options().sp_Wsize, Options().Label1}) {
    EXPECT_TRUE(inside->isEnabled()) << inside->objectName().toStdString();
  }
  Options().cb_wait->setChecked(false);
  EXPECT_FALSE(Options().sp_Wsec->isEnabled());
  EXPECT_FALSE(Options().Label2->isEnabled());
  EXPECT_TRUE(Options().cb_wait->isEnabled());      // straddles the frame's edge
  EXPECT_TRUE(Options().cb_progress->isEnabled());  // below it
  // Partly inside also takes the box that straddles the edge.
  EnableInFrame(*Options().Bvl_wait, FrameMode::PartlyInside, false);
  EXPECT_FALSE(Options().cb_wait->isEnabled());
  EXPECT_TRUE(Options().cb_progress->isEnabled());
}

TEST_F(OptionsDialogTest, LoadPlacesTheDialogFromTheMainWindowEveryTime) {
  Main().move(200, 150);
  Options().FormShow();
  EXPECT_EQ(Options().pos(), Main().pos() + QPoint(50, 50));
  Main().move(300, 120);
  Options().FormShow();
  EXPECT_EQ(Options().pos(), Main().pos() + QPoint(50, 50));
}

TEST_F(OptionsDialogTest, OkAsksBeforeStoringASendWaitAsLongAsTheTimeOut) {
  struct Case {
    const char* name;
    bool wait;
    int seconds;
    std::vector<MessageResult> answers;
    bool asked;
    bool stored;
  };
  const Case cases[] = {
      {"shorter than the time-out", true, 9, {}, false, true},
      {"as long, No", true, 10, {MessageResult::No}, true, false},
      {"longer, Yes", true, 30, {MessageResult::Yes}, true, true},
      {"no wait at all", false, 60, {}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options().show();  // loads the store
    Options().cb_wait->setChecked(c.wait);
    Options().sp_Wsec->SetValue(c.seconds);
    dialogs.boxes.clear();
    dialogs.answers.assign(c.answers.begin(), c.answers.end());
    Options().btn_Ok->click();
    EXPECT_EQ(dialogs.boxes.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(Stored().sp_Wsec, c.stored ? c.seconds : 0);
    EXPECT_EQ(Options().isVisible(), !c.stored);  // a No leaves the dialog open
    Options().hide();
    settings::Store(settings::LiveSettings{}, store);
  }
}

TEST_F(OptionsDialogTest, ConnectionSettingsAreStoredAndUsedOnlyAfterOk) {
  auto set_controls = [](QDialog& dialog, bool passive, int encoding, bool ok) {
    auto& connection = static_cast<TConnectionDialog&>(dialog);
    connection.cb_passive->setChecked(passive);
    connection.cm_remote_encoding->setCurrentIndex(encoding);
    (ok ? connection.btn_Ok : connection.btn_Ng)->click();
  };
  TLowFTP& ftp = Main().Engine().FTP;
  settings::ConnectionSettings tls;  // shown in the dialog, and kept when left alone
  tls.tls_fingerprint = "ab:cd";
  settings::StoreConnection(tls, store);
  dialogs.on_modal = [&](QDialog& d) { set_controls(d, true, 1, /*ok=*/false); };
  Main().ConnectOption1->trigger();
  EXPECT_FALSE(ftp.Passive());
  dialogs.on_modal = [&](QDialog& d) { set_controls(d, true, 1, /*ok=*/true); };
  Main().ConnectOption1->trigger();
  EXPECT_TRUE(ftp.Passive());
  EXPECT_EQ(ftp.GetRemoteEncoding(), RemoteEncoding::Utf8);
  settings::ConnectionSettings stored;
  settings::LoadConnection(stored, store);
  EXPECT_TRUE(stored.Passive);
  EXPECT_EQ(stored.remote_encoding, RemoteEncoding::Utf8);
  EXPECT_EQ(stored.tls_fingerprint, "ab:cd");  // kept, not reset
  // The TLS rows: the mode and the trust go to the client with the rest.
  dialogs.on_modal = [&](QDialog& d) {
    auto& connection = static_cast<TConnectionDialog&>(d);
    EXPECT_EQ(connection.Ed_tls_fingerprint->text(), QStringLiteral("ab:cd"));
    connection.cm_tls_mode->setCurrentIndex(1);
    connection.Ed_tls_ca->setText(QStringLiteral("/etc/own-ca.pem"));
    connection.btn_Ok->click();
  };
  Main().ConnectOption1->trigger();
  EXPECT_EQ(ftp.GetTlsMode(), TlsMode::Explicit);
  settings::LoadConnection(stored, store);
  EXPECT_EQ(stored.tls_mode, TlsMode::Explicit);
  EXPECT_EQ(stored.tls_ca_file, "/etc/own-ca.pem");
  // The SFTP rows: a host key of another form than ssh's is refused and nothing is stored.
  const auto set_sftp = [](QDialog& d, const char* pin) {
    auto& connection = static_cast<TConnectionDialog&>(d);
    connection.cm_protocol->setCurrentIndex(1);
    connection.Ed_ssh_key->setText(QStringLiteral("/home/u/.ssh/id_job"));
    connection.Ed_ssh_host_key->setText(QString::fromLatin1(pin));
    connection.btn_Ok->click();
  };
  dialogs.boxes.clear();
  dialogs.on_modal = [&](QDialog& d) { set_sftp(d, "ab:cd"); };
  Main().ConnectOption1->trigger();
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  settings::LoadConnection(stored, store);
  EXPECT_EQ(stored.protocol, RemoteProtocol::Ftp);
  dialogs.on_modal = [&](QDialog& d) {
    set_sftp(d, "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
  };
  Main().ConnectOption1->trigger();
  settings::LoadConnection(stored, store);
  EXPECT_EQ(stored.protocol, RemoteProtocol::Sftp);
  EXPECT_EQ(stored.ssh.key_file, "/home/u/.ssh/id_job");
  EXPECT_EQ(stored.ssh.host_key_pin, "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
  // The next opening shows what is stored; the next start of the program uses it.
  dialogs.on_modal = [&](QDialog& d) {
    auto& connection = static_cast<TConnectionDialog&>(d);
    EXPECT_TRUE(connection.cb_passive->isChecked());
    EXPECT_EQ(connection.cm_remote_encoding->currentIndex(), 1);
  };
  Main().ConnectOption1->trigger();
  forms.reset();
  MakeForms();
  EXPECT_TRUE(Main().Engine().FTP.Passive());
  EXPECT_EQ(Main().Engine().FTP.GetRemoteEncoding(), RemoteEncoding::Utf8);
}

TEST_F(OptionsDialogTest, AStoreErrorIsLoggedAndTheDialogStaysOpen) {
  // A store that cannot be opened: every value counts as absent and every write is refused.
  forms.reset();
  auto refused = std::make_shared<platform::RegistryStore>(dir.path().string());
  ScriptedDialogs own_dialogs;
  TarnexForms broken(refused, own_dialogs);
  TTarnexOption& options = broken.Options();
  options.FormShow();
  EXPECT_EQ(options.Ed_timeout->Value(), 10);
  options.show();
  options.btn_Ok->click();
  EXPECT_TRUE(options.isVisible());
  const auto& log = broken.Main().Logmemo->Lines();
  // The recall list failed to load first; then Ok.
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(platform::Cp932ToUtf8(log[0]), "999 予期せぬエラー：'History9' の設定に失敗しました");
  EXPECT_EQ(platform::Cp932ToUtf8(log[1]), "999 予期せぬエラー：'Runmode' の設定に失敗しました");
  options.hide();
}

}  // namespace
}  // namespace tarnex::ui::testing
