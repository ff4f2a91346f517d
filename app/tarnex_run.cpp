// tarnex-run: runs a script whole without a display, for cron and CI.
//   tarnex-run [OPTION]... SCRIPT           (tarnex-run --help lists the options)
// Exit status: 0 every command that reports a result succeeded, 1 at least one failed,
// 2 an error escaped a command, the script could not be read, --strict found a slip, the
// summary could not be written, or the command line was wrong; an `exit N` line of the script
// gives N.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console_host.h"
#include "app/journal_stream.h"
#include "app/netrc_credentials.h"
#include "app/run_observers.h"
#include "app/run_summary.h"
#include "app/run_variables.h"
#include "app/runner_options.h"
#include "app/script_loader.h"
#include "app/stored_options.h"
#include "app/translation.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/temp_file_registry.h"
#include "platform/text_encoding.h"
#include "script/engine.h"
#include "script/log_mask.h"
#include "settings/live_settings.h"
#include "settings/netrc_file.h"
#include "settings/options_store.h"

namespace {

using namespace tarnex;
using app::LineKind;
using app::RunnerOptions;
using platform::TextEncoding;

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kNotRun = 2;

int Usage(app::MessageOutput& errors, const std::string& problem) {
  errors.Print(LineKind::Failure, "tarnex-run: " + problem);
  errors.Print(LineKind::Info, "usage: tarnex-run [OPTION]... SCRIPT");
  errors.Print(LineKind::Info, app::Tr("Try 'tarnex-run --help' for more information."));
  return kNotRun;
}

// --set-option and --list-settings: the store alone, no script.
int SettingsCommand(const RunnerOptions& options, app::MessageOutput& errors) {
  const auto store = platform::RegistryStore::Default();
  const std::string store_path = store->Path();
  for (const app::OptionAssignment& assignment : options.set_options) {
    try {
      app::StoreOption(assignment, store);
    } catch (const std::exception&) {
      errors.Print(
          LineKind::Failure,
          "tarnex-run: " + app::Format(app::Tr("cannot store %s in the settings store %s"),
                                       std::string(assignment.name).c_str(), store_path.c_str()));
      return kNotRun;
    }
  }
  if (options.list_settings) {
    settings::LiveSettings settings;
    try {
      settings::Load(settings, store);
    } catch (const std::exception&) {
      errors.Print(LineKind::Failure,
                   "tarnex-run: " + app::Format(app::Tr("cannot read the settings store %s"),
                                                store_path.c_str()));
      return kNotRun;
    }
    const std::string listing = app::SettingsListing(settings, app::StoredVariableNames(store));
    std::fputs(listing.c_str(), stdout);
  }
  return kSucceeded;
}

// A value in the run's encoding; nothing when a CP932 run cannot hold it (a '?' in its place
// would reach a file name or a password unnoticed).
std::optional<std::string> InRunEncoding(const std::string& utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8) return utf8;
  return platform::TryUtf8ToCp932(utf8);
}

// Values given here are this run's own: two jobs sharing one store never see each other's,
// and a password passed this way never reaches the disk. Runs in the run's encoding.
std::string SetRunVariables(script::ScriptEngine& engine, app::ConsoleHost& host,
                            const RunnerOptions& options, TextEncoding encoding) {
  const app::ResolvedVariables resolved = app::ResolveRunVariables(options.variables);
  if (!resolved.error.empty()) return resolved.error;
  for (const app::VariableValue& variable : resolved.values) {
    const std::optional<std::string> name = InRunEncoding(variable.name, encoding);
    const std::optional<std::string> value = InRunEncoding(variable.value, encoding);
    if (!name || !value) {
      return app::Format(
          app::Tr("--set %s: a character that CP932 cannot hold, and the script runs as CP932 "
                  "(see --encoding)"),
          variable.name.c_str());
    }
    engine.SetRunVariable(*name, *value);
  }
  // Every user of the machine can read a command line (ps, /proc).
  for (const app::RunVariable& variable : options.variables) {
    const std::optional<std::string> name = InRunEncoding(variable.name, encoding);
    if (variable.source == app::VariableSource::Value && name && script::IsSecretName(*name)) {
      host.Warn(app::Format(
          app::Tr("--set %s: the value can be seen by other users of this machine in the process "
                  "list; --set-from-file, --set-from-env or a netrc file keep it out of sight"),
          variable.name.c_str()));
    }
  }
  return {};
}

