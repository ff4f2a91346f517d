// The main window: menus, run lock, status bar, splitter, log menu, close query, start-up.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidget>
#include <filesystem>

#include "settings/options_store.h"
#include "tests/ui/ui_test_support.h"
#include "ui/about_box.h"
#include "ui/help_window.h"
#include "ui/log_memo.h"
#include "ui/options_dialog.h"
#include "ui/pane_area.h"
#include "ui/progress_window.h"
#include "ui/status_panels.h"
#include "ui/variables_panel.h"
#include "ui/window_hosts.h"

namespace tarnex::ui::testing {
namespace {

using platform::MessageResult;

std::string Cp932(const char* utf8) {
  return platform::Utf8ToCp932(utf8);
}

class MainWindowTest : public FormsTest {
 protected:
  // Replaces the editor text as a user would, which marks it changed.
  void Type(const QString& text) {
    Main().Batmemo->selectAll();
    Main().Batmemo->insertPlainText(text);
  }

  QAction* Item(const char* name) { return Main().findChild<QAction*>(QString::fromLatin1(name)); }
};

TEST_F(MainWindowTest, MenuItemsHaveTheirCaptionsShortcutsAndInitialStates) {
  MakeForms(/*start=*/false);
  struct Row {
    const char* name;
    const char* caption;
    QKeySequence shortcut;
    bool enabled;
  };
  const Row rows[] = {
      {"Newfile1", "新しいファイル &N", QKeySequence(Qt::CTRL | Qt::Key_N), true},
      {"Open1", "開く &O", QKeySequence(Qt::CTRL | Qt::Key_O), true},
      {"N6", "開き直す", QKeySequence(), true},
      {"Save1", "上書き保存 &S", QKeySequence(Qt::CTRL | Qt::Key_S), false},
      {"SaveAs1", "名前を変えて保存 &A", QKeySequence(Qt::CTRL | Qt::Key_A), false},
      {"Option1", "設定", QKeySequence(), true},
      {"Run1", "実  行", QKeySequence(Qt::Key_F9), false},
      {"Step1", "Step実行", QKeySequence(Qt::Key_F8), false},
      {"exit1", "終了 &Q", QKeySequence(Qt::CTRL | Qt::Key_Q), true},
      {"Cut1", "ｶｯﾄ", QKeySequence(), true},
      {"Copy1", "ｺﾋﾟｰ", QKeySequence(), true},
      {"Peast1", "ﾍﾟｰｽﾄ", QKeySequence(), true},
      {"Delete1", "削除", QKeySequence(), true},
      {"All1", "全て選択", QKeySequence(), true},
      {"LogfileSave1", "ﾌｧｲﾙに保存", QKeySequence(), true},
      {"LogClear1", "ｸﾘｱｰ", QKeySequence(), true},
      {"Contets1", "目次", QKeySequence(), true},
      {"Version1", "バージョン情報", QKeySequence(), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QAction* item = Item(row.name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8(row.caption));
    EXPECT_EQ(item->shortcut(), row.shortcut);
    EXPECT_EQ(item->isEnabled(), row.enabled);
  }
  EXPECT_EQ(Main().file1->title(), QStringLiteral("ﾌｧｲﾙ"));
  EXPECT_EQ(Main().Edit1->title(), QStringLiteral("編集"));
  EXPECT_FALSE(Main().Edit1->menuAction()->isEnabled());
  EXPECT_EQ(Main().Log1->title(), QStringLiteral("ﾛｸﾞ"));
  EXPECT_EQ(Main().Help1->title(), QStringLiteral("ﾍﾙﾌﾟ"));
  for (const char* separator : {"N1", "N2", "N3", "N4"}) {
    ASSERT_NE(Item(separator), nullptr) << separator;
    EXPECT_TRUE(Item(separator)->isSeparator());
  }
}

TEST_F(MainWindowTest, LayoutCaptionsAndStatusAtStart) {
  MakeForms(/*start=*/false);
  EXPECT_EQ(Main().windowTitle(), QStringLiteral("Tarnex"));
  EXPECT_EQ(Main().Panel4->text(), QStringLiteral(" FTPコマンドスクリプト"));
  EXPECT_EQ(Main().Panel5->text(), QStringLiteral(" 実行ログ"));
  EXPECT_TRUE(Main().Logmemo->isReadOnly());
  EXPECT_EQ(Main().Logmemo->focusPolicy(), Qt::ClickFocus);
  EXPECT_EQ(Main().Panes().Panel1Width(), 257);
  const int widths[] = {50, 90, 120, 50};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Main().Stbar->Panel(i)->width(), widths[i]) << i;
  EXPECT_EQ(Main().Stbar->Text(1), "Disconnect");
  EXPECT_FALSE(Main().Engine().FRunning);
  EXPECT_FALSE(Main().Engine().FConnected);
}

TEST_F(MainWindowTest, StartWithoutSwitchOpensNewfileAndEnablesTheDocumentMenus) {
  MakeForms();
  EXPECT_TRUE(Main().isVisible());
  EXPECT_EQ(Main().windowTitle(), QStringLiteral("Tarnex -newfile"));
  for (QAction* item :
       {Main().Save1, Main().SaveAs1, Main().Run1, Main().Step1, Main().Edit1->menuAction()}) {
    EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, RunLocksEveryMenuItemAndRestoresExactlyThoseEnabledBefore) {
  MakeForms();
  Type(QStringLiteral("pause look\nRem done"));
  ASSERT_EQ(Main().Stbar->Text(0), Cp932("変更"));
  Main().LogClear1->setEnabled(false);  // disabled before the run: stays so
  std::vector<bool> during;
  std::string panel_during;
  bool busy_cursor = false;
  dialogs.on_message = [&](const platform::MessageBoxRequest&) {
    for (QAction* item : Main().MenuItems()) during.push_back(item->isEnabled());
    panel_during = Main().Stbar->Text(0);
    busy_cursor = QApplication::overrideCursor() != nullptr &&
                  QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  };
  Main().Run1Click();
  // Only the debug menu stays at hand, without the items that need a held run.
  const std::vector<QAction*> items = Main().MenuItems();
  ASSERT_EQ(during.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const bool debug = items[i] == Main().Debug1->menuAction() ||
                       (Main().Debug1->actions().contains(items[i]) &&
                        items[i] != Main().Continue1 && items[i] != Main().StepNext1);
    EXPECT_EQ(during[i], debug) << items[i]->objectName().toStdString();
  }
  EXPECT_EQ(panel_during, Cp932("実行中"));
  EXPECT_TRUE(busy_cursor);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  for (QAction* item : Main().MenuItems()) {
    const bool no_run = item == Main().Pause1 || item == Main().StopRun1;  // nothing to act on
    EXPECT_EQ(item->isEnabled(), item != Main().LogClear1 && !no_run)
        << item->objectName().toStdString();
  }
  EXPECT_EQ(Main().Stbar->Text(0), Cp932("変更"));  // the mark from before the run
  EXPECT_FALSE(Main().Engine().FRunning);
  // The pause box: "TARNEX", information, OK, standing alone.
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "TARNEX");
  EXPECT_EQ(dialogs.boxes[0].icon, platform::MessageIcon::Information);
  EXPECT_EQ(dialogs.owners[0], nullptr);
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].rfind("<<newfile>> start ", 0), 0u);
  EXPECT_EQ(log[1], "pause look");
  EXPECT_EQ(log[2], "Rem done");
  EXPECT_EQ(log[3].rfind("<<newfile>> end   ", 0), 0u);
  // The progress window's copy has every line too, though it was never shown.
  EXPECT_EQ(forms->Progress().Log->Lines(), Main().Logmemo->Lines());
}

