#include "script/engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/message_loop.h"
#include "platform/registry.h"
#include "tests/support/fake_host.h"
#include "tests/support/temp_dir.h"

namespace tarnex::script {
namespace {

using platform::Utf8ToCp932;

// The engine with its waits recorded instead of slept.
class TestEngine : public ScriptEngine {
 public:
  using ScriptEngine::ScriptEngine;
  void ProcessWait(int milliseconds) override {
    waits.push_back(milliseconds);
    if (on_wait) on_wait();
    if (waits.size() > 50'000) FRunning = false;  // a test that loops still ends
  }
  std::vector<int> waits;
  std::function<void()> on_wait;
};

class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : store_(std::make_shared<platform::RegistryStore>(dir_ / "registry.db")),
        engine_(host_, settings_, store_) {
    engine_.FScriptName = "test.fcs";
  }

  // The log of a whole run without its start and end lines.
  std::vector<std::string> RunBody(const std::vector<std::string>& lines) {
    host_.log.clear();
    engine_.Run(lines);
    EXPECT_GE(host_.log.size(), 2u);
    EXPECT_EQ(host_.log.front().rfind("<<test.fcs>> start ", 0), 0u);
    EXPECT_EQ(host_.log.back().rfind("<<test.fcs>> end   ", 0), 0u);
    return {host_.log.begin() + 1, host_.log.end() - 1};
  }

  void SetVariable(const std::string& name, const std::string& value) {
    platform::Registry registry(store_);
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Tarnex", true));
    registry.WriteString(name, value);
  }
  std::optional<std::string> Variable(const std::string& name) {
    platform::Registry registry(store_);
    registry.OpenKey("\\SOFTWARE\\Tarnex", true);
    if (!registry.ValueExists(name)) return std::nullopt;
    return registry.ReadString(name);
  }