// The command-line flags over the stored settings, for this run only.
void ApplyRunFlags(const RunnerOptions& options, settings::LiveSettings& settings) {
  if (options.timeout) settings.Ed_timeout = *options.timeout;
  // No pause between lines unless asked for: a batch job has nobody to watch it.
  settings.StepDelay = options.step_delay;
  if (options.debug) settings.cb_debugmode = true;
  if (options.parallel) settings.Parallel = *options.parallel;
  if (options.passive) settings.connection.Passive = *options.passive;
  if (options.remote_encoding) {
    settings.connection.remote_encoding = *options.remote_encoding;
    settings.connection.sftp_remote_encoding = *options.remote_encoding;
  }
  if (options.tls) settings.connection.tls_mode = *options.tls;
  if (options.tls_ca_file) settings.connection.tls_ca_file = *options.tls_ca_file;
  if (options.tls_fingerprint) settings.connection.tls_fingerprint = *options.tls_fingerprint;
  if (options.protocol) settings.connection.protocol = *options.protocol;
  settings::SshSettings& ssh = settings.connection.ssh;
  if (options.ssh_key_file) ssh.key_file = *options.ssh_key_file;
  if (options.ssh_known_hosts_file) ssh.known_hosts_file = *options.ssh_known_hosts_file;
  if (options.ssh_host_key) ssh.host_key_pin = *options.ssh_host_key;
  if (options.ssh_accept_new) ssh.accept_new = true;
  if (options.ssh_config_file) ssh.config_file = *options.ssh_config_file;
}