TEST_F(MainWindowTest, StepRunsTheCaretLineAndMovesTheCaretToTheNext) {
  MakeForms();
  Type(QStringLiteral("set stepvar=7\nRem %stepvar%\nRem last"));
  SetCaretLine(*Main().Batmemo, 0);
  Main().Step1Click();
  SetCaretLine(*Main().Batmemo, 1);
  Main().Step1Click();
  EXPECT_EQ(GetCaretLine(*Main().Batmemo), 2);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"set stepvar=7", "Rem 7"}));
  // Past the last line nothing runs and the caret goes to the end.
  SetCaretLine(*Main().Batmemo, 2);
  Main().Step1Click();
  EXPECT_EQ(Main().Batmemo->textCursor().position(), Main().Batmemo->toPlainText().size());
}

TEST_F(MainWindowTest, CloseQueryAsksInOrderAndActsOnTheAnswers) {
  struct Case {
    const char* name;
    bool connected;
    bool running;
    std::vector<MessageResult> answers;
    bool can_close;
    std::vector<std::string> questions;
  };
  const std::string disconnect = "FTPセッション接続中です  切断していいですか";
  const std::string stop = "ＦＴＰコマンドスクリプトを実行中です  強制終了していいですか";
  const Case cases[] = {
      {"idle", false, false, {}, true, {}},
      {"connected, No", true, false, {MessageResult::No}, false, {disconnect}},
      {"connected, Yes", true, false, {MessageResult::Yes}, true, {disconnect}},
      {"running, No", false, true, {MessageResult::No}, false, {stop}},
      {"running, Yes", false, true, {MessageResult::Yes}, true, {stop}},
      // Yes to the first question stops the run too: no second question.
      {"both, Yes", true, true, {MessageResult::Yes}, true, {disconnect}},
  };
  MakeForms();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs.boxes.clear();
    dialogs.answers.assign(c.answers.begin(), c.answers.end());
    Main().Engine().FConnected = c.connected;
    Main().Engine().FRunning = c.running;
    bool can_close = !c.can_close;
    Main().FormCloseQuery(can_close);
    EXPECT_EQ(can_close, c.can_close);
    EXPECT_EQ(dialogs.Texts(), c.questions);
    for (const auto& box : dialogs.boxes) {
      EXPECT_EQ(box.caption, "Tarnex");
      EXPECT_EQ(box.buttons, platform::MessageButtons::YesNo);
    }
    if (c.can_close) {
      EXPECT_FALSE(Main().Engine().FConnected);
      EXPECT_FALSE(Main().Engine().FRunning);
    } else {
      EXPECT_EQ(Main().Engine().FConnected, c.connected);
      EXPECT_EQ(Main().Engine().FRunning, c.running);
    }
  }
  Main().Engine().FRunning = false;
}

