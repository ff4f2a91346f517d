#include "script/engine.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/message_loop.h"
#include "platform/scope_guard.h"
#include "script/log_mask.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex::script {

ScriptEngine::ScriptEngine(EngineHost& host, const settings::LiveSettings& settings,
                           std::shared_ptr<platform::RegistryStore> store)
    : host_(host), settings_(settings), variables_(std::move(store)) {
  AttachClientEvents();
}

ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::Run(const std::vector<std::string>& editor_lines) {
  // The run snapshot lives for the length of the run, whatever happens.
  FRunLines = editor_lines;
  ScopeExit free_snapshot([this] { FRunLines.reset(); });
  int32_t index = kWholeRun;
  RunScript(index);
}

int32_t ScriptEngine::Step(const std::vector<std::string>& editor_lines, int32_t caret_line) {
  FRunLines = editor_lines;
  ScopeExit free_snapshot([this] { FRunLines.reset(); });
  int32_t index = caret_line;
  RunScript(index);
  return index;
}

void ScriptEngine::ApplyConnectionSettings() {
  const auto& connection = settings_.connection;
  FTP.SetPassive(connection.Passive);
  FTP.SetRemoteEncoding(connection.remote_encoding);
  FTP.SetTlsMode(connection.tls_mode);
  FTP.SetTlsTrust(connection.tls_ca_file, connection.tls_fingerprint);
  FTP.SetProtocol(connection.protocol);
  FTP.SetSshOptions(connection.ssh);
  FTP.SetSftpRemoteEncoding(connection.sftp_remote_encoding.value_or(RemoteEncoding::Utf8));
}

void ScriptEngine::RunScript(int32_t& index) {
  std::string saved_panel = host_.StatusText(0);
  host_.SetStatusText(0, texts::Running());
  host_.ProcessMessages();
  FTP.SetWaitTimeout(
      static_cast<uint32_t>(std::clamp<int64_t>(settings_.Ed_timeout, 0, 4'000'000) * 1000));
  BeginRunState();
  exit_status_.reset();
  stop_request_.reset();
  current_line_ = -1;
  // The lock and the status panel come back however the run ends, an escaping error included.
  ScopeExit restore([&] {
    EndRunState();
    host_.SetStatusText(0, saved_panel);
    host_.ProcessMessages();
  });

  const auto line_count = static_cast<int32_t>(FRunLines ? FRunLines->size() : 0);
  if (index == kWholeRun) {
    AddLog("<<" + FScriptName + ">> start " + platform::FormatDateTime(platform::Now()));
    ScopeExit end_line([&] {
      const std::string stopped =
          stop_request_ ? texts::StoppedAtLine(stop_request_->line + 1) : "";
      AddLog("<<" + FScriptName + ">> end   " + platform::FormatDateTime(platform::Now()) +
             stopped);
    });
    index = 0;
    while (index < line_count) {
      current_line_ = index;
      // A host may hold the run before a line (a breakpoint) and end it there.
      if (!host_.BeforeLine(index)) break;
      const int32_t ran = index;
      ExecuteLineAt(index);
      host_.AfterLine(ran);
      ++index;
      // The pause between lines (StepDelay); with none, messages are still handled once.
      ProcessWait(settings_.StepDelay);
      if (!FRunning) break;
    }
    EndSessionIfAsked();
  } else if (index >= 0 && index <= line_count - 1 && host_.BeforeLine(index)) {
    const int32_t ran = index;
    current_line_ = index;
    ExecuteLineAt(index);
    host_.AfterLine(ran);
    ++index;
    EndSessionIfAsked();
  }
}

void ScriptEngine::RequestStop(bool quit_session) {
  if (!FRunning) return;
  stop_request_ = StopRequest{std::max(current_line_, 0), quit_session};
  FRunning = false;
  FTP.Abort();  // a transfer in progress ends now, as a failure
}

