// The headless runner's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/script_loader.h"
#include "app/stored_options.h"
#include "settings/live_settings.h"

namespace tarnex::app {

// any: 0 when every command succeeded; last: the result flag at the end of the run.
enum class ExitStatusRule { Any, Last };

// The time-out a run may be given on the command line, in seconds (a day less one second).
inline constexpr int kMinRunTimeout = 1;
inline constexpr int kMaxRunTimeout = 86'399;
// The pause after each script line a run may be given, in milliseconds.
inline constexpr int kMaxStepDelay = 10'000;

// Where a run's variable takes its value from: the command line itself (--set), the first
// line of a file (--set-from-file) or an environment variable (--set-from-env).
enum class VariableSource { Value, File, Environment };

struct RunVariable {
  std::string name;   // UTF-8, as given
  std::string value;  // the value, the file's name or the environment variable's name
  VariableSource source = VariableSource::Value;
  bool operator==(const RunVariable&) const = default;
};

struct RunnerOptions {
  std::string registry;
  std::vector<RunVariable> variables;
  std::optional<int> timeout;  // seconds
  int step_delay = 0;          // milliseconds; the stored StepDelay is the desktop program's
  std::optional<int> parallel;  // connections for mget, mput and mirror; else the stored one
  bool debug = false;
  bool trace = false;
  bool strict = false;
  bool progress = true;
  ScriptEncodingChoice encoding = ScriptEncodingChoice::Auto;
  ExitStatusRule exit_status = ExitStatusRule::Any;
  std::string log_file;                   // empty: none
  std::optional<std::string> netrc_file;  // else ~/.netrc, if there is one
  bool timestamps = false;
  bool quiet = false;
  std::string summary_json;  // empty: none
  std::optional<bool> passive;
  std::optional<RemoteEncoding> remote_encoding;
  std::optional<TlsMode> tls;
  std::optional<std::string> tls_ca_file;
  std::optional<std::string> tls_fingerprint;
  std::optional<RemoteProtocol> protocol;
  std::optional<std::string> ssh_key_file;
  std::optional<std::string> ssh_known_hosts_file;
  std::optional<std::string> ssh_host_key;
  bool ssh_accept_new = false;
  std::optional<std::string> ssh_config_file;
  bool list_settings = false;
  std::vector<OptionAssignment> set_options;
  bool help = false;
  bool version = false;
  std::string script;  // empty with help, version, --list-settings and --set-option
};

struct ParsedCommandLine {
  RunnerOptions options;
  std::string error;  // a usage error when not empty
};

// Parses the arguments after the program name: short and long options, "--opt=value" and
// "--opt value", "--" ending the options, options and the script in any order. Every value is
// checked here, so that a run never starts with a wrong one.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text of --help, in the user's language.
std::string UsageText();

}  // namespace tarnex::app
