// The main window as a script debugger, driven through its widgets: breakpoints set in the
// gutter, a whole run held before them, continue, step, run to the caret and stop while held,
// the highlight of the running line, the variables panel, the way from a log line back to the
// script, and breakpoints kept per file.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>

#include "platform/message_loop.h"
#include "tests/support/real_ftp_server.h"
#include "tests/ui/ui_test_support.h"
#include "ui/breakpoint_store.h"
#include "ui/line_gutter.h"
#include "ui/run_debugger.h"
#include "ui/script_highlighter.h"
#include "ui/status_panels.h"
#include "ui/variables_panel.h"
#include "ui/window_hosts.h"

namespace tarnex::ui::testing {
namespace {

using platform::MessageResult;

class DebuggerTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    MakeForms();
    Main().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    // A held run that a failing test never resumes still ends.
    QTimer::singleShot(20000, &Main(), [this] { Main().Debugger().Stop(); });
  }

  void Type(const QString& text) {
    Main().Batmemo->selectAll();
    Main().Batmemo->insertPlainText(text);
  }

  // A click in the gutter beside `line`, as the user sets a breakpoint.
  void ClickGutter(int line) {
    for (const TScriptEditor::VisibleLine& shown : Main().Batmemo->VisibleLines()) {
      if (shown.number != line) continue;
      QTest::mouseClick(Main().Batmemo->Gutter(), Qt::LeftButton, {},
                        QPoint(4, shown.top + shown.height / 2));
      return;
    }
    ADD_FAILURE() << "line " << line << " is not on view";
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(Main().Batmemo, key, modifiers);
  }

  // Runs `start`; at each pause the next action runs (from inside the held run), or the run is
  // stopped when none is left. Returns the lines the run was held at.
  std::vector<int> Drive(const std::function<void()>& start,
                         std::vector<std::function<void(int)>> at_pause) {
    std::vector<int> held;
    size_t next = 0;
    Main().Debugger().OnPaused = [&](int line) {
      held.push_back(line);
      if (next < at_pause.size()) {
        at_pause[next++](line);
      } else {
        Main().Debugger().Stop();
      }
    };
    start();
    Main().Debugger().OnPaused = nullptr;
    return held;
  }

  // The log without its start and end lines, which carry the time.
  std::vector<std::string> RunLines() {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines()) {
      if (line.find(">> start ") == std::string::npos &&
          line.find(">> end   ") == std::string::npos) {
        lines.push_back(line);
      }
    }
    return lines;
  }
  bool EndsWithEndLine() {
    const std::vector<std::string> log = LogLines();
    return !log.empty() && log.back().rfind("<<newfile>> end   ", 0) == 0;
  }
};