TEST_F(MainWindowTest, UnsavedChangesKeepTheWindowWhenTheAnswerIsCancel) {
  MakeForms();
  int closed = 0;
  Main().OnClosed = [&] { ++closed; };
  Type(QStringLiteral("Rem changed"));
  dialogs.answers = {MessageResult::Cancel};
  EXPECT_FALSE(Main().close());
  EXPECT_TRUE(Main().isVisible());
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"現在の Command Scriptを保存しますか？"});
  dialogs.answers = {MessageResult::No};  // the changes are given up
  EXPECT_TRUE(Main().close());
  EXPECT_FALSE(Main().isVisible());
  EXPECT_EQ(closed, 1);
}

TEST_F(MainWindowTest, ClosingWritesTheLogOnlyWhenSavingIsOnAndTheLogHasLines) {
  struct Case {
    const char* name;
    bool save;
    bool lines;
    bool written;
  };
  const Case cases[] = {{"on, lines", true, true, true},
                        {"on, empty", true, false, false},
                        {"off, lines", false, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeForms();
    const std::string path = dir / (std::string(c.name) + ".log");
    Main().Settings().ch_logsave = c.save;
    Main().Settings().Ed_logsave = path;
    if (c.lines) {
      Main().Logmemo->AppendLine("first");
      Main().Logmemo->AppendLine(Cp932("二行目"));
    }
    ASSERT_TRUE(Main().close());
    EXPECT_EQ(std::filesystem::exists(path), c.written);
    if (c.written) {
      EXPECT_EQ(ReadFile(path), "first\r\n" + Cp932("二行目") + "\r\n");
    }
  }
}

TEST_F(MainWindowTest, LogMenuSavesThenClearsAndClearLeavesTheLogFileAlone) {
  MakeForms();
  const std::string saved = dir / "saved.log";
  const std::string at_exit = dir / "exit.log";
  WriteFile(at_exit, "old");
  Main().Settings().Ed_logsave = at_exit;
  Main().Engine().AddLog("one");
  Main().Engine().AddLog("two");
  dialogs.picks = {std::nullopt};  // cancelled: nothing happens
  Main().LogfileSave1->trigger();
  EXPECT_EQ(Main().Logmemo->Lines().size(), 2u);
  dialogs.picks = {saved};
  Main().LogfileSave1->trigger();
  EXPECT_EQ(ReadFile(saved), "one\r\ntwo\r\n");
  EXPECT_TRUE(Main().Logmemo->Lines().empty());
  EXPECT_EQ(forms->Progress().Log->Lines().size(), 2u);  // the copy is not cleared
  ASSERT_FALSE(dialogs.saves.empty());
  EXPECT_EQ(platform::Cp932ToUtf8(dialogs.saves.back().filter),
            "Log file|*.log|全てのファイル|*.*");
  EXPECT_EQ(dialogs.saves.back().default_extension, "log");
  Main().Engine().AddLog("three");
  Main().LogClear1->trigger();
  EXPECT_TRUE(Main().Logmemo->Lines().empty());
  EXPECT_EQ(ReadFile(at_exit), "old");
}

TEST_F(MainWindowTest, AnErrorEscapingASlotBecomesOneLogLine) {
  MakeForms();
  const std::string broken = dir / "broken.fcx";
  WriteFile(broken, "Q0G\r\n");  // "0G" is no hexadecimal pair
  dialogs.picks = {broken};
  Main().Open1->trigger();
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("999 予期せぬエラー：", 0), 0u) << log[0];
  EXPECT_EQ(Main().windowTitle(), QStringLiteral("Tarnex -newfile"));  // document unchanged
}

