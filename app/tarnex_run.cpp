// tarnex-run: runs a script whole without a display, for cron and CI.
//   tarnex-run [OPTION]... SCRIPT           (tarnex-run --help lists the options)
// Exit status: 0 every command that reports a result succeeded, 1 at least one failed,
// 2 an error escaped a command, the script could not be read, --strict found a slip, or the
// command line was wrong; an `exit N` line of the script gives N.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console_host.h"
#include "app/runner_options.h"
#include "app/script_loader.h"
#include "app/stored_options.h"
#include "ftpproto/proto_ftp.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/temp_file_registry.h"
#include "platform/text_encoding.h"
#include "script/engine.h"
#include "settings/live_settings.h"
#include "settings/options_store.h"
#include "text/printable.h"

namespace {

using namespace tarnex;
using app::RunnerOptions;
using platform::TextEncoding;

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kNotRun = 2;

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "tarnex-run: %s\nusage: tarnex-run [OPTION]... SCRIPT\n"
               "Try 'tarnex-run --help' for more information.\n",
               problem.c_str());
  return kNotRun;
}

// An error's text for the terminal; the core's own are CP932.
std::string ErrorText(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return own ? platform::Cp932ToUtf8(own->Message()) : error.what();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tarnex-run: %s\n", message.c_str());
  return kNotRun;
}

// --set-option and --list-settings: the store alone, no script.
int SettingsCommand(const RunnerOptions& options) {
  const auto store = platform::RegistryStore::Default();
  try {
    for (const app::OptionAssignment& assignment : options.set_options) {
      app::StoreOption(assignment, store);
    }
    if (options.list_settings) {
      settings::LiveSettings settings;
      settings::Load(settings, store);
      const std::string listing = app::SettingsListing(settings, app::StoredVariableNames(store));
      std::fputs(listing.c_str(), stdout);
    }
  } catch (const std::exception& error) {
    return Fail(ErrorText(error));
  }
  return kSucceeded;
}

// A --set value in the run's encoding; nothing when a CP932 run cannot hold it (a '?' in its
// place would reach a file name or a password unnoticed).
std::optional<std::string> InRunEncoding(const std::string& utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8) return utf8;
  return platform::TryUtf8ToCp932(utf8);
}

// Values given here are this run's own: two jobs sharing one store never see each other's,
// and a password passed this way never reaches the disk.
bool SetRunVariables(script::ScriptEngine& engine, const RunnerOptions& options,
                     TextEncoding encoding) {
  for (const app::RunVariable& variable : options.variables) {
    const std::optional<std::string> name = InRunEncoding(variable.name, encoding);
    const std::optional<std::string> value = InRunEncoding(variable.value, encoding);
    if (!name || !value) {
      Fail("--set " + variable.name +
           ": a character that CP932 cannot hold, and the script runs as CP932 (see --encoding)");
      return false;
    }
    engine.SetRunVariable(*name, *value);
  }
  return true;
}

// The command-line flags over the stored settings, for this run only.
void ApplyRunFlags(const RunnerOptions& options, settings::LiveSettings& settings) {
  if (options.timeout) settings.Ed_timeout = *options.timeout;
  // No pause between lines unless asked for: a batch job has nobody to watch it.
  settings.StepDelay = options.step_delay;
  if (options.debug) settings.cb_debugmode = true;
  if (options.passive) settings.connection.Passive = *options.passive;
  if (options.remote_encoding) settings.connection.remote_encoding = *options.remote_encoding;
  if (options.tls) settings.connection.tls_mode = *options.tls;
  if (options.tls_ca_file) settings.connection.tls_ca_file = *options.tls_ca_file;
  if (options.tls_fingerprint) settings.connection.tls_fingerprint = *options.tls_fingerprint;
}

// Unknown command words and missing labels: a warning each; with --strict the first ends the
// run. `stopped` tells afterwards.
void AttachProblemReports(script::ScriptEngine& engine, app::ConsoleHost& host, bool strict,
                          bool& stopped) {
  using Problem = script::ScriptEngine::ScriptProblem;
  engine.OnScriptProblem = [&host, strict, &stopped](Problem problem, int32_t line,
                                                     const std::string& word) {
    std::string text =
        "tarnex-run: line " + std::to_string(line + 1) + ": " +
        (problem == Problem::UnknownCommand ? "unknown command '" : "goto to a missing label '") +
        platform::CurrentTextToUtf8(word) + "'";
    if (strict) text += " (--strict: the run ends here)";
    host.PrintMessage(text);
    stopped = stopped || strict;
    return strict;
  };
}

// The dialogue with the server on standard error, converted as the log is; a control
// character in a reply (an ESC that would recolour the terminal) shows as "\x1b".
void AttachTrace(script::ScriptEngine& engine, app::ConsoleHost& host) {
  engine.FTP.Protocol().OnDialogue = [&host](bool sent, const std::string& line) {
    host.PrintMessage((sent ? "> " : "< ") +
                      platform::CurrentTextToUtf8(EscapeControlCharacters(line)));
  };
}