TEST_F(DebuggerTest, ABreakpointHoldsTheRunWithTheWindowAtHandAndF9GoesOn) {
  Type(QStringLiteral("Rem a\nRem b\nRem c"));
  ClickGutter(1);
  EXPECT_EQ(Main().Batmemo->Breakpoints(), std::vector<int>{1});
  std::vector<std::string> log_at_pause;
  bool run_enabled = false, open_enabled = true, busy_cursor = true;
  std::string panel;
  int highlighted = -1;
  const std::vector<int> held =
      Drive([&] { Key(Qt::Key_F9); }, {[&](int) {
              log_at_pause = RunLines();
              panel = platform::Cp932ToUtf8(Main().Stbar->Text(0));
              run_enabled = Main().Run1->isEnabled();
              open_enabled = Main().Open1->isEnabled();
              busy_cursor = QApplication::overrideCursor()->shape() == Qt::WaitCursor;
              highlighted = Main().Batmemo->RunLinePaused() ? Main().Batmemo->RunLine() : -1;
              Key(Qt::Key_F9);
            }});
  EXPECT_EQ(held, std::vector<int>{1});
  EXPECT_EQ(log_at_pause, std::vector<std::string>{"Rem a"});  // held before its line
  EXPECT_EQ(panel, "中断中");
  EXPECT_TRUE(run_enabled);
  EXPECT_FALSE(open_enabled);
  EXPECT_FALSE(busy_cursor);
  EXPECT_EQ(highlighted, 1);
  EXPECT_EQ(RunLines(), (std::vector<std::string>{"Rem a", "Rem b", "Rem c"}));
  EXPECT_TRUE(EndsWithEndLine());
  EXPECT_EQ(Main().Stbar->Text(0), platform::Utf8ToCp932("変更"));
  EXPECT_EQ(Main().Batmemo->RunLine(), -1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(Main().Open1->isEnabled());
}

TEST_F(DebuggerTest, F8WhileHeldRunsTheNextLineOnlyAndFollowsAJump) {
  Type(QStringLiteral("Rem a\ngoto skip\nRem skipped\n:skip\nRem after\nRem last"));
  SetCaretLine(*Main().Batmemo, 1);
  Key(Qt::Key_F5);  // the breakpoint at the caret
  std::vector<std::vector<std::string>> logs;
  const std::vector<int> held =
      Drive([&] { Main().Run1->trigger(); }, {[&](int) { Key(Qt::Key_F8); },
                                              [&](int) {
                                                logs.push_back(RunLines());
                                                Key(Qt::Key_F8);
                                              },
                                              [&](int) { Main().Continue1->trigger(); }});
  EXPECT_EQ(held, (std::vector<int>{1, 4, 5}));
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0], (std::vector<std::string>{"Rem a", "goto skip"}));
  EXPECT_EQ(RunLines(), (std::vector<std::string>{"Rem a", "goto skip", "Rem after", "Rem last"}));
}

TEST_F(DebuggerTest, RunToTheCaretThenStopEndsTheRunAsStopDoes) {
  Type(QStringLiteral("Rem 0\nRem 1\nRem 2\nRem 3\nRem 4"));
  Main().LogClear1->setEnabled(false);  // disabled before the run: stays so
  SetCaretLine(*Main().Batmemo, 2);
  const std::vector<int> held =
      Drive([&] { Key(Qt::Key_F4); }, {[&](int) {
                                         SetCaretLine(*Main().Batmemo, 3);
                                         Main().RunToCaret1->trigger();
                                       },
                                       [&](int) { Key(Qt::Key_F5, Qt::ShiftModifier); }});
  EXPECT_EQ(held, (std::vector<int>{2, 3}));
  EXPECT_EQ(RunLines(), (std::vector<std::string>{"Rem 0", "Rem 1", "Rem 2"}));
  EXPECT_TRUE(EndsWithEndLine());
  EXPECT_FALSE(Main().Engine().FRunning);
  for (QAction* item : Main().MenuItems()) {
    EXPECT_EQ(item->isEnabled(), item != Main().LogClear1) << item->objectName().toStdString();
  }
}

TEST_F(DebuggerTest, ClosingTheWindowWhileHeldEndsTheRun) {
  Type(QStringLiteral("Rem a\nRem b"));
  ClickGutter(1);
  bool closed = false;
  Main().OnClosed = [&] { closed = true; };
  dialogs.answers = {MessageResult::Yes, MessageResult::No};  // stop the script; discard
  Drive([&] { Main().Run1->trigger(); }, {[&](int) { Main().close(); }});
  EXPECT_TRUE(closed);
  EXPECT_EQ(dialogs.Texts().front(),
            "ＦＴＰコマンドスクリプトを実行中です  強制終了していいですか");
  EXPECT_EQ(RunLines(), std::vector<std::string>{"Rem a"});
  EXPECT_TRUE(EndsWithEndLine());
}