TEST_F(MainWindowTest, SplitterFollowsTheLeftButtonAlone) {
  MakeForms();
  Main().resize(550, 319);
  Main().Panes().SetPanel1Width(257);  // as designed
  struct Case {
    const char* name;
    Qt::MouseButtons buttons;
    Qt::KeyboardModifiers modifiers;
    int x;
    int width;
  };
  const Case cases[] = {
      {"left, right by 20", Qt::LeftButton, Qt::NoModifier, 20, 277},
      {"shift held", Qt::LeftButton, Qt::ShiftModifier, -100, 277},
      {"ctrl held", Qt::LeftButton, Qt::ControlModifier, -100, 277},
      {"right button", Qt::RightButton, Qt::NoModifier, -100, 277},
      {"two buttons", Qt::LeftButton | Qt::RightButton, Qt::NoModifier, -100, 277},
      {"left, back by 77", Qt::LeftButton, Qt::NoModifier, -77, 200},
      {"left edge", Qt::LeftButton, Qt::NoModifier, -400, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Main().Panel2MouseMove(c.buttons, c.modifiers, c.x);
    EXPECT_EQ(Main().Panes().Panel1Width(), c.width);
    EXPECT_EQ(Main().Panes().Panel1()->width(), c.width);
    EXPECT_EQ(Main().Panes().Panel2()->x(), c.width);
  }
}

TEST_F(MainWindowTest, AFirstStartFitsTheScreenAndLaterStartsRestoreTheWindow) {
  MakeForms();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(Main().width(), screen.width() * 0.7, 2);
  EXPECT_NEAR(Main().height(), screen.height() * 0.7, 2);
  EXPECT_NEAR(Main().Panes().Panel1Width(), Main().width() * 0.4, 2);
  Main().resize(640, 400);
  Main().Panes().SetPanel1Width(5000);  // dragged far right: the log keeps its minimum
  EXPECT_EQ(Main().Panes().Panel3()->width(), TPaneArea::kMinLogWidth);
  Main().Panes().SetPanel1Width(300);
  Main().Variables1->trigger();
  Main().close();
  forms.reset();
  MakeForms();
  EXPECT_EQ(Main().size(), QSize(640, 400));
  EXPECT_EQ(Main().Panes().Panel1Width(), 300);
  EXPECT_FALSE(Main().VariablesPanel->isHidden());
}

TEST_F(MainWindowTest, KeysReachTheMenusAndGoRoundThePanes) {
  MakeForms();
  Main().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
  QWidget* editor = Main().Batmemo;
  QWidget* log = Main().Logmemo;
  QWidget* variables = Main().VariablesPanel->Tree();
  struct Case {
    bool panel;  // the variables panel shown
    QWidget* from;
    QKeyCombination key;
    QWidget* to;
  };
  const Case cases[] = {
      {false, editor, Qt::CTRL | Qt::Key_Tab, log},
      {false, log, Qt::CTRL | Qt::Key_Tab, editor},
      {false, editor, Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, log},
      {true, log, Qt::CTRL | Qt::Key_Tab, variables},
      {true, variables, Qt::CTRL | Qt::Key_Tab, editor},
  };
  for (const Case& c : cases) {
    Main().VariablesPanel->setVisible(c.panel);
    c.from->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return c.from->hasFocus(); }));
    QTest::keyClick(c.from, c.key.key(), c.key.keyboardModifiers());
    EXPECT_TRUE(c.to->hasFocus()) << c.to->objectName().toStdString();
  }
  const std::pair<QKeyCombination, QMenu*> menus[] = {{Qt::Key_F10, Main().file1},
                                                      {Qt::ALT | Qt::Key_L, Main().Log1}};
  for (const auto& [key, menu] : menus) {
    editor->setFocus();
    QTest::keyClick(editor, key.key(), key.keyboardModifiers());
    EXPECT_EQ(Main().menuBar()->activeAction(), menu->menuAction());
    menu->hide();
  }
  EXPECT_EQ(Main().Batmemo->toPlainText(), QString());  // no key was typed into the script
}