  testing::TempDir dir_;
  testing::FakeHost host_;
  settings::LiveSettings settings_;
  std::shared_ptr<platform::RegistryStore> store_;
  TestEngine engine_;
};

TEST_F(EngineTest, EmptyScriptWritesOnlyStartAndEndLines) {
  EXPECT_TRUE(RunBody({}).empty());
  EXPECT_TRUE(engine_.waits.empty());
  EXPECT_EQ(engine_.Step({}, 0), 0);
  EXPECT_EQ(host_.log.size(), 2u);
}

TEST_F(EngineTest, StartAndEndLinesCarryTheDateAndTime) {
  engine_.Run({});
  // "<<test.fcs>> start 2026/12/07 10:11:12": the two markers are equally wide.
  ASSERT_EQ(host_.log.size(), 2u);
  EXPECT_EQ(host_.log[0].size(), host_.log[1].size());
  EXPECT_EQ(host_.log[0].size(), std::string("<<test.fcs>> start 2026/12/07 10:11:12").size());
  EXPECT_EQ(host_.log[0][23], '/');
  EXPECT_EQ(host_.log[0][29], ' ');
  EXPECT_EQ(host_.log[0][32], ':');
}

TEST_F(EngineTest, EveryLineIsLoggedAndFollowedByTheHalfSecondPause) {
  auto body = RunBody({"Rem a", "", "   ", "unknown word", ":label", "\topen x"});
  EXPECT_EQ(body,
            (std::vector<std::string>{"Rem a", "", "   ", "unknown word", ":label", "\topen x"}));
  EXPECT_EQ(engine_.waits, std::vector<int>(6, 500));
}

TEST_F(EngineTest, ThePauseAfterEachLineIsTheStepDelaySetting) {
  for (const int step_delay : {500, 0, 10000}) {
    settings_.StepDelay = step_delay;
    engine_.waits.clear();
    RunBody({"Rem a", "Rem b"});
    EXPECT_EQ(engine_.waits, std::vector<int>(2, step_delay));
  }
  engine_.waits.clear();
  engine_.Step({"Rem a"}, 0);
  EXPECT_TRUE(engine_.waits.empty());  // a step never pauses
}

TEST_F(EngineTest, WithoutAPauseARequestToStopIsStillSeenAfterTheLine) {
  // The window's close box posts its request while a line runs; the real wait handles it.
  struct StoppingHost : testing::FakeHost {
    void AfterLine(int32_t) override {
      platform::MessageLoop::Current().Post([this] { *running = false; });
    }
    bool* running = nullptr;
  } host;
  settings::LiveSettings settings;
  settings.StepDelay = 0;
  ScriptEngine engine(host, settings, store_);
  host.running = &engine.FRunning;
  engine.Run({"Rem a", "Rem never"});
  EXPECT_EQ(host.log.size(), 3u);  // the start line, "Rem a", the end line
}

TEST_F(EngineTest, ExitEndsTheRunWithTheStatusItGivesOrTheResultFlags) {
  struct Case {
    std::vector<std::string> lines;
    std::optional<int> status;
    std::vector<std::string> body;
  } cases[] = {
      {{"Rem no exit"}, std::nullopt, {"Rem no exit"}},
      {{"exit 7", "Rem never"}, 7, {"exit 7"}},
      {{"EXIT 0"}, 0, {"EXIT 0"}},
      {{"exit 255 and words after it"}, 255, {"exit 255 and words after it"}},
      {{"lcd .", "exit"}, 0, {"lcd .", "local Cd complete", "exit"}},
      {{"ldel /no/such/file", "exit", "Rem never"},
       1,
       {"ldel /no/such/file", "local file delete fail", "exit"}},
      {{"ldel /no/such/file", "if Error exit 3", "Rem never"},
       3,
       {"ldel /no/such/file", "local file delete fail", "if Error exit 3"}},
      {{"set code=4", "exit %code%"}, 4, {"set code=4", "exit 4"}},
      // What is no status from 0 to 255 ends the run as a script that cannot run to its end.
      {{"exit 256", "Rem never"}, 2, {"exit 256", "exit: give a status from 0 to 255, not '256'"}},
      {{"exit -1"}, 2, {"exit -1", "exit: give a status from 0 to 255, not '-1'"}},
      {{"exit +1"}, 2, {"exit +1", "exit: give a status from 0 to 255, not '+1'"}},
      {{"exit one"}, 2, {"exit one", "exit: give a status from 0 to 255, not 'one'"}},
      {{"exit 99999999999"},
       2,
       {"exit 99999999999", "exit: give a status from 0 to 255, not '99999999999'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.back());
    EXPECT_EQ(RunBody(c.lines), c.body);
    EXPECT_EQ(engine_.ExitStatus(), c.status);
  }
  // A step on an exit line leaves the caret at the end, as on stop.
  EXPECT_EQ(engine_.Step({"exit 5", "Rem 1"}, 0), ScriptEngine::kEndMarker + 1);
  EXPECT_EQ(engine_.ExitStatus(), 5);
}

TEST_F(EngineTest, CommandWordsAreRecognisedWithoutCaseAndExactly) {
  struct Case {
    const char* line;
    bool recognised;  // an FTP word sets the result flag
  } cases[] = {
      {"OPEN host", true},      {"open host", true},   {"Open", true},
      {"  open  host", true},   {"Opens host", false}, {"\topen host", false},
      {"open\thost", false},    {"Rem open", false},   {"Dialup", true},
      {"\x81\x40open x", true},  // a full-width blank around the word is trimmed
      {"open\x81\x40 x", true},
  };
  for (const auto& c : cases) {
    engine_.FCommandOk = false;
    RunBody({c.line});
    EXPECT_EQ(engine_.FCommandOk, c.recognised) << c.line;
  }
}

TEST_F(EngineTest, LinesAreLoggedAfterSubstitution) {
  SetVariable("host", "ftp1");
  auto body = RunBody({"Open %host% NONE 21", "Rem 100\\% %never% a%b"});
  EXPECT_EQ(body, (std::vector<std::string>{"Open ftp1 NONE 21", "Rem 100%  a%b"}));
}

TEST_F(EngineTest, GotoStopAndMissingLabels) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> body;
  } cases[] = {
      {{"goto x", "Rem skipped", ":x", "Rem after"}, {"goto x", "Rem after"}},
      {{"goto X", ":x first", ":x", "Rem a"}, {"goto X", ":x", "Rem a"}},
      {{"stop", "Rem never"}, {"stop"}},
      {{"goto nowhere", "Rem never"}, {"goto nowhere"}},
      {{"if Maybe stop", "Rem never"}, {"if Maybe stop"}},
      {{"if", "Rem runs"}, {"if", "Rem runs"}},
  };
  for (const auto& c : cases) EXPECT_EQ(RunBody(c.lines), c.body) << c.lines[0];
}

TEST_F(EngineTest, UnknownWordsMissingLabelsAndBadConditionsAreReportedAndMayEndTheRun) {
  using Problem = ScriptEngine::ScriptProblem;
  struct Seen {
    Problem problem;
    int32_t line;
    std::string word;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  bool stop = false;
  engine_.OnScriptProblem = [&](Problem problem, int32_t line, const std::string& word) {
    seen.push_back({problem, line, word});
    return stop;
  };
  const std::vector<std::string> script = {"Rem fine",
                                           "",
                                           "   ",
                                           ":label",
                                           "if Error Gett x",
                                           "Opens host",
                                           "\topen x",
                                           "if eRRor Rem fine",
                                           "if Eror Rem runs",
                                           "goto nowhere",
                                           "Rem after"};
  // Only reported: the lines do what they always did, and the log is the same.
  EXPECT_EQ(RunBody(script), (std::vector<std::string>{script.begin(), script.end() - 1}));
  EXPECT_EQ(seen, (std::vector<Seen>{{Problem::UnknownCommand, 4, "Gett"},
                                     {Problem::UnknownCommand, 5, "Opens"},
                                     {Problem::UnknownCommand, 6, "\topen"},
                                     {Problem::BadCondition, 8, "Eror"},
                                     {Problem::MissingLabel, 9, "nowhere"}}));
  // A handler that answers true ends the run there, with its end line.
  seen.clear();
  stop = true;
  EXPECT_EQ(RunBody({"Rem a", "Gett x", "Rem never"}),
            (std::vector<std::string>{"Rem a", "Gett x"}));
  EXPECT_EQ(RunBody({"if Eror stop", "Rem never"}), std::vector<std::string>{"if Eror stop"});
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(EngineTest, AStopRequestEndsTheRunAfterItsLineAndTheEndLineNamesIt) {
  engine_.on_wait = [&] {
    if (engine_.waits.size() == 2) engine_.RequestStop(true);  // no session: nothing to QUIT
  };
  EXPECT_EQ(RunBody({"Rem a", "Rem b", "Rem never"}), (std::vector<std::string>{"Rem a", "Rem b"}));
  EXPECT_TRUE(host_.log.back().ends_with(Utf8ToCp932(" (2 行目で中止)"))) << host_.log.back();
  engine_.on_wait = nullptr;
  RunBody({"Rem a"});  // the next run ends as always
  EXPECT_EQ(host_.log.back().size(), std::string("<<test.fcs>> end   2026/12/07 10:11:12").size());
  engine_.RequestStop(true);  // no run: nothing happens
  EXPECT_FALSE(engine_.FRunning);
}

TEST_F(EngineTest, GotoTakesTheSubstitutedNameButSearchesLabelsAsWritten) {
  SetVariable("next", "done");
  auto body = RunBody({"goto %next%", "Rem skipped", ":%next%", ":done", "Rem end"});
  EXPECT_EQ(body, (std::vector<std::string>{"goto done", "Rem end"}));
}

TEST_F(EngineTest, ABackwardGotoLoopsUntilTheRunIsStopped) {
  int lines_seen = 0;
  engine_.on_wait = [&] {
    if (++lines_seen == 7) engine_.FRunning = false;
  };
  auto body = RunBody({":top", "Rem again", "goto top"});
  EXPECT_EQ(body, (std::vector<std::string>{":top", "Rem again", "goto top", "Rem again",
                                            "goto top", "Rem again", "goto top"}));
}

TEST_F(EngineTest, ScriptsLongerThanTheEndMarkerStillStop) {
  std::vector<std::string> lines(12000, "Rem x");
  lines[10500] = "stop";
  EXPECT_EQ(RunBody(lines).size(), 10501u);
  lines[10500] = "goto missing";
  EXPECT_EQ(RunBody(lines).size(), 10501u);
  // A real label at the old marker's index is found like any other.
  lines[0] = "goto here";
  lines[9999] = ":here";
  lines[10001] = "stop";
  EXPECT_EQ(RunBody(lines), (std::vector<std::string>{"goto here", "Rem x", "stop"}));
}

TEST_F(EngineTest, IfTestsTheResultFlagWhichSurvivesRuns) {
  // No command has reported yet: the flag is false.
  EXPECT_EQ(RunBody({"if NonError stop", "Rem a"}).size(), 2u);
  EXPECT_EQ(RunBody({"if error stop", "Rem a"}).size(), 1u);
  RunBody({"Open host"});  // Open always succeeds
  EXPECT_TRUE(engine_.FCommandOk);
  EXPECT_EQ(RunBody({"if NONERROR stop", "Rem a"}).size(), 1u);
  EXPECT_EQ(RunBody({"if Error stop", "Rem a"}).size(), 2u);
  // Nested conditions and a command that reports.
  EXPECT_EQ(
      RunBody({"if NonError if NonError ldel /no/such/file", "if Error stop", "Rem a"}).size(), 3u);
  EXPECT_FALSE(engine_.FCommandOk);
}

TEST_F(EngineTest, StepExecutesOneLineAndMovesTheCaret) {
  std::vector<std::string> lines{"Rem 0", "goto x", "Rem 2", ":x", "stop", "Rem 5"};
  struct Case {
    int32_t caret, next;
  } cases[] = {{0, 1}, {1, 4}, {2, 3}, {4, 10000}, {5, 6}, {6, 6}, {40, 40}};
  for (const auto& c : cases) {
    host_.log.clear();
    EXPECT_EQ(engine_.Step(lines, c.caret), c.next) << c.caret;
    EXPECT_EQ(host_.log.size(), c.caret < 6 ? 1u : 0u);
  }
  EXPECT_TRUE(engine_.waits.empty());  // no pause after a step
  EXPECT_FALSE(engine_.FRunLines.has_value());
}

TEST_F(EngineTest, RunLocksTheUiAndShowsTheRunStateThenRestoresIt) {
  host_.panels[0] = "\x95\xCF\x8D\x58";  // the modified mark
  bool locked_during = false;
  std::string panel_during;
  engine_.on_wait = [&] {
    locked_during = host_.locked && engine_.FRunning;
    panel_during = host_.panels[0];
  };
  engine_.Run({"Rem a"});
  EXPECT_TRUE(locked_during);
  EXPECT_EQ(panel_during, Utf8ToCp932("実行中"));
  EXPECT_EQ(host_.panels[0], "\x95\xCF\x8D\x58");
  EXPECT_FALSE(host_.locked);
  EXPECT_FALSE(engine_.FRunning);
  EXPECT_EQ(host_.lock_calls, 1);
  EXPECT_EQ(host_.unlock_calls, 1);
}

TEST_F(EngineTest, AnEscapingErrorStillWritesTheEndLineAndRestoresEverything) {
  {
    platform::Registry registry(store_);
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\Tarnex", true));
    registry.WriteInteger("num", 5);
  }
  host_.panels[0] = "before";
  EXPECT_THROW(engine_.Run({"Rem a", "Rem %num%", "Rem never"}), ERegistryException);
  ASSERT_EQ(host_.log.size(), 3u);
  EXPECT_EQ(host_.log[1], "Rem a");
  EXPECT_EQ(host_.log[2].rfind("<<test.fcs>> end   ", 0), 0u);
  EXPECT_EQ(host_.panels[0], "before");
  EXPECT_FALSE(host_.locked);
  EXPECT_FALSE(engine_.FRunning);
  EXPECT_FALSE(engine_.FRunLines.has_value());
  try {
    engine_.Step({"Rem %num%"}, 0);
  } catch (...) {
    engine_.LogUnexpectedError(std::current_exception());
  }
  EXPECT_EQ(host_.log.back(), Utf8ToCp932("999 予期せぬエラー：'num' のデータ型が不正です"));
}

TEST_F(EngineTest, SetWritesAndDeletesVariables) {
  SetVariable("a", "hello world");
  struct Case {
    const char* line;
    const char* name;
    std::optional<std::string> value;
  } cases[] = {
      {"set b=%a%", "b", "hello"},  // substituted first, then the value ends at the blank
      {"set c=b c", "c", "b"},
      {"set d==b", "d", "=b"},
      {"set d=", "d", std::nullopt},
      {"set c", "c", std::nullopt},
      {"set e=x", "e", "x"},
      {"set =e", "e", std::nullopt},
      {"set \x95\x5C=\x83\x5C", "\x95\x5C", "\x83\x5C"},
  };
  for (const auto& c : cases) {
    RunBody({c.line});
    EXPECT_EQ(Variable(c.name), c.value) << c.line;
  }
  EXPECT_FALSE(engine_.FCommandOk);  // set does not report a result
}

TEST_F(EngineTest, SetFailsWithTheStoresErrorWhenItCannotWrite) {
  auto broken = std::make_shared<platform::RegistryStore>(dir_ / "registry.db/not/a/dir");
  TestEngine engine(host_, settings_, broken);
  try {
    engine.Run({"set x=1"});
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), Utf8ToCp932("'x' の設定に失敗しました"));
  }
  host_.log.clear();
  engine.Run({"set x=", "Rem [%x%]"});  // a delete fails silently; reads find nothing
  EXPECT_EQ(host_.log[2], "Rem []");
}

TEST_F(EngineTest, PauseShowsItsTextAsItStands) {
  RunBody({"pause", "pause  Insert disk", "PAUSE \x95\x5C"});
  ASSERT_EQ(host_.boxes.size(), 3u);
  EXPECT_EQ(host_.boxes[0].text, Utf8ToCp932("OKボタンを押してください"));
  EXPECT_EQ(host_.boxes[1].text, " Insert disk");
  EXPECT_EQ(host_.boxes[2].text, "\x95\x5C");
  for (const auto& box : host_.boxes) {
    EXPECT_EQ(box.caption, "TARNEX");
    EXPECT_EQ(box.icon, platform::MessageIcon::Information);
    EXPECT_EQ(box.buttons, platform::MessageButtons::Ok);
    EXPECT_TRUE(box.system_modal);
  }
}

TEST_F(EngineTest, WaitTimerWaitsWholeSecondStepsAndStopsWithTheRun) {
  struct Case {
    const char* line;
    size_t seconds;
  } cases[] = {
      {"WaitTimer 00:00:01", 1},  {"WaitTimer 00:00:03", 3}, {"WaitTimer 00:01:07", 67},
      {"WaitTimer 0:00:02.5", 3}, {"WaitTimer 00:00:00", 0},
  };
  for (const auto& c : cases) {
    engine_.waits.clear();
    RunBody({c.line});
    ASSERT_EQ(engine_.waits.size(), c.seconds + 1) << c.line;  // the steps and the line pause
    EXPECT_EQ(std::count(engine_.waits.begin(), engine_.waits.end(), 1000),
              static_cast<long>(c.seconds));
  }
  EXPECT_TRUE(host_.boxes.empty());

  engine_.waits.clear();
  engine_.on_wait = [&] {
    if (engine_.waits.size() == 2) engine_.FRunning = false;
  };
  RunBody({"WaitTimer 00:00:10", "Rem never"});
  EXPECT_EQ(engine_.waits, (std::vector<int>{1000, 1000, 500}));
}

TEST_F(EngineTest, WaitTimerRejectsWhatIsNoTime) {
  for (const char* line : {"WaitTimer", "WaitTimer ten", "WaitTimer 25:00:00"}) {
    host_.boxes.clear();
    engine_.waits.clear();
    RunBody({line});
    ASSERT_EQ(host_.boxes.size(), 1u) << line;
    EXPECT_EQ(host_.boxes[0].text, Utf8ToCp932("WaitTimerコマンドの指定が不正です"));
    EXPECT_EQ(host_.boxes[0].caption, "Tarnex");
    EXPECT_EQ(host_.boxes[0].icon, platform::MessageIcon::Error);
    EXPECT_EQ(engine_.waits, std::vector<int>{500});
  }
}

TEST_F(EngineTest, LcdAndLdelReportThroughTheLogAndTheFlag) {
  auto original = std::filesystem::current_path();
  std::filesystem::create_directories(dir_.path() / "日本");
  std::string sjis_dir = Utf8ToCp932((dir_.path() / "日本").string());
  { std::ofstream(dir_.path() / "日本" / "表.txt") << "x"; }

  auto body = RunBody({"lcd \"" + sjis_dir + "\"", "ldel " + Utf8ToCp932("表.txt"),
                       "ldel " + Utf8ToCp932("表.txt"), "ldel *.tmp", "lcd /no/such/dir"});
  EXPECT_EQ(std::filesystem::current_path(), dir_.path() / "日本");
  std::filesystem::current_path(original);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "日本" / "表.txt"));
  EXPECT_EQ(body, (std::vector<std::string>{
                      "lcd \"" + sjis_dir + "\"", "local Cd complete",
                      "ldel " + Utf8ToCp932("表.txt"), "local file delete complete.",
                      "ldel " + Utf8ToCp932("表.txt"), "local file delete fail", "ldel *.tmp",
                      "local file delete fail", "lcd /no/such/dir", "local Cd fail"}));
  EXPECT_FALSE(engine_.FCommandOk);
  EXPECT_EQ(engine_.FailedCommands(), 3);
}

TEST_F(EngineTest, FindLabelComparesTheFirstWordOfRawLines) {
  engine_.FRunLines = std::vector<std::string>{"Rem", ":a x", " :b", ":A", ":c\t"};
  EXPECT_EQ(engine_.FindLabel(":a"), 1);
  EXPECT_EQ(engine_.FindLabel(":b"), 2);  // a leading blank is skipped by the tokeniser
  EXPECT_EQ(engine_.FindLabel(":c"), ScriptEngine::kEndMarker);
  EXPECT_EQ(engine_.FindLabel(":zz"), ScriptEngine::kEndMarker);
}

}  // namespace
}  // namespace tarnex::script