TEST_F(DebuggerTest, AHeldRunKeepsItsConnectionAndTheCoreLoopGoingThenUsesIt) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  tarnex::testing::RealFtpServer server;
  Type(QString::fromStdString("Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\nLogin " +
                              server.User() + " " + server.Password() + "\nmd held\nBye"));
  ClickGutter(2);
  Main().Variables1->trigger();
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  int ticks = 0;
  const platform::TimerId timer = loop.StartTimer(20, [&] { ++ticks; });
  int ticks_held = 0;
  std::string status;
  QString host, code;
  Drive([&] { Main().Run1->trigger(); }, {[&](int) {
          status = Main().Stbar->Text(1);
          host = Main().VariablesPanel->ValueOf(1, QStringLiteral("ホスト"));
          code = Main().VariablesPanel->ValueOf(1, QStringLiteral("応答コード"));
          const int before = ticks;
          // Qt's loop alone runs now: the core's timers must still fire.
          EXPECT_TRUE(WaitUntil([&] { return ticks >= before + 5; }, 3000));
          ticks_held = ticks - before;
          Main().Run1->trigger();
        }});
  loop.StopTimer(timer);
  EXPECT_EQ(status, "Connect");
  EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(code, QStringLiteral("230"));
  EXPECT_GE(ticks_held, 5);
  EXPECT_TRUE(std::filesystem::is_directory(server.Root() / "held"));
  EXPECT_FALSE(Main().Engine().FConnected);  // Bye ran after the pause
}