TEST_F(MainWindowTest, EditMenuWorksOnTheEditor) {
  MakeForms();
  Type(QStringLiteral("Rem abc"));
  Main().All1->trigger();
  Main().Copy1->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Rem abc"));
  Main().Cut1->trigger();
  EXPECT_TRUE(Main().Batmemo->toPlainText().isEmpty());
  Main().Peast1->trigger();
  Main().Peast1->trigger();
  EXPECT_EQ(Main().Batmemo->toPlainText(), QStringLiteral("Rem abcRem abc"));
  QTextCursor cursor = Main().Batmemo->textCursor();
  cursor.setPosition(0);
  cursor.setPosition(4, QTextCursor::KeepAnchor);
  Main().Batmemo->setTextCursor(cursor);
  Main().Delete1->trigger();
  EXPECT_EQ(Main().Batmemo->toPlainText(), QStringLiteral("abcRem abc"));
}

TEST_F(MainWindowTest, CtrlAInTheEditorIsSaveAsNotSelectAll) {
  MakeForms();
  Type(QStringLiteral("Rem keys"));
  Main().activateWindow();
  Main().Batmemo->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
  QTest::keyClick(Main().Batmemo, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(dialogs.saves.size(), 1u);
  EXPECT_FALSE(Main().Batmemo->textCursor().hasSelection());
  // F9 runs the script from the keyboard.
  QTest::keyClick(Main().Batmemo, Qt::Key_F9);
  EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(MainWindowTest, VersionHelpAndOptionsOpenTheirWindows) {
  MakeForms();
  Main().Version1->trigger();
  ASSERT_EQ(dialogs.modals.size(), 1u);
  EXPECT_EQ(dialogs.modals[0], &forms->About());
  EXPECT_EQ(forms->About().Label5->text(), QStringLiteral("Version 2.51b "));
  Main().Option1->trigger();
  ASSERT_EQ(dialogs.modals.size(), 2u);
  EXPECT_EQ(dialogs.modals[1], &forms->Options());
  Main().Contets1->trigger();
  ASSERT_NE(Main().HelpWindow(), nullptr);
  EXPECT_TRUE(Main().HelpWindow()->isVisible());
  const QString help = Main().HelpWindow()->Browser()->toPlainText();
  for (const char* word : {"WaitTimer", "Login", "Dir", "ldel", "/auto", "実行時に隠す"}) {
    EXPECT_TRUE(help.contains(QString::fromUtf8(word))) << word;
  }
}

TEST_F(MainWindowTest, AutomaticRunSwitchIsRecognisedInAnyCaseAndNeedsThePathAttached) {
  struct Case {
    const char* name;
    QStringList arguments;  // %1 stands for the script's folder
    const char* loaded;     // the document name, "" when nothing was loaded
  };
  const Case cases[] = {
      {"lower case", {QStringLiteral("/auto%1/a.fcs")}, "a.fcs"},
      {"upper case", {QStringLiteral("/AUTO%1/a.fcs")}, "a.fcs"},
      {"mixed case", {QStringLiteral("/Auto%1/a.fcs")}, "a.fcs"},
      {"switch alone, path apart", {QStringLiteral("/auto"), QStringLiteral("%1/a.fcs")}, ""},
      {"missing file", {QStringLiteral("/auto%1/none.fcs")}, ""},
  };
  WriteFile(dir / "a.fcs", "Rem unattended\r\n");
  const QString folder = QString::fromStdString(dir.path().string());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList arguments;
    for (QString argument : c.arguments)
      arguments << argument.replace(QStringLiteral("%1"), folder);
    bool closed = false;
    forms = std::make_unique<TarnexForms>(store, dialogs);
    Main().OnClosed = [&] { closed = true; };
    arguments.prepend(QStringLiteral("tarnex"));
    forms->Start(arguments);
    EXPECT_FALSE(closed);  // the run starts only once start-up is over
    ASSERT_TRUE(WaitUntil([&] { return closed; }, 10000));
    const std::string name = Main().Document().ScriptName();
    const std::vector<std::string> log = LogLines();
    if (*c.loaded == '\0') {
      EXPECT_EQ(name, "");
      ASSERT_EQ(log.size(), 2u);  // an empty script: the start and end lines only
    } else {
      EXPECT_EQ(std::filesystem::path(name).filename(), c.loaded);
      ASSERT_EQ(log.size(), 3u);
      EXPECT_EQ(log[1], "Rem unattended");
    }
    EXPECT_FALSE(Main().isVisible());
  }
}

TEST_F(MainWindowTest, HiddenAutomaticRunShowsNoMainWindowButTheProgressWindow) {
  settings::LiveSettings stored;
  stored.ch_runmode = true;
  stored.cb_progress = true;
  settings::Store(stored, store);
  WriteFile(dir / "p.fcs", "pause\r\n");
  bool main_visible = true;
  bool progress_visible = false;
  bool main_enabled = true;
  dialogs.on_message = [&](const platform::MessageBoxRequest&) {
    main_visible = Main().isVisible();
    main_enabled = Main().isEnabled();
    progress_visible = forms->Progress().isVisible();
  };
  bool closed = false;
  forms = std::make_unique<TarnexForms>(store, dialogs);
  Main().OnClosed = [&] { closed = true; };
  EXPECT_FALSE(forms->Start(
      {QStringLiteral("tarnex"), QStringLiteral("/auto") + QString::fromStdString(dir / "p.fcs")}));
  ASSERT_TRUE(WaitUntil([&] { return closed; }, 10000));
  EXPECT_FALSE(main_visible);
  EXPECT_FALSE(main_enabled);
  EXPECT_TRUE(progress_visible);
  EXPECT_FALSE(forms->Progress().isVisible());
  EXPECT_TRUE(Main().isEnabled());
  EXPECT_FALSE(Main().Batmemo->isEnabled());
}

TEST_F(MainWindowTest, AUtf8ScriptOpensRunsAndIsSavedAsUtf8) {
  struct Case {
    const char* name;
    std::string mark;
  };
  const std::string script = "Rem ☃ snow\r\nset u8var=日本\r\nRem %u8var%\r\n";
  for (const Case& c : {Case{"plain", ""}, Case{"with a byte order mark", "\xEF\xBB\xBF"}}) {
    SCOPED_TRACE(c.name);
    MakeForms();
    const std::string path = dir / "utf8.fcs";
    WriteFile(path, c.mark + script);
    dialogs.picks = {path};
    Main().Open1->trigger();
    EXPECT_TRUE(Main().windowTitle().endsWith(QStringLiteral(" (UTF-8)")));
    EXPECT_TRUE(Main().Batmemo->toPlainText().startsWith(QStringLiteral("Rem ☃ snow\n")));
    Main().Run1Click();
    const QString shown = Main().Logmemo->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("\nRem ☃ snow\n"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("\nRem 日本\n"))) << shown.toStdString();
    EXPECT_EQ(LogLines()[3], "Rem 日本");  // the log file's CP932 has it
    {
      platform::Registry registry(store);
      registry.OpenKey("\\SOFTWARE\\Tarnex", false);
      EXPECT_EQ(registry.ReadString("u8var"), Cp932("日本"));  // the store stays CP932
    }
    Main().Batmemo->appendPlainText(QStringLiteral("Rem ü"));
    Main().Save1->trigger();
    EXPECT_EQ(ReadFile(path), c.mark + script + "\r\nRem ü");
  }
  // A CP932 script is not marked.
  WriteFile(dir / "sjis.fcs", Cp932("Rem 日本\r\n"));
  dialogs.picks = {dir / "sjis.fcs"};
  Main().Open1->trigger();
  EXPECT_FALSE(Main().windowTitle().contains(QStringLiteral("UTF-8")));
}

TEST_F(MainWindowTest, ASettingsErrorAtStartUpLeavesTheWindowOpenWithoutADocument) {
  {
    platform::Registry registry(store);
    registry.OpenKey("\\SOFTWARE\\Tarnex\\Options", true);
    registry.WriteString("Timeout", "ten");  // a string where a number belongs
  }
  MakeForms(true, {QStringLiteral("/auto") + QString::fromStdString(dir / "x.fcs")});
  EXPECT_TRUE(Main().isVisible());
  QCoreApplication::processEvents();
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "999 予期せぬエラー：'Timeout' のデータ型が不正です");
  EXPECT_FALSE(Main().Run1->isEnabled());
  EXPECT_EQ(Main().windowTitle(), QStringLiteral("Tarnex"));
}

}  // namespace
}  // namespace tarnex::ui::testing
