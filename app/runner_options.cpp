#include "app/runner_options.h"

#include <getopt.h>

#include <string_view>

#include "app/translation.h"
#include "settings/options_store.h"
#include "text/fingerprint.h"
#include "text/string_helpers.h"

namespace tarnex::app {
namespace {

// The values getopt_long returns for options without a short form.
enum LongOnly : int {
  kRegistry = 256,
  kSet,
  kTimeout,
  kDebug,
  kTrace,
  kEncoding,
  kStrict,
  kExitStatus,
  kLog,
  kNoProgress,
  kListSettings,
  kSetOption,
  kPassive,
  kActive,
  kRemoteEncoding,
  kTls,
  kTlsCa,
  kTlsFingerprint,
  kStepDelay,
  kNetrcFile,
  kSetFromFile,
  kSetFromEnv,
  kTimestamps,
  kQuiet,
  kSummaryJson,
  kParallel,
  kProtocol,
  kSshKey,
  kSshKnownHosts,
  kSshHostKey,
  kSshAcceptNew,
  kSshConfig,
};

constexpr char kShortOptions[] = ":hV";  // ':' first: a missing value is told apart

constexpr option kLongOptions[] = {
    {"registry", required_argument, nullptr, kRegistry},
    {"set", required_argument, nullptr, kSet},
    {"timeout", required_argument, nullptr, kTimeout},
    {"debug", no_argument, nullptr, kDebug},
    {"trace", no_argument, nullptr, kTrace},
    {"encoding", required_argument, nullptr, kEncoding},
    {"strict", no_argument, nullptr, kStrict},
    {"exit-status", required_argument, nullptr, kExitStatus},
    {"log", required_argument, nullptr, kLog},
    {"no-progress", no_argument, nullptr, kNoProgress},
    {"list-settings", no_argument, nullptr, kListSettings},
    {"set-option", required_argument, nullptr, kSetOption},
    {"passive", no_argument, nullptr, kPassive},
    {"active", no_argument, nullptr, kActive},
    {"remote-encoding", required_argument, nullptr, kRemoteEncoding},
    {"tls", required_argument, nullptr, kTls},
    {"tls-ca", required_argument, nullptr, kTlsCa},
    {"tls-fingerprint", required_argument, nullptr, kTlsFingerprint},
    {"step-delay", required_argument, nullptr, kStepDelay},
    {"netrc-file", required_argument, nullptr, kNetrcFile},
    {"set-from-file", required_argument, nullptr, kSetFromFile},
    {"set-from-env", required_argument, nullptr, kSetFromEnv},
    {"timestamps", no_argument, nullptr, kTimestamps},
    {"quiet", no_argument, nullptr, kQuiet},
    {"summary-json", required_argument, nullptr, kSummaryJson},
    {"parallel", required_argument, nullptr, kParallel},
    {"protocol", required_argument, nullptr, kProtocol},
    {"ssh-key", required_argument, nullptr, kSshKey},
    {"ssh-known-hosts", required_argument, nullptr, kSshKnownHosts},
    {"ssh-hostkey", required_argument, nullptr, kSshHostKey},
    {"ssh-accept-new", no_argument, nullptr, kSshAcceptNew},
    {"ssh-config", required_argument, nullptr, kSshConfig},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

std::string OptionName(int value) {
  for (const option& o : kLongOptions) {
    if (o.name != nullptr && o.val == value) return std::string("--") + o.name;
  }
  return std::string("-") + static_cast<char>(value);
}

// Decimal digits alone, from `min` to `max`.
std::optional<int> NumberFromText(std::string_view text, int min, int max) {
  const std::optional<int> number = WholeNumber<int>(text);
  if (!number || *number < min || *number > max) return std::nullopt;
  return number;
}

std::optional<ScriptEncodingChoice> EncodingFromText(std::string_view text) {
  if (SameText(text, "auto")) return ScriptEncodingChoice::Auto;
  if (SameText(text, "cp932")) return ScriptEncodingChoice::Cp932;
  if (SameText(text, "utf-8")) return ScriptEncodingChoice::Utf8;
  return std::nullopt;
}

std::string NeedsFileName(int option) {
  return Format(Tr("%s needs a file name"), OptionName(option).c_str());
}

// --set NAME=VALUE, --set-from-file NAME=FILE, --set-from-env NAME=VARIABLE.
std::string TakeVariable(const std::string& arg, VariableSource source, RunnerOptions& o) {
  const size_t equals = arg.find('=');
  if (equals != std::string::npos) {
    o.variables.push_back({arg.substr(0, equals), arg.substr(equals + 1), source});
    return {};
  }
  switch (source) {
    case VariableSource::Value:
      return Tr("--set needs NAME=VALUE");
    case VariableSource::File:
      return Tr("--set-from-file needs NAME=FILE");
    case VariableSource::Environment:
      break;
  }
  return Tr("--set-from-env needs NAME=VARIABLE");
}

// Takes one option's value into `o`; the usage error when the value is wrong.
std::string TakeOption(int value, const std::string& arg, RunnerOptions& o) {
  switch (value) {
    case 'h':
      o.help = true;
      return {};
    case 'V':
      o.version = true;
      return {};
    case kRegistry:
      o.registry = arg;
      return {};
    case kSet:
      return TakeVariable(arg, VariableSource::Value, o);
    case kSetFromFile:
      return TakeVariable(arg, VariableSource::File, o);
    case kSetFromEnv:
      return TakeVariable(arg, VariableSource::Environment, o);
    case kTimeout:
      o.timeout = NumberFromText(arg, kMinRunTimeout, kMaxRunTimeout);
      if (o.timeout) return {};
      return Format(Tr("--timeout needs whole seconds from %d to %d, not '%s'"), kMinRunTimeout,
                    kMaxRunTimeout, arg.c_str());
    case kStepDelay:
      if (auto milliseconds = NumberFromText(arg, 0, kMaxStepDelay)) {
        o.step_delay = *milliseconds;
        return {};
      }
      return Format(Tr("--step-delay needs milliseconds from 0 to %d, not '%s'"), kMaxStepDelay,
                    arg.c_str());
    case kParallel:
      o.parallel = NumberFromText(arg, settings::kParallelRange.min, settings::kParallelRange.max);
      if (o.parallel) return {};
      return Format(Tr("--parallel needs a number of connections from %d to %d, not '%s'"),
                    settings::kParallelRange.min, settings::kParallelRange.max, arg.c_str());
    case kDebug:
      o.debug = true;
      return {};
    case kTrace:
      o.trace = true;
      return {};
    case kEncoding:
      if (auto encoding = EncodingFromText(arg)) {
        o.encoding = *encoding;
        return {};
      }
      return Format(Tr("--encoding takes auto, cp932 or utf-8, not '%s'"), arg.c_str());
    case kStrict:
      o.strict = true;
      return {};
    case kExitStatus:
      if (SameText(arg, "any") || SameText(arg, "last")) {
        o.exit_status = SameText(arg, "any") ? ExitStatusRule::Any : ExitStatusRule::Last;
        return {};
      }
      return Format(Tr("--exit-status takes any or last, not '%s'"), arg.c_str());
    case kLog:
      if (arg.empty()) return NeedsFileName(value);
      o.log_file = arg;
      return {};
    case kNoProgress:
      o.progress = false;
      return {};
    case kListSettings:
      o.list_settings = true;
      return {};
    case kSetOption: {
      ParsedAssignment parsed = ParseOptionAssignment(arg);
      if (!parsed.assignment) return "--set-option " + parsed.error;
      o.set_options.push_back(std::move(*parsed.assignment));
      return {};
    }
    case kPassive:
    case kActive:
      o.passive = value == kPassive;  // the last one given wins
      return {};
    case kRemoteEncoding:
      if (auto encoding = settings::RemoteEncodingFromText(arg)) {
        o.remote_encoding = *encoding;
        return {};
      }
      return Format(Tr("--remote-encoding takes cp932, utf-8 or auto, not '%s'"), arg.c_str());
    case kTls:
      if (auto mode = settings::TlsModeFromText(arg)) {
        o.tls = *mode;
        return {};
      }
      return Format(Tr("--tls takes off, explicit or implicit, not '%s'"), arg.c_str());
    case kTlsCa:
      if (arg.empty()) return NeedsFileName(value);
      o.tls_ca_file = arg;
      return {};
    case kTlsFingerprint:
      if (NormalizeFingerprint(arg).empty()) {
        return Format(Tr("--tls-fingerprint takes a SHA-256 fingerprint (64 hex digits, colons "
                         "allowed), not '%s'"),
                      arg.c_str());
      }
      o.tls_fingerprint = arg;
      return {};
    case kProtocol:
      if (auto protocol = settings::RemoteProtocolFromText(arg)) {
        o.protocol = *protocol;
        return {};
      }
      return Format(Tr("--protocol takes ftp or sftp, not '%s'"), arg.c_str());
    case kSshKey:
    case kSshKnownHosts:
    case kSshConfig:
      if (arg.empty()) return NeedsFileName(value);
      (value == kSshKey ? o.ssh_key_file
       : value == kSshKnownHosts ? o.ssh_known_hosts_file
                                 : o.ssh_config_file) = arg;
      return {};
    case kSshHostKey:
      if (!IsSshHostKeyFingerprint(arg)) {
        return Format(Tr("--ssh-hostkey takes a host key fingerprint as ssh shows it "
                         "(SHA256: and 43 characters), not '%s'"),
                      arg.c_str());
      }
      o.ssh_host_key = arg;
      return {};
    case kSshAcceptNew:
      o.ssh_accept_new = true;
      return {};
    case kNetrcFile:
      if (arg.empty()) return NeedsFileName(value);
      o.netrc_file = arg;
      return {};
    case kTimestamps:
      o.timestamps = true;
      return {};
    case kQuiet:
      o.quiet = true;
      return {};
    case kSummaryJson:
      if (arg.empty()) return NeedsFileName(value);
      o.summary_json = arg;
      return {};
    default:
      return Format(Tr("unknown option %s"), OptionName(value).c_str());
  }
}

// The error getopt_long reported by returning '?' or ':'.
std::string GetoptError(int result, const std::vector<char*>& argv) {
  const std::string word = optind > 0 && optind <= static_cast<int>(argv.size()) - 1
                               ? std::string(argv[optind - 1])
                               : std::string();
  if (result == ':') return Format(Tr("option %s needs a value"), OptionName(optopt).c_str());
  if (optopt >= kRegistry || optopt == 'h' || optopt == 'V') {
    return Format(Tr("option %s takes no value"), OptionName(optopt).c_str());
  }
  const std::string option = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : word;
  return Format(Tr("unknown option %s"), option.c_str());
}

// What the options say about the script, once they are all read.
std::string CheckScript(const RunnerOptions& o, const std::vector<std::string>& operands) {
  if (o.help || o.version) return {};
  const bool settings_only = o.list_settings || !o.set_options.empty();
  if (settings_only) {
    return operands.empty() ? "" : Tr("--list-settings and --set-option run no script");
  }
  if (operands.empty()) return Tr("no script given");
  if (operands.size() > 1) return Tr("only one script can be run");
  return {};
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  // getopt_long wants a writable argv; the copies live as long as the parse.
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.emplace_back("tarnex-run");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  optind = 0;  // a fresh scan, also when the parser has run before in this process
  opterr = 0;  // the messages are ours
  const int argc = static_cast<int>(storage.size());
  for (;;) {
    const int result = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (result == -1) break;
    if (result == '?' || result == ':') {
      parsed.error = GetoptError(result, argv);
      return parsed;
    }
    parsed.error = TakeOption(result, optarg != nullptr ? optarg : "", parsed.options);
    if (!parsed.error.empty()) return parsed;
  }
  // getopt_long has moved every operand behind the options.
  const std::vector<std::string> operands(storage.begin() + optind, storage.end());
  parsed.error = CheckScript(parsed.options, operands);
  if (parsed.error.empty() && !operands.empty()) parsed.options.script = operands.front();
  return parsed;
}

namespace {

// One option of the usage text, and what it does: lines joined by "\n", which the text
// indents under the first.
struct UsageEntry {
  const char* option;
  const char* text;
};

constexpr UsageEntry kUsageEntries[] = {
    {"--registry FILE", N_("settings store to use (default: $TARNEX_REGISTRY, else\n"
                           "$XDG_CONFIG_HOME/tarnex/registry.db)")},
    {"--set NAME=VALUE", N_("script variable for this run only (read before a stored\n"
                            "one of the same name; never stored); may be repeated")},
    {"--set-from-file NAME=FILE", N_("the same, from the first line of FILE")},
    {"--set-from-env NAME=VARIABLE", N_("the same, from an environment variable")},
    {"--netrc-file FILE", N_("user names and passwords for Login without a password\n"
                             "(default: ~/.netrc)")},
    {"--timeout SECONDS", N_("FTP time-out for this run (1 to 86399)")},
    {"--step-delay MS", N_("pause after each script line, 0 to 10000 ms (default 0;\n"
                           "the stored StepDelay is the desktop program's)")},
    {"--parallel N", N_("connections that move the files of mget, mput and mirror\n"
                        "at once, 1 to 16 (instead of the stored Parallel)")},
    {"--debug", N_("the FTP client's debug trace lines in the log")},
    {"--trace", N_("the FTP dialogue on standard error (PASS shown as ****)")},
    {"--encoding auto|cp932|utf-8", N_("the script file's encoding (auto: UTF-8 when the file has\n"
                                       "a UTF-8 byte order mark or is valid UTF-8 with non-ASCII\n"
                                       "characters, else CP932)")},
    {"--strict", N_("end with status 2 at an unknown command, missing label or bad condition")},
    {"--exit-status any|last", N_("any: 1 when any command failed; last: the result flag at\n"
                                  "the end of the run")},
    {"--log FILE", N_("also append the log to FILE (UTF-8)")},
    {"--no-progress", N_("no progress line on a terminal during transfers")},
    {"--timestamps", N_("the local time (ISO 8601) before each line")},
    {"--quiet", N_("only failed commands, warnings and the end line")},
    {"--summary-json FILE", N_("write a summary of the run to FILE (JSON)")},
    {"--passive, --active", N_("this run's data connections: passive or active")},
    {"--remote-encoding cp932|utf-8|auto", N_("how file names reach the server in this run")},
    {"--tls off|explicit|implicit", N_("FTPS for this run (implicit: port 990 unless Open says)")},
    {"--tls-ca FILE", N_("also trust the authorities in FILE (PEM)")},
    {"--tls-fingerprint HEX", N_("accept exactly the certificate with this SHA-256")},
    {"--protocol ftp|sftp", N_("how Open reaches a host given without ftp://, ftps:// or\n"
                               "sftp:// in this run")},
    {"--ssh-key FILE", N_("SFTP: log in with the private key in FILE")},
    {"--ssh-known-hosts FILE", N_("SFTP: trust the host keys in FILE instead of\n"
                                  "~/.ssh/known_hosts")},
    {"--ssh-hostkey SHA256:...", N_("SFTP: trust exactly the host key with this fingerprint")},
    {"--ssh-accept-new", N_("SFTP: trust and remember the key of a host never seen\n"
                            "(a changed key still fails)")},
    {"--ssh-config FILE", N_("SFTP: ssh's configuration from FILE instead of ~/.ssh/config")},
    {"--list-settings", N_("print the stored options and variable names, then exit")},
    {"--set-option NAME=VALUE", N_("store one option (as --list-settings names it), then exit;\n"
                                   "may be repeated")},
    {"-h, --help", N_("this text")},
    {"-V, --version", N_("the program's version")},
};

constexpr size_t kUsageTextColumn = 27;

// "  OPTION" and the text from the text column on (on a line of its own after a long option),
// each further line of the text indented to the column.
std::string UsageLines(const UsageEntry& entry) {
  std::string lines = std::string("  ") + entry.option;
  if (lines.size() + 2 > kUsageTextColumn) lines += "\n";
  lines.resize(lines.size() < kUsageTextColumn ? kUsageTextColumn : lines.size() + kUsageTextColumn,
               ' ');
  for (const char* c = Tr(entry.text); *c != '\0'; ++c) {
    lines += *c;
    if (*c == '\n') lines.append(kUsageTextColumn, ' ');
  }
  return lines + "\n";
}

}  // namespace

std::string UsageText() {
  std::string text =
      "usage: tarnex-run [OPTION]... SCRIPT\n"
      "       tarnex-run [--registry FILE] --list-settings | --set-option NAME=VALUE\n";
  text +=
      Tr("Runs an FTP command script (.fcs plain, .fcx enciphered) and writes its execution log\n"
         "to standard output (UTF-8).\n");
  for (const UsageEntry& entry : kUsageEntries) text += UsageLines(entry);
  text +=
      Tr("Exit status: 0 all commands succeeded, 1 a command failed, 2 the script could not be\n"
         "run to its end (unreadable script, unexpected error, --strict, bad command line);\n"
         "a script line 'exit N' ends the run with status N.\n");
  return text;
}

}  // namespace tarnex::app