// Each progress event draws the line after the engine's own handler has run; a finished
// transfer takes it away.
void AttachProgress(script::ScriptEngine& engine, app::ConsoleHost& host) {
  const auto follow = [&engine, &host](TLowFTP::TProgressEvent& event,
                                       app::TransferDirection direction) {
    event = [&engine, &host, direction, inner = event](TLowFTP& ftp, int64_t bytes, int32_t ms) {
      if (inner) inner(ftp, bytes, ms);
      // During a transfer: the size the server announced, or the local file's; a listing has
      // none (what is there is left from the transfer before).
      const TProtoFTP& protocol = engine.FTP.Protocol();
      const int64_t total = protocol.ListInProgress() ? 0 : protocol.BytesTotal;
      host.Progress().Update(direction, bytes, total, ms);
    };
  };
  const auto finish = [&host](TLowFTP::TProgressEvent& event) {
    event = [&host, inner = event](TLowFTP& ftp, int64_t bytes, int32_t ms) {
      host.Progress().Clear();
      if (inner) inner(ftp, bytes, ms);
    };
  };
  follow(engine.FTP.Onretrieveing, app::TransferDirection::Receiving);
  follow(engine.FTP.Ontransfer, app::TransferDirection::Sending);
  finish(engine.FTP.Onretrievefinished);
  finish(engine.FTP.Ontransferfinished);
}

// What the run shows on standard error besides the log: slips, the dialogue, the progress.
void AttachTerminalOutput(script::ScriptEngine& engine, app::ConsoleHost& host,
                          const RunnerOptions& options, bool& strict_stop) {
  AttachProblemReports(engine, host, options.strict, strict_stop);
  if (options.trace) AttachTrace(engine, host);
  if (options.progress && ::isatty(STDERR_FILENO)) host.EnableProgress();
  AttachProgress(engine, host);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The run itself, from the stored settings to the exit status.
int RunScriptCommand(const RunnerOptions& options) {
  app::ScriptLines script;
  try {
    script = app::LoadScriptLines(options.script, options.encoding);
  } catch (const std::exception& error) {
    return Fail(ErrorText(error));
  }
  std::unique_ptr<std::FILE, FileCloser> log_copy;
  if (!options.log_file.empty()) {
    log_copy.reset(std::fopen(options.log_file.c_str(), "ae"));
    if (!log_copy) return Fail("cannot open the log file " + options.log_file);
  }

  settings::LiveSettings settings;
  app::ConsoleHost host(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
  if (log_copy) host.CopyLogTo(log_copy.get());
  script::ScriptEngine engine(host, settings, platform::RegistryStore::Default());
  // The stored options first, as the desktop program loads them before any script; a store
  // that cannot be read stops here with its error in the log.
  try {
    settings::Load(settings, platform::RegistryStore::Default());
  } catch (...) {
    engine.LogUnexpectedError(std::current_exception());
    return kNotRun;
  }
  ApplyRunFlags(options, settings);
  engine.FTP.set_debugmode(settings.cb_debugmode);
  engine.FTP.SetPassive(settings.connection.Passive);
  engine.FTP.SetRemoteEncoding(settings.connection.remote_encoding);
  engine.FTP.SetTlsMode(settings.connection.tls_mode);
  engine.FTP.SetTlsTrust(settings.connection.tls_ca_file, settings.connection.tls_fingerprint);
  // The stored log file is written at the end, as the desktop program writes it when it
  // closes; --log takes its place.
  const bool save_log = !log_copy && settings.ch_logsave && !settings.Ed_logsave.empty();
  if (save_log) host.KeepLines();
  bool strict_stop = false;
  AttachTerminalOutput(engine, host, options, strict_stop);
  // A signal that ends the run takes the half-written download with it.
  platform::RemoveTempFilesOnSignals();

  bool escaped = false;
  {
    // Every string of the run is in the script's encoding, the 999 line of an error included.
    platform::ScopedTextEncoding run_encoding(script.encoding);
    if (!SetRunVariables(engine, options, script.encoding)) return kNotRun;
    // The document name in the start and end lines is the path as given.
    engine.FScriptName = script.encoding == TextEncoding::Utf8
                             ? options.script
                             : platform::Utf8ToCp932(options.script);
    try {
      engine.Run(script.lines);
    } catch (...) {
      engine.LogUnexpectedError(std::current_exception());
      escaped = true;
    }
    host.Progress().Clear();
  }
  if (save_log) {
    // The name as stored (CP932), relative to the current directory at the end of the run.
    try {
      platform::WriteLines(settings.Ed_logsave, host.Lines());
    } catch (...) {
      engine.LogUnexpectedError(std::current_exception());
      escaped = true;
    }
  }
  if (escaped || strict_stop) return kNotRun;
  if (const std::optional<int> asked = engine.ExitStatus()) return *asked;  // an exit line
  if (options.exit_status == app::ExitStatusRule::Last) {
    return engine.LastResultOk() ? kSucceeded : kFailed;
  }
  return engine.FailedCommands() > 0 ? kFailed : kSucceeded;
}

}  // namespace

int main(int argc, char** argv) {
  const app::ParsedCommandLine parsed =
      app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Usage(parsed.error);
  const RunnerOptions& options = parsed.options;
  if (options.help) {
    std::fputs(app::UsageText(), stdout);
    return kSucceeded;
  }
  if (options.version) {
    std::puts("tarnex-run 2.51b");
    return kSucceeded;
  }
  if (!options.registry.empty()) platform::RegistryStore::SetDefaultPath(options.registry);
  if (options.list_settings || !options.set_options.empty()) return SettingsCommand(options);
  return RunScriptCommand(options);
}
