// The commands that do not talk to the server: if, pause, goto, stop, exit, set, lcd, ldel
// and WaitTimer.

#include "platform/files.h"
#include "script/engine.h"
#include "text/datetime_text.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex::script {

void ScriptEngine::DoLocalCommand(int32_t& index, Command command, std::string args) {
  switch (command) {
    case Command::If:
      DoIf(index, std::move(args));
      break;
    case Command::Pause:
      DoPause(args);
      break;
    case Command::Goto: {
      const std::string name = NextToken(args, " ");
      const int32_t target = FindLabel(":" + name);
      // Not found, the run ends as the end marker says, whatever the handler answers.
      if (target == EndMarker()) ReportProblem(ScriptProblem::MissingLabel, index, name);
      index = target;
      break;
    }
    case Command::Stop:
      index = EndMarker();
      break;
    case Command::Exit:
      DoExit(index, std::move(args));
      break;
    case Command::Set:
      variables_.Write(NextToken(args, " "));
      break;
    case Command::Lcd:
      DoLcd(std::move(args));
      break;
    case Command::Ldel:
      DoLdel(std::move(args));
      break;
    case Command::WaitTimer:
      DoWaitTimer(args);
      break;
    default:
      break;
  }
}

void ScriptEngine::DoIf(int32_t& index, std::string args) {
  std::string condition = NextToken(args, " ");
  if (SameText(condition, "NonError") && !FCommandOk) return;
  if (SameText(condition, "Error") && FCommandOk) return;
  // Any other condition word runs the command unconditionally. The line was expanded and
  // logged once already; the rest is executed as it stands.
  if (!SameText(condition, "NonError") && !SameText(condition, "Error")) {
    const int32_t line = index;
    ReportProblem(ScriptProblem::BadCondition, index, condition);
    if (index != line) return;  // the handler ended the run here
  }
  ExecuteLine(index, std::move(args));
}

void ScriptEngine::DoExit(int32_t& index, std::string args) {
  const std::string word = NextToken(args, " ");
  if (word.empty()) {
    exit_status_ = LastResultOk() ? 0 : 1;
  } else {
    // Decimal digits alone: "-1", "+3" or "0x10" would be read differently by different
    // readers, so none of them is taken.
    const bool digits_only = word.find_first_not_of("0123456789") == std::string::npos;
    const std::optional<int> status = WholeNumber<int>(word);
    if (digits_only && status && *status <= 255) {
      exit_status_ = *status;
    } else {
      AddLog("exit: give a status from 0 to 255, not '" + word + "'");
      exit_status_ = kBadExitStatus;
    }
  }
  index = EndMarker();
}

void ScriptEngine::DoPause(const std::string& args) {
  platform::MessageBoxRequest box;
  box.text = args.empty() ? texts::PressOk() : args;
  box.caption = "TARNEX";
  box.icon = platform::MessageIcon::Information;
  box.buttons = platform::MessageButtons::Ok;
  box.system_modal = true;
  host_.ShowMessage(box);
}

void ScriptEngine::DoWaitTimer(const std::string& args) {
  std::optional<double> duration = TryStrToDateTime(args);
  if (!duration) {
    platform::MessageBoxRequest box;
    box.text = texts::WaitTimerInvalid();
    box.caption = "Tarnex";
    box.icon = platform::MessageIcon::Error;
    host_.ShowMessage(box);
    return;
  }
  for (int64_t steps = WaitTimerSteps(*duration); steps > 0; --steps) {
    if (!FRunning) break;
    ProcessWait(1000);
  }
}

void ScriptEngine::DoLcd(std::string args) {
  bool ok = platform::SetCurrentDir(NextArgument(args));
  AddLog(ok ? "local Cd complete" : "local Cd fail");
  SetCommandResult(ok);
}

void ScriptEngine::DoLdel(std::string args) {
  bool ok = platform::DeleteFile(NextArgument(args));
  AddLog(ok ? "local file delete complete." : "local file delete fail");
  SetCommandResult(ok);
}

}  // namespace tarnex::script
