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

#include <unistd.h>
#include <QLabel>

#include "platform/message_loop.h"
#include "tests/support/fake_ftp_server.h"
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
using tarnex::testing::Close;
using tarnex::testing::Expect;
using tarnex::testing::FakeFtpServer;
using tarnex::testing::Greeting;
using tarnex::testing::Session;

// A session that logs "joe" in, then does `rest`.
Session LoggedIn(std::vector<tarnex::testing::Step> rest) {
  std::vector<tarnex::testing::Step> steps{Greeting("220 Hi\r\n"),
                                           Expect("USER joe", "331 Pass\r\n"),
                                           Expect("PASS se", "230 Logged in\r\n")};
  steps.insert(steps.end(), rest.begin(), rest.end());
  return Session(std::move(steps));
}

QString OpenAndLogin(const FakeFtpServer& server) {
  return QStringLiteral("Open 127.0.0.1 NONE %1\nLogin joe se\n").arg(server.Port());
}

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
  QString Panel(const char* name) {
    return Main().VariablesPanel->ValueOf(1, QString::fromUtf8(name));
  }
  // Runs the whole script with almost no pause between lines; `going` runs in the pause after
  // the first line, while the run goes.
  std::vector<int> DriveGoing(const std::function<void()>& going,
                              std::vector<std::function<void(int)>> at_pause) {
    Main().Settings().StepDelay = 1;
    bool posted = false;
    const QMetaObject::Connection first_line =
        QObject::connect(Main().Logmemo, &QPlainTextEdit::textChanged, [&] {
          // The start line and the first line: what is posted now runs in the pause after it.
          if (posted || Main().Logmemo->Lines().size() != 2) return;
          posted = true;
          QTimer::singleShot(0, &Main(), going);
        });
    const std::vector<int> held = Drive([&] { Main().Run1->trigger(); }, std::move(at_pause));
    QObject::disconnect(first_line);
    EXPECT_TRUE(posted);
    return held;
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

TEST_F(DebuggerTest, EditsWhileHeldGoToTheNextRunAndTheMarksFollowTheirLines) {
  Type(QStringLiteral("Rem 0\nRem 1\nRem 2\nRem 3"));
  ClickGutter(1);
  ClickGutter(3);
  Main().Variables1->trigger();
  const std::string path = dir / "held.fcs";
  struct AtPause {
    std::string panel;
    bool notice = false, save = false;
    int run_line = -1;
  };
  std::vector<AtPause> seen;
  auto look = [&] {
    seen.push_back({platform::Cp932ToUtf8(Main().Stbar->Text(0)), Main().RunNotice->isVisible(),
                    Main().Save1->isEnabled(), Main().Batmemo->RunLine()});
  };
  const std::vector<int> held =
      Drive([&] { Key(Qt::Key_F9); }, {[&](int) {
                                         QTextCursor top(Main().Batmemo->document());
                                         top.insertText(QStringLiteral("Rem new\nRem new\n"));
                                         look();
                                         dialogs.picks = {path};
                                         Main().Save1->trigger();  // saving while held
                                         Key(Qt::Key_F9);
                                       },
                                       [&](int) {
                                         look();
                                         Key(Qt::Key_F9);
                                       }});
  // The run holds at its own lines 1 and 3 (now lines 3 and 5), never at the line the
  // breakpoint of line 1 moved to.
  EXPECT_EQ(held, (std::vector<int>{1, 3}));
  ASSERT_EQ(seen.size(), 2u);
  for (const AtPause& at : seen) {
    EXPECT_EQ(at.panel, "中断中");
    EXPECT_TRUE(at.notice);
    EXPECT_TRUE(at.save);
  }
  EXPECT_EQ(seen[0].run_line, 3);
  EXPECT_EQ(seen[1].run_line, 5);
  EXPECT_EQ(RunLines(), (std::vector<std::string>{"Rem 0", "Rem 1", "Rem 2", "Rem 3"}));
  EXPECT_EQ(ReadFile(path), "Rem new\r\nRem new\r\nRem 0\r\nRem 1\r\nRem 2\r\nRem 3");
  EXPECT_EQ(Main().Stbar->Text(0), "");  // saved: no mark, and no run state left behind
  EXPECT_FALSE(Main().RunNotice->isVisible());
  EXPECT_EQ(Main().Batmemo->Breakpoints(), (std::vector<int>{3, 5}));
  // A log line leads to the line that wrote it, where it is now; Enter does as a double click.
  TLogMemo& log = *Main().Logmemo;
  log.setFocus();
  log.setTextCursor(QTextCursor(log.document()->findBlockByNumber(3)));  // "Rem 2"
  QTest::keyClick(&log, Qt::Key_Return);
  EXPECT_EQ(GetCaretLine(*Main().Batmemo), 4);
  EXPECT_TRUE(Main().Batmemo->hasFocus());
  log.setTextCursor(QTextCursor(log.document()->findBlockByNumber(1)));  // "Rem 0"
  QTest::keyClick(&log, Qt::Key_Return);
  EXPECT_EQ(GetCaretLine(*Main().Batmemo), 2);

  // Edited during a run, not saved: the mark shows once the run is over.
  Main().BreakClear1->trigger();
  Drive([&] { Key(Qt::Key_F9); }, {});
  EXPECT_EQ(Main().Stbar->Text(0), "");
  ClickGutter(0);
  Drive([&] { Key(Qt::Key_F9); }, {[&](int) {
          Main().Batmemo->appendPlainText(QStringLiteral("Rem more"));
          EXPECT_EQ(platform::Cp932ToUtf8(Main().Stbar->Text(0)), "中断中");
          Key(Qt::Key_F9);
        }});
  EXPECT_EQ(platform::Cp932ToUtf8(Main().Stbar->Text(0)), "変更");
  // A line opened above with Enter at the start of a marked line: the mark stays with its text.
  ClickGutter(3);
  SetCaretLine(*Main().Batmemo, 3);
  Key(Qt::Key_Return);
  EXPECT_EQ(Main().Batmemo->Breakpoints(), (std::vector<int>{0, 4}));
}

TEST_F(DebuggerTest, ABreakpointOnALabelHoldsWhenAJumpLandsThere) {
  struct Case {
    const char* script;
    int breakpoint;  // -1: none
    int run_to;      // -1: a plain run
    std::vector<int> held;
    std::vector<std::string> log_at_first_hold;
  };
  const Case cases[] = {
      {"goto x\nRem skipped\n:x\nRem after", 2, -1, {2}, {"goto x"}},
      {"Rem a\nif NonError goto x\n:x\nRem b", 2, -1, {2}, {"Rem a", "if NonError goto x"}},
      {"Rem a\n:x\nRem b", 1, -1, {1}, {"Rem a"}},  // walked into: held once
      {"goto x\nRem skipped\n:x\nRem after", -1, 2, {2}, {"goto x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Type(QString::fromUtf8(c.script));
    Main().BreakClear1->trigger();
    if (c.breakpoint >= 0) ClickGutter(c.breakpoint);
    SetCaretLine(*Main().Batmemo, c.run_to);
    std::vector<std::string> log;
    const std::vector<int> held =
        Drive([&] { Key(c.run_to >= 0 ? Qt::Key_F4 : Qt::Key_F9); }, {[&](int) {
                if (log.empty()) log = RunLines();
                Key(Qt::Key_F9);
              }});
    EXPECT_EQ(held, c.held);
    EXPECT_EQ(log, c.log_at_first_hold);
    Main().LogClear1->trigger();
  }
}

TEST_F(DebuggerTest, PauseAndStopReachAGoingRun) {
  struct Case {
    const char* name;
    std::function<void()> going;  // while the run goes, after its first line
    std::vector<int> held;
    std::vector<std::string> ran;
    const char* end;  // how the end line ends
  };
  const Case cases[] = {
      {"Ctrl+Break, then Stop",
       [&] { Key(Qt::Key_Pause, Qt::ControlModifier); },
       {1},
       {"Rem 0"},
       " (2 行目で中止)"},
      {"Stop", [&] { Key(Qt::Key_F5, Qt::ShiftModifier); }, {}, {"Rem 0"}, " (1 行目で中止)"},
      {"the menu's Pause", [&] { Main().Pause1->trigger(); }, {1}, {"Rem 0"}, " (2 行目で中止)"},
  };
  Type(QStringLiteral("Rem 0\nRem 1\nRem 2"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Main().LogClear1->trigger();
    std::vector<bool> enabled;  // Pause, Stop, Continue, Open while the run goes
    const std::vector<int> held = DriveGoing(
        [&] {
          for (QAction* item : {Main().Pause1, Main().StopRun1, Main().Continue1, Main().Open1}) {
            enabled.push_back(item->isEnabled());
          }
          c.going();
        },
        {[&](int) { Key(Qt::Key_F5, Qt::ShiftModifier); }});
    EXPECT_EQ(held, c.held);
    EXPECT_EQ(enabled, (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(RunLines(), c.ran);
    EXPECT_TRUE(LogLines().back().ends_with(c.end)) << LogLines().back();
    EXPECT_TRUE(dialogs.boxes.empty());  // no session: nothing to ask
    EXPECT_FALSE(Main().Pause1->isEnabled());
    EXPECT_FALSE(Main().StopRun1->isEnabled());
    EXPECT_TRUE(Main().Continue1->isEnabled());
  }
}

TEST_F(DebuggerTest, StopAsksWhetherToEndTheSessionAndYesSendsQuit) {
  for (const MessageResult answer : {MessageResult::Yes, MessageResult::No}) {
    SCOPED_TRACE(answer == MessageResult::Yes ? "Yes" : "No");
    FakeFtpServer server(
        {LoggedIn(answer == MessageResult::Yes
                      ? std::vector<tarnex::testing::Step>{Expect("QUIT", "221 Bye\r\n"), Close()}
                      : std::vector<tarnex::testing::Step>{})});
    Type(OpenAndLogin(server) + QStringLiteral("Rem held\nRem never"));
    Main().BreakClear1->trigger();
    ClickGutter(2);
    dialogs.boxes.clear();
    dialogs.answers = {answer};
    Drive([&] { Main().Run1->trigger(); }, {[&](int) { Main().StopRun1->trigger(); }});
    ASSERT_EQ(dialogs.Texts().size(), 1u);
    EXPECT_EQ(dialogs.Texts()[0], "実行を中止します。FTPセッションを切断（QUIT）しますか");
    EXPECT_EQ(dialogs.boxes[0].buttons, platform::MessageButtons::YesNoCancel);
    EXPECT_EQ(Main().Engine().FConnected, answer == MessageResult::No);
    EXPECT_EQ(server.Mismatches(), "");
    if (answer == MessageResult::Yes) {
      EXPECT_TRUE(server.Wait(std::chrono::seconds(5))) << server.Transcript();
    }
    EXPECT_TRUE(LogLines().back().ends_with(" (3 行目で中止)")) << LogLines().back();
    const std::vector<std::string> ran = RunLines();
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "Rem never"), 0);
    Main().LogClear1->trigger();
  }
}

TEST_F(DebuggerTest, TheWarningsOfTheRunnerAndFailuresAreColouredInTheLog) {
  struct Case {
    const char* line;
    const char* logged;  // the line written after it ("" none)
    LogColour colour;    // of the last line the script line wrote
  };
  const Case cases[] = {
      {"Gett x", "1 行目: 不明なコマンド 'Gett'", LogColour::Warning},
      {"if Eror Rem x",
       "2 行目: 条件 'Eror' は Error でも NonError でもないため、コマンドは常に実行されます",
       LogColour::Warning},
      {"lcd /no/such/folder/here", "", LogColour::Failure},
      {"Rem fine", "", LogColour::Plain},
      {"goto nowhere", "5 行目: goto の飛び先のラベル 'nowhere' がありません", LogColour::Warning},
  };
  QString text;
  for (const Case& c : cases) text += QString::fromUtf8(c.line) + QLatin1Char('\n');
  Type(text);
  Key(Qt::Key_F9);
  const std::vector<std::string> log = LogLines();
  TLogMemo& memo = *Main().Logmemo;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto at = std::find(log.begin(), log.end(), std::string(c.line));
    ASSERT_NE(at, log.end());
    int last = static_cast<int>(at - log.begin());
    if (*c.logged != '\0') {
      ASSERT_LT(last + 1, static_cast<int>(log.size()));
      EXPECT_EQ(log[last + 1], c.logged);
      ++last;
    } else if (c.colour == LogColour::Failure) {
      ++last;  // the line that says why
    }
    EXPECT_EQ(memo.ColourAt(last), c.colour) << log[last];
  }
}

TEST_F(DebuggerTest, TheVariablesPanelFollowsEventsWhileHeld) {
  FakeFtpServer server({LoggedIn({Close()})});  // the server drops the session after Login
  Type(OpenAndLogin(server) + QStringLiteral("Passive on\nRem held"));
  ClickGutter(3);
  Main().Variables1->trigger();
  QString mode, host, code, connection;
  Drive([&] { Main().Run1->trigger(); }, {[&](int) {
          EXPECT_TRUE(WaitUntil([&] { return Panel("接続") == QStringLiteral("Disconnect"); }));
          connection = Panel("接続");
          mode = Panel("データ接続");
          host = Panel("ホスト");
          code = Panel("応答コード");
          Key(Qt::Key_F9);
        }});
  EXPECT_EQ(connection, QStringLiteral("Disconnect"));
  EXPECT_EQ(mode, QStringLiteral("パッシブ (PASV)"));
  EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(code, QStringLiteral("230"));
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
  // Pause and Stop have no run to act on.
  for (QAction* item : Main().MenuItems()) {
    EXPECT_EQ(item->isEnabled(),
              item != Main().LogClear1 && item != Main().Pause1 && item != Main().StopRun1)
        << item->objectName().toStdString();
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

TEST_F(DebuggerTest, BreakpointsAreKeptUnderTheCanonicalPathHoweverTheFileIsOpened) {
  std::filesystem::create_directories(dir / "sub");
  const std::string absolute = dir / "sub/kept.fcs";
  WriteFile(absolute, "Rem 0\r\nRem 1\r\nRem 2\r\n");
  std::filesystem::create_symlink(absolute, dir / "link.fcs");
  const std::filesystem::path before = std::filesystem::current_path();
  struct Case {
    const char* cwd;  // relative to the test's folder
    std::string first, again;
  };
  const Case cases[] = {{"sub", "kept.fcs", absolute},
                        {".", absolute, "./sub/../sub/kept.fcs"},
                        {".", "link.fcs", "sub/kept.fcs"}};
  int line = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " then " + c.again);
    std::filesystem::current_path(dir.path() / c.cwd);
    dialogs.picks = {c.first};
    Main().Open1->trigger();
    Main().BreakClear1->trigger();
    ClickGutter(++line % 3);
    Main().Newfile1->trigger();
    std::filesystem::current_path(dir.path());
    dialogs.picks = {c.again};
    Main().Open1->trigger();
    EXPECT_EQ(Main().Batmemo->Breakpoints(), std::vector<int>{line % 3});
  }
  std::filesystem::current_path(before);
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
      {"Rem Bogus words", ""},
      {":label", ""},
      {"   ", ""},
      {"Bogus x", "Bogus"},
      {"GET a b", ""},
      {"if Error Bogus", "Bogus"},
      {"%cmd% x", ""},
      {"Rem\tx", "Rem\tx"},
      {"　Rem x", ""},
      {"if Eror Rem x", "Eror"},
      {"if nonerror Rem x", ""},
      {"if %c% Rem x", ""},
      {"goto nowhere", "nowhere"},
      {"goto There", ""},
      {":there", ""},
      {"goto %to%", ""},
  };
  QString text;
  for (const Case& c : cases) text += QString::fromUtf8(c.line) + QLatin1Char('\n');
  Type(text);
  QCoreApplication::processEvents();  // the labels found: every line coloured again
  auto underlined = [](const QTextBlock& block) {
    QString words;
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
      if (range.format.underlineStyle() == QTextCharFormat::WaveUnderline) {
        words += block.text().mid(range.start, range.length);
      }
    }
    return words.toStdString();
  };
  QTextBlock block = Main().Batmemo->document()->begin();
  for (const Case& c : cases) {
    EXPECT_EQ(underlined(block), c.underlined) << c.line;
    block = block.next();
  }
  // The label typed later, on a line of its own: the goto above finds it.
  QTextCursor end(Main().Batmemo->document());
  end.movePosition(QTextCursor::End);
  for (const QChar c : QStringLiteral(":Nowhere")) end.insertText(QString(c));
  QCoreApplication::processEvents();
  block = Main().Batmemo->document()->begin();
  while (block.isValid() && block.text() != QStringLiteral("goto nowhere")) block = block.next();
  ASSERT_TRUE(block.isValid());
  EXPECT_EQ(underlined(block), "");
}

}  // namespace
}  // namespace tarnex::ui::testing