// The netrc file Login takes what a script leaves out from: one named on the command line
// must be usable (checked before anything runs), ~/.netrc only when it is there.
std::optional<std::string> NetrcPath(const RunnerOptions& options, std::string& error) {
  if (!options.netrc_file) return settings::DefaultNetrcPath();
  const settings::NetrcFile file = settings::LoadNetrcFile(*options.netrc_file);
  if (file.status == settings::NetrcFile::Status::Missing) {
    error = app::Format(app::Tr("cannot read %s: %s"), options.netrc_file->c_str(),
                        app::SystemErrorText(file.error_number).c_str());
  } else if (const auto problem = app::ProblemOf(file, *options.netrc_file)) {
    error = problem->shown;
  }
  if (!error.empty()) return std::nullopt;
  return options.netrc_file;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Everything between the command line and the exit status; `summary` gets the error that
// stopped the run, if one did.
class ScriptRun {
 public:
  ScriptRun(const RunnerOptions& options, app::ConsoleHost& host, app::RunSummary& summary)
      : options_(options), host_(host), summary_(summary) {}

  int Run();

 private:
  // The runner's own message about why the run cannot go on.
  int Stop(const std::string& message) {
    host_.PrintMessage("tarnex-run: " + message, LineKind::Failure);
    summary_.error = message;
    return kNotRun;
  }
  // An error that escaped: its 999 line in the log.
  void LogEscapedError(script::ScriptEngine& engine, std::exception_ptr error) {
    engine.LogUnexpectedError(error);
    host_.ShowHeldLine(LineKind::Failure);
    summary_.error = host_.Failures().LastLogged();
  }
  int Execute(script::ScriptEngine& engine, const app::ScriptLines& script);

  const RunnerOptions& options_;
  app::ConsoleHost& host_;
  app::RunSummary& summary_;
  settings::LiveSettings settings_;
};

int ScriptRun::Run() {
  app::ScriptLines script;
  try {
    script = app::LoadScriptLines(options_.script, options_.encoding);
  } catch (const app::ScriptFileError& error) {
    return Stop(error.what());
  }
  std::string netrc_error;
  const std::optional<std::string> netrc = NetrcPath(options_, netrc_error);
  if (!netrc_error.empty()) return Stop(netrc_error);
  std::unique_ptr<std::FILE, FileCloser> log_copy;
  if (!options_.log_file.empty()) {
    log_copy.reset(std::fopen(options_.log_file.c_str(), "ae"));
    if (!log_copy) {
      return Stop(app::Format(app::Tr("cannot open the log file %s: %s"), options_.log_file.c_str(),
                              app::SystemErrorText(errno).c_str()));
    }
    host_.CopyLogTo(log_copy.get());
  }

  // Set by the test suite only (app/log_line_record.h).
  const std::unique_ptr<std::FILE, FileCloser> line_record(app::OpenLogLineRecord());
  if (line_record) host_.RecordLinesTo(line_record.get());
  script::ScriptEngine engine(host_, settings_, platform::RegistryStore::Default());
  // The stored options first, as the desktop program loads them before any script; a store
  // that cannot be read stops here with its error in the log.
  try {
    settings::Load(settings_, platform::RegistryStore::Default());
  } catch (...) {
    LogEscapedError(engine, std::current_exception());
    return kNotRun;
  }
  ApplyRunFlags(options_, settings_);
  engine.FTP.set_debugmode(settings_.cb_debugmode);
  engine.ApplyConnectionSettings();
  std::optional<app::NetrcCredentials> credentials;
  if (netrc && !netrc->empty()) {
    credentials.emplace(*netrc, [this](const std::string& warning) { host_.Warn(warning); });
    engine.OnLoginCredentials = [&credentials](const std::string& host, const std::string& user) {
      return credentials->Lookup(host, user);
    };
  }
  return Execute(engine, script);
}

int ScriptRun::Execute(script::ScriptEngine& engine, const app::ScriptLines& script) {
  // The stored log file is written at the end, as the desktop program writes it when it
  // closes; --log takes its place.
  const bool save_log =
      options_.log_file.empty() && settings_.ch_logsave && !settings_.Ed_logsave.empty();
  if (save_log) host_.KeepLines();
  bool strict_stop = false;
  app::AttachProblemReports(engine, host_, options_.strict, strict_stop);
  if (options_.trace) app::AttachTrace(engine, host_);
  if (options_.progress && ::isatty(STDERR_FILENO)) host_.EnableProgress();
  app::AttachProgress(engine, host_);
  app::AttachTransferCount(engine, summary_.downloaded, summary_.uploaded);
  // A signal that ends the run takes the half-written download with it.
  platform::RemoveTempFilesOnSignals();

  bool escaped = false;
  {
    // Every string of the run is in the script's encoding, the 999 line of an error included.
    platform::ScopedTextEncoding run_encoding(script.encoding);
    if (const std::string error = SetRunVariables(engine, host_, options_, script.encoding);
        !error.empty()) {
      return Stop(error);
    }
    // The document name in the start and end lines is the path as given.
    engine.FScriptName = script.encoding == TextEncoding::Utf8
                             ? options_.script
                             : platform::Utf8ToCp932(options_.script);
    try {
      engine.Run(script.lines);
      host_.ShowHeldLine(LineKind::Info);  // the end line
    } catch (...) {
      host_.ShowHeldLine(LineKind::Info);
      LogEscapedError(engine, std::current_exception());
      escaped = true;
    }
    host_.Progress().Clear();
  }
  if (save_log) {
    // The name as stored (CP932), relative to the current directory at the end of the run.
    try {
      platform::WriteLines(settings_.Ed_logsave, host_.Lines());
    } catch (...) {
      LogEscapedError(engine, std::current_exception());
      escaped = true;
    }
  }
  if (escaped || strict_stop) return kNotRun;
  if (const std::optional<int> asked = engine.ExitStatus()) return *asked;  // an exit line
  if (options_.exit_status == app::ExitStatusRule::Last) {
    return engine.LastResultOk() ? kSucceeded : kFailed;
  }
  return engine.FailedCommands() > 0 ? kFailed : kSucceeded;
}

// The run itself, from the stored settings to the exit status, and its summary.
int RunScriptCommand(const RunnerOptions& options, const app::LinePrefix& message_prefix) {
  app::RunSummary summary;
  summary.script = options.script;
  summary.start = std::time(nullptr);
  app::ConsoleHost host(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
  host.Messages().SetPrefix(message_prefix);
  host.SetLogOutput({app::IsJournalStream(STDOUT_FILENO), options.timestamps}, options.quiet);
  int status = ScriptRun(options, host, summary).Run();
  if (options.summary_json.empty()) return status;
  summary.end = std::time(nullptr);
  summary.exit_status = status;
  summary.lines_run = host.Failures().LinesRun();
  summary.commands_run = host.Failures().CommandsRun();
  summary.failures = host.Failures().Failures();
  summary.warnings = host.Messages().Warnings();
  const std::string error = app::WriteFileWhole(options.summary_json, app::SummaryJson(summary));
  if (error.empty()) return status;
  host.PrintMessage("tarnex-run: " + error, LineKind::Failure);
  return kNotRun;
}

}  // namespace

int main(int argc, char** argv) {
  app::InitTranslations();
  app::MessageOutput errors(stderr);
  app::LinePrefix message_prefix{app::IsJournalStream(STDERR_FILENO), false};
  errors.SetPrefix(message_prefix);
  const app::ParsedCommandLine parsed =
      app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Usage(errors, parsed.error);
  const RunnerOptions& options = parsed.options;
  message_prefix.timestamps = options.timestamps;
  errors.SetPrefix(message_prefix);
  if (options.help) {
    std::fputs(app::UsageText().c_str(), stdout);
    return kSucceeded;
  }
  if (options.version) {
    std::puts("tarnex-run " TARNEX_VERSION);
    return kSucceeded;
  }
  if (!options.registry.empty()) platform::RegistryStore::SetDefaultPath(options.registry);
  if (options.list_settings || !options.set_options.empty()) {
    return SettingsCommand(options, errors);
  }
  return RunScriptCommand(options, message_prefix);
}
