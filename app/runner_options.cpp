#include "app/runner_options.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

#include "socket/tls.h"
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
  int number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  if (number < min || number > max) return std::nullopt;
  return number;
}

std::optional<ScriptEncodingChoice> EncodingFromText(std::string_view text) {
  if (SameText(text, "auto")) return ScriptEncodingChoice::Auto;
  if (SameText(text, "cp932")) return ScriptEncodingChoice::Cp932;
  if (SameText(text, "utf-8")) return ScriptEncodingChoice::Utf8;
  return std::nullopt;
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
    case kSet: {
      const size_t equals = arg.find('=');
      if (equals == std::string::npos) return "--set needs NAME=VALUE";
      o.variables.push_back({arg.substr(0, equals), arg.substr(equals + 1)});
      return {};
    }
    case kTimeout:
      o.timeout = NumberFromText(arg, kMinRunTimeout, kMaxRunTimeout);
      if (o.timeout) return {};
      return "--timeout needs whole seconds from " + std::to_string(kMinRunTimeout) + " to " +
             std::to_string(kMaxRunTimeout) + ", not '" + arg + "'";
    case kStepDelay:
      if (auto milliseconds = NumberFromText(arg, 0, kMaxStepDelay)) {
        o.step_delay = *milliseconds;
        return {};
      }
      return "--step-delay needs milliseconds from 0 to " + std::to_string(kMaxStepDelay) +
             ", not '" + arg + "'";
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
      return "--encoding takes auto, cp932 or utf-8, not '" + arg + "'";
    case kStrict:
      o.strict = true;
      return {};
    case kExitStatus:
      if (SameText(arg, "any") || SameText(arg, "last")) {
        o.exit_status = SameText(arg, "any") ? ExitStatusRule::Any : ExitStatusRule::Last;
        return {};
      }
      return "--exit-status takes any or last, not '" + arg + "'";
    case kLog:
      if (arg.empty()) return "--log needs a file name";
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
      return "--remote-encoding takes cp932, utf-8 or auto, not '" + arg + "'";
    case kTls:
      if (auto mode = settings::TlsModeFromText(arg)) {
        o.tls = *mode;
        return {};
      }
      return "--tls takes off, explicit or implicit, not '" + arg + "'";
    case kTlsCa:
      if (arg.empty()) return "--tls-ca needs a file name";
      o.tls_ca_file = arg;
      return {};
    case kTlsFingerprint:
      if (net::NormalizeFingerprint(arg).empty()) {
        return "--tls-fingerprint takes a SHA-256 fingerprint (64 hex digits, colons allowed), "
               "not '" + arg + "'";
      }
      o.tls_fingerprint = arg;
      return {};
    default:
      return "unknown option " + OptionName(value);
  }
}

// The error getopt_long reported by returning '?' or ':'.
std::string GetoptError(int result, const std::vector<char*>& argv) {
  const std::string word = optind > 0 && optind <= static_cast<int>(argv.size()) - 1
                               ? std::string(argv[optind - 1])
                               : std::string();
  if (result == ':') return "option " + OptionName(optopt) + " needs a value";
  if (optopt >= kRegistry || optopt == 'h' || optopt == 'V') {
    return "option " + OptionName(optopt) + " takes no value";
  }
  if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
  return "unknown option " + word;
}

// What the options say about the script, once they are all read.
std::string CheckScript(const RunnerOptions& o, const std::vector<std::string>& operands) {
  if (o.help || o.version) return {};
  const bool settings_only = o.list_settings || !o.set_options.empty();
  if (settings_only) {
    return operands.empty() ? "" : "--list-settings and --set-option run no script";
  }
  if (operands.empty()) return "no script given";
  if (operands.size() > 1) return "only one script can be run";
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

const char* UsageText() {
  return "usage: tarnex-run [OPTION]... SCRIPT\n"
         "       tarnex-run [--registry FILE] --list-settings | --set-option NAME=VALUE\n"
         "Runs an FTP command script (.fcs plain, .fcx enciphered) and writes its execution log\n"
         "to standard output (UTF-8).\n"
         "  --registry FILE          settings store to use (default: $TARNEX_REGISTRY, else\n"
         "                           $XDG_CONFIG_HOME/tarnex/registry.db)\n"
         "  --set NAME=VALUE         script variable for this run only (read before a stored\n"
         "                           one of the same name; never stored); may be repeated\n"
         "  --timeout SECONDS        FTP time-out for this run (1 to 86399)\n"
         "  --step-delay MS          pause after each script line, 0 to 10000 ms (default 0;\n"
         "                           the stored StepDelay is the desktop program's)\n"
         "  --debug                  the FTP client's debug trace lines in the log\n"
         "  --trace                  the FTP dialogue on standard error (PASS shown as ****)\n"
         "  --encoding auto|cp932|utf-8\n"
         "                           the script file's encoding (auto: UTF-8 when the file has\n"
         "                           a UTF-8 byte order mark or is valid UTF-8 with non-ASCII\n"
         "                           characters, else CP932)\n"
         "  --strict                 end with status 2 at an unknown command or missing label\n"
         "  --exit-status any|last   any: 1 when any command failed; last: the result flag at\n"
         "                           the end of the run\n"
         "  --log FILE               also append the log to FILE (UTF-8)\n"
         "  --no-progress            no progress line on a terminal during transfers\n"
         "  --passive, --active      this run's data connections: passive or active\n"
         "  --remote-encoding cp932|utf-8|auto\n"
         "                           how file names reach the server in this run\n"
         "  --tls off|explicit|implicit\n"
         "                           FTPS for this run (implicit: port 990 unless Open says)\n"
         "  --tls-ca FILE            also trust the authorities in FILE (PEM)\n"
         "  --tls-fingerprint HEX    accept exactly the certificate with this SHA-256\n"
         "  --list-settings          print the stored options and variable names, then exit\n"
         "  --set-option NAME=VALUE  store one option (as --list-settings names it), then exit;\n"
         "                           may be repeated\n"
         "  -h, --help               this text\n"
         "  -V, --version            the program's version\n"
         "Exit status: 0 all commands succeeded, 1 a command failed, 2 the script could not be\n"
         "run to its end (unreadable script, unexpected error, --strict, bad command line);\n"
         "a script line 'exit N' ends the run with status N.\n";
}

}  // namespace tarnex::app