TEST_F(DebuggerTest, OutsideAHeldRunF8AndF9DoWhatTheyAlwaysDid) {
  Type(QStringLiteral("Rem a\nRem b"));
  SetCaretLine(*Main().Batmemo, 1);
  Key(Qt::Key_F5);
  // A step is never held, breakpoint or not; it runs the caret line and moves the caret on.
  EXPECT_TRUE(Drive([&] { Key(Qt::Key_F8); }, {}).empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Rem b"});
  EXPECT_EQ(Main().Batmemo->textCursor().position(), Main().Batmemo->toPlainText().size());
  Main().BreakClear1->trigger();
  EXPECT_TRUE(Drive([&] { Key(Qt::Key_F9); }, {}).empty());
  EXPECT_EQ(RunLines(), (std::vector<std::string>{"Rem b", "Rem a", "Rem b"}));
}

TEST_F(DebuggerTest, TheRunningLineIsHighlightedWhileItRuns) {
  Type(QStringLiteral("Rem 0\npause one\nRem 2\npause two"));
  std::vector<int> highlighted;
  dialogs.on_message = [&](const platform::MessageBoxRequest&) {
    highlighted.push_back(Main().Batmemo->RunLine());
  };
  Key(Qt::Key_F9);
  SetCaretLine(*Main().Batmemo, 1);
  Key(Qt::Key_F8);
  EXPECT_EQ(highlighted, (std::vector<int>{1, 3, 1}));
  EXPECT_EQ(Main().Batmemo->RunLine(), -1);
}

TEST_F(DebuggerTest, TheVariablesPanelShowsWhatTheRunSetWithSecretsMasked) {
  {
    platform::Registry registry(store);  // stored before, by another script
    registry.OpenKey("\\SOFTWARE\\Tarnex", true);
    registry.WriteString("dbgother", "kept");
  }
  Type(QStringLiteral("set dbgname=hello\nset dbgpassword=secret\nRem %dbgname% %dbgunset%"));
  ClickGutter(2);
  EXPECT_TRUE(Main().VariablesPanel->isHidden());
  Main().Variables1->trigger();
  EXPECT_FALSE(Main().VariablesPanel->isHidden());
  TVariablesPanel& panel = *Main().VariablesPanel;
  std::vector<QString> at_pause;
  Drive([&] { Main().Run1->trigger(); }, {[&](int) {
          at_pause = {panel.ValueOf(0, QStringLiteral("dbgname")),
                      panel.ValueOf(0, QStringLiteral("dbgpassword")),
                      panel.ValueOf(0, QStringLiteral("dbgother")),
                      QString::number(panel.Tree()->topLevelItem(0)->childCount()),
                      panel.ValueOf(1, QStringLiteral("接続")),
                      panel.ValueOf(1, QStringLiteral("データ接続"))};
          Main().Run1->trigger();
        }});
  // The three stored, and the one the script names that nothing stored.
  EXPECT_EQ(at_pause, (std::vector<QString>{QStringLiteral("hello"), QStringLiteral("********"),
                                            QStringLiteral("kept"), QStringLiteral("4"),
                                            QStringLiteral("Disconnect"),
                                            QStringLiteral("アクティブ (PORT)")}));
  Main().Variables1->trigger();
  EXPECT_TRUE(Main().VariablesPanel->isHidden());
}

TEST_F(DebuggerTest, DoubleClickingALogLineFindsTheScriptLineThatWroteIt) {
  Type(QStringLiteral("Rem a\nRem b\nRem c"));
  Key(Qt::Key_F9);
  auto double_click = [&](int log_line) {
    TLogMemo& log = *Main().Logmemo;
    const QTextBlock block = log.document()->findBlockByNumber(log_line);
    QTest::mouseDClick(log.viewport(), Qt::LeftButton, {},
                       log.cursorRect(QTextCursor(block)).center() + QPoint(2, 0));
    return GetCaretLine(*Main().Batmemo);
  };
  SetCaretLine(*Main().Batmemo, 0);
  EXPECT_EQ(double_click(2), 1);  // "Rem b"
  EXPECT_EQ(double_click(0), 1);  // the start line belongs to no script line
  EXPECT_EQ(double_click(3), 2);
  dialogs.answers = {MessageResult::No};
  Main().Newfile1->trigger();  // another script: the old lines lead nowhere
  Type(QStringLiteral("Rem x\nRem y\nRem z"));
  SetCaretLine(*Main().Batmemo, 0);
  EXPECT_EQ(double_click(2), 0);
}

TEST_F(DebuggerTest, BreakpointsComeBackWhenTheFileIsOpenedAgain) {
  const std::string path = dir / "kept.fcs";
  const std::string copy = dir / "copy.fcs";
  WriteFile(path, "Rem 0\r\nRem 1\r\nRem 2\r\nRem 3\r\n");
  dialogs.picks = {path};
  Main().Open1->trigger();
  ClickGutter(1);
  ClickGutter(3);
  dialogs.picks = {copy};
  Main().SaveAs1->trigger();  // the breakpoints go with the new name too
  Main().Newfile1->trigger();
  EXPECT_TRUE(Main().Batmemo->Breakpoints().empty());
  for (const std::string& script : {path, copy}) {
    dialogs.picks = {script};
    Main().Open1->trigger();
    EXPECT_EQ(Main().Batmemo->Breakpoints(), (std::vector<int>{1, 3})) << script;
  }
  ClickGutter(1);  // cleared: kept so
  Main().Newfile1->trigger();
  dialogs.picks = {copy};
  Main().Open1->trigger();
  EXPECT_EQ(Main().Batmemo->Breakpoints(), std::vector<int>{3});
}

TEST(BreakpointLinesTest, StoredTextsReadAsLineNumbersAndHandEditsNeverFail) {
  struct Case {
    const char* text;
    std::vector<int> lines;
  };
  const Case cases[] = {{"", {}},
                        {"3,17,42", {2, 16, 41}},
                        {"42, 3 ,3", {2, 41}},
                        {"0,-2,x,,7a,99999999999,1000000", {999999}}};
  for (const Case& c : cases) {
    EXPECT_EQ(ParseBreakpointLines(c.text), c.lines) << c.text;
  }
  EXPECT_EQ(FormatBreakpointLines({41, 2, 16, 2}), "3,17,42");
}

TEST_F(DebuggerTest, ColouringUnderlinesTheWordsTheRunnerWarnsOf) {
  struct Case {
    const char* line;
    const char* underlined;  // "" when nothing is
  };
  const Case cases[] = {
      {"Rem Bogus words", ""}, {":label", ""},       {"   ", ""},
      {"Bogus x", "Bogus"},    {"GET a b", ""},      {"if Error Bogus", "Bogus"},
      {"%cmd% x", ""},         {"Rem\tx", "Rem\tx"}, {"　Rem x", ""},
  };
  QString text;
  for (const Case& c : cases) text += QString::fromUtf8(c.line) + QLatin1Char('\n');
  Type(text);
  QTextBlock block = Main().Batmemo->document()->begin();
  for (const Case& c : cases) {
    QString underlined;
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
      if (range.format.underlineStyle() == QTextCharFormat::WaveUnderline) {
        underlined += block.text().mid(range.start, range.length);
      }
    }
    EXPECT_EQ(underlined.toStdString(), c.underlined) << c.line;
    block = block.next();
  }
}

}  // namespace
}  // namespace tarnex::ui::testing