void ScriptEngine::EndSessionIfAsked() {
  if (!stop_request_ || !stop_request_->quit_session || !FTP.Connected()) return;
  // As a Bye line would: QUIT, its log lines, the result flag.
  DoFtpCommand(Command::Bye, {});
}

void ScriptEngine::ExecuteLineAt(int32_t& index) {
  const std::string& written = (*FRunLines)[index];
  const auto read = [this](const std::string& name) { return variables_.Read(name); };
  std::string line = ExpandVariables(written, read);
  host_.AppendScriptLine(index, LoggedLine(written, read));
  ExecuteLine(index, std::move(line));
}

void ScriptEngine::ExecuteLine(int32_t& index, std::string line) {
  std::string word = TrimBlanks(NextToken(line, " "));
  std::optional<Command> command = LookupCommand(word);
  if (!command) {
    // Blank lines and labels are meant to do nothing; any other word is a slip of the pen.
    if (!word.empty() && word.front() != ':') {
      ReportProblem(ScriptProblem::UnknownCommand, index, word);
    }
    return;
  }
  switch (GroupOf(*command)) {
    case CommandGroup::Local:
      DoLocalCommand(index, *command, std::move(line));
      break;
    case CommandGroup::Ftp:
      DoFtpCommand(*command, std::move(line));
      break;
    case CommandGroup::None:
      break;
  }
}

int32_t ScriptEngine::EndMarker() const {
  // 9999 ends any script of up to 10000 lines; a longer script needs a marker past its end.
  const auto line_count = static_cast<int32_t>(FRunLines ? FRunLines->size() : 0);
  return std::max(kEndMarker, line_count);
}

int32_t ScriptEngine::FindLabel(const std::string& label) const {
  if (FRunLines) {
    for (size_t i = 0; i < FRunLines->size(); ++i) {
      std::string line = (*FRunLines)[i];
      if (SameText(NextToken(line, " "), label)) return static_cast<int32_t>(i);
    }
  }
  return EndMarker();
}

void ScriptEngine::ReportProblem(ScriptProblem problem, int32_t& index, const std::string& word) {
  if (OnScriptProblem && OnScriptProblem(problem, index, word)) index = EndMarker();
}

void ScriptEngine::BeginRunState() {
  host_.LockUi();
  FRunning = true;
}

void ScriptEngine::EndRunState() {
  host_.UnlockUi();
  FRunning = false;
}

void ScriptEngine::AddLog(const std::string& line) {
  host_.AppendLog(line);
}

void ScriptEngine::AddLogLines(const std::vector<std::string>& lines) {
  host_.AppendLogLines(lines);
}

void ScriptEngine::SetRunVariable(const std::string& name, std::string value) {
  variables_.SetRunValue(name, std::move(value));
}

void ScriptEngine::LogUnexpectedError(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  AddLog(texts::UnexpectedError() + (own ? own->Message() : std::string(error.what())));
}

void ScriptEngine::LogUnexpectedError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    LogUnexpectedError(e);
  } catch (...) {
    AddLog(texts::UnexpectedError());
  }
}

void ScriptEngine::ProcessWait(int milliseconds) {
  // The full time in slices of at most 100 ms with messages handled throughout: a socket
  // notification or a posted call is dispatched at once instead of after the slice.
  const int64_t deadline = platform::MonotonicMs() + milliseconds;
  auto& loop = platform::MessageLoop::Current();
  host_.ProcessMessages();
  for (int64_t left = milliseconds; left > 0; left = deadline - platform::MonotonicMs()) {
    loop.WaitAndProcess(static_cast<int>(std::min<int64_t>(left, 100)));
  }
}

void ScriptEngine::SetCommandResult(bool ok) {
  FCommandOk = ok;
  last_result_ok_ = ok;
  if (ok) return;
  ++failed_commands_;
  host_.CommandFailed();
}

}  // namespace tarnex::script
