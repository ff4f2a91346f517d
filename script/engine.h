// The script engine: runs a script whole or one line at a time, line by line from a snapshot
// of the editor, and writes the execution log through its host.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "script/command_table.h"
#include "script/engine_host.h"
#include "script/login_credentials.h"
#include "script/variables.h"
#include "settings/live_settings.h"

namespace tarnex::script {

class ScriptEngine {
 public:
  // Index of a whole run, and the end marker that stop and a missing label set.
  static constexpr int32_t kWholeRun = -1;
  static constexpr int32_t kEndMarker = 9999;

  // A line the engine cannot make sense of. The line still does what it always did (nothing,
  // or ending the run for a missing label); the host may report it.
  enum class ScriptProblem {
    UnknownCommand,  // a first word that is no command, label or blank
    MissingLabel,    // goto to a label that no line has
    BadCondition,    // if with a condition that is neither Error nor NonError (always true)
  };

  ScriptEngine(EngineHost& host, const settings::LiveSettings& settings,
               std::shared_ptr<platform::RegistryStore> store);
  virtual ~ScriptEngine();

  // Runs every line of `editor_lines` (the menu's Run).
  void Run(const std::vector<std::string>& editor_lines);
  // Executes the line at `caret_line` (the menu's Step); returns the line the caret moves to.
  int32_t Step(const std::vector<std::string>& editor_lines, int32_t caret_line);

  // Runs the snapshot: the whole of it for kWholeRun, else the one line at `index`.
  void RunScript(int32_t& index);
  // Executes an already expanded line.
  void ExecuteLine(int32_t& index, std::string line);
  // The index of the first line whose first word is `label` (without case), else the end marker.
  int32_t FindLabel(const std::string& label) const;

  void AddLog(const std::string& line);
  void AddLogLines(const std::vector<std::string>& lines);
  // A script variable for this run only, never stored (see Variables::SetRunValue).
  void SetRunVariable(const std::string& name, std::string value);
  // Logs an error that escaped a command: "999 予期せぬエラー：" and its message.
  void LogUnexpectedError(const std::exception& error);
  void LogUnexpectedError(std::exception_ptr error);

  // Asks the run or step in progress to end (the desktop's Stop), from a handler that runs
  // inside one of its waits: the transfer in progress is aborted and no further line runs.
  // With `quit_session` an open session is closed (QUIT) before the end line. The end line of
  // a whole run then names the line the run was at. Nothing when no run is in progress.
  void RequestStop(bool quit_session);

  // Waits `milliseconds` while messages keep flowing.
  virtual void ProcessWait(int milliseconds);

  // Hands the stored connection settings (passive mode, remote names' encoding, TLS and its
  // trust) to the FTP client, for the next connection on; the hosts call it when the settings
  // are loaded or changed. The time-out is applied by each run itself.
  void ApplyConnectionSettings();

  // Run state.
  bool FRunning = false;
  bool FCommandOk = false;
  bool FConnected = false;  // between the client's connect and close events
  std::string FScriptName;
  std::optional<std::vector<std::string>> FRunLines;

  // The last words of Open, Login and Dir.
  std::string FHost, FProxy, FPort, FUser, FPassword, FListFile;

  // The FTP client every FTP command goes through.
  TLowFTP FTP;

  // The live settings the engine runs with.
  const settings::LiveSettings& Settings() const { return settings_; }
  // Status panel 3: the progress of the transfers under way.
  void ShowProgress(const std::string& text) { host_.SetStatusText(3, text); }

  // Commands that reported failure through the result flag since the engine was made.
  int FailedCommands() const { return failed_commands_; }
  // The status an `exit` line of the last run or step asked for (0 to 255; kBadExitStatus
  // for one that gave no such number); nothing when no `exit` line ran.
  static constexpr int kBadExitStatus = 2;
  std::optional<int> ExitStatus() const { return exit_status_; }
  // The result flag as the last command that reported one left it, a Bye with no connection
  // to end aside: what `exit` without a status and `tarnex-run --exit-status last` report.
  bool LastResultOk() const { return last_result_ok_; }

  // Called with the problem, the 0-based index of the line and the word in question; returning
  // true ends the run there as stop does.
  std::function<bool(ScriptProblem problem, int32_t line, const std::string& word)> OnScriptProblem;

  // Asked by a Login whose line gives no password (see login_credentials.h).
  CredentialsLookup OnLoginCredentials;

 protected:
  EngineHost& host() { return host_; }

 private:
  void ExecuteLineAt(int32_t& index);
  void BeginRunState();
  void EndRunState();
  void SetCommandResult(bool ok);
  int32_t EndMarker() const;
  // Hands a problem of the line at `index` to OnScriptProblem; moves `index` to the end
  // marker when the handler ends the run.
  void ReportProblem(ScriptProblem problem, int32_t& index, const std::string& word);
  // After a stop that asked for it: QUIT for a session still open.
  void EndSessionIfAsked();

  void DoLocalCommand(int32_t& index, Command command, std::string args);
  void DoFtpCommand(Command command, std::string args);
  // The client operation's result, or nothing for a command that reports no result itself.
  std::optional<int32_t> RunFtpCommand(Command command, std::string& args);
  int32_t DoOpen(const std::string& host, const std::string& proxy, const std::string& port_text);
  // Login USER PASSWORD; a line without a password asks OnLoginCredentials.
  int32_t DoLogin(std::string args);
  void DoDir(std::string args);
  void DoNotImplemented();
  // Passive on|off: the data connection mode from the next transfer on.
  int32_t DoPassive(const std::string& word);
  // TLS off|explicit|implicit: FTPS for the next Login.
  int32_t DoTls(const std::string& word);
  // mget PATTERN, mput PATTERN, mirror [-R] [--delete] [--dry-run] [--max-folders N] SOURCE
  // DESTINATION (mget_mput.cpp, mirror.cpp): many files, each moved as Get or Put moves one.
  int32_t DoMget(std::string args);
  int32_t DoMput(std::string args);
  int32_t DoMirror(std::string args);

  // Handlers of the client's events.
  void AttachClientEvents();
  void FTPctlsockconnect();
  void FTPCtlsockClose();
  void FTPtransfer(int64_t bytes);
  static std::string RateText(int64_t bytes, int32_t milliseconds);
  void DoIf(int32_t& index, std::string args);
  void DoPause(const std::string& args);
  // exit [N]: ends the run as stop does, with the status N, or without it the result flag's.
  void DoExit(int32_t& index, std::string args);
  void DoWaitTimer(const std::string& args);
  void DoLcd(std::string args);
  void DoLdel(std::string args);

  EngineHost& host_;
  const settings::LiveSettings& settings_;
  Variables variables_;
  int failed_commands_ = 0;
  std::optional<int> exit_status_;
  bool last_result_ok_ = false;
  int32_t current_line_ = -1;  // the line a run is at (held before, or running)
  struct StopRequest {
    int32_t line;
    bool quit_session;
  };
  std::optional<StopRequest> stop_request_;
};

}  // namespace tarnex::script
