// tarnex-run: runs a script whole without a display, for cron and CI.
//   tarnex-run [--registry FILE] SCRIPT
// Exit status: 0 every command that reports a result succeeded, 1 at least one failed,
// 2 an error escaped a command, the script could not be read, or the command line was wrong.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/console_host.h"
#include "app/script_loader.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/temp_file_registry.h"
#include "script/engine.h"
#include "settings/live_settings.h"
#include "settings/options_store.h"

namespace {

constexpr const char* kUsage =
    "usage: tarnex-run [--registry FILE] [--set NAME=VALUE]... SCRIPT\n"
    "Runs an FTP command script (.fcs plain, .fcx enciphered) and writes its execution log\n"
    "to standard output.\n"
    "  --registry FILE  settings store to use (default: $TARNEX_REGISTRY, else\n"
    "                   $XDG_CONFIG_HOME/tarnex/registry.db)\n"
    "  --set NAME=VALUE script variable for this run only (read before a stored one of the\n"
    "                   same name; never stored); may be repeated\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "Exit status: 0 all commands succeeded, 1 a command failed, 2 the script could not be run\n"
    "to its end (unreadable script, unexpected error, bad command line).\n";

struct Options {
  std::string registry;
  std::vector<std::string> variables;  // NAME=VALUE, in the terminal's encoding
  std::string script;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "tarnex-run: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnex;
  Options options;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("tarnex-run 2.51b");
      return 0;
    }
    if (arg == "--registry") {
      if (++i == args.size()) return Usage("--registry needs a file name");
      options.registry = args[i];
    } else if (arg == "--set") {
      if (++i == args.size() || args[i].find('=') == std::string::npos) {
        return Usage("--set needs NAME=VALUE");
      }
      options.variables.push_back(args[i]);
    } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      return Usage(("unknown option " + arg).c_str());
    } else if (options.script.empty()) {
      options.script = arg;
    } else {
      return Usage("only one script can be run");
    }
  }
  if (options.script.empty()) return Usage("no script given");
  if (!options.registry.empty()) platform::RegistryStore::SetDefaultPath(options.registry);

  settings::LiveSettings settings;
  app::ConsoleHost host(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
  script::ScriptEngine engine(host, settings, platform::RegistryStore::Default());
  // The stored options first, as the desktop program loads them before any script; a store
  // that cannot be read stops here with its error in the log.
  try {
    settings::Load(settings, platform::RegistryStore::Default());
  } catch (...) {
    engine.LogUnexpectedError(std::current_exception());
    return 2;
  }
  engine.FTP.set_debugmode(settings.cb_debugmode);
  // Values given here are this run's own: two jobs sharing one store never see each other's,
  // and a password passed this way never reaches the disk.
  for (const std::string& variable : options.variables) {
    const size_t equals = variable.find('=');
    engine.SetRunVariable(platform::Utf8ToCp932(variable.substr(0, equals)),
                          platform::Utf8ToCp932(variable.substr(equals + 1)));
  }
  // A signal that ends the run takes the half-written download with it.
  platform::RemoveTempFilesOnSignals();

  std::vector<std::string> lines;
  try {
    lines = app::LoadScriptLines(options.script);
  } catch (const std::exception& error) {
    const auto* own = dynamic_cast<const Exception*>(&error);
    std::string message = own ? platform::Cp932ToUtf8(own->Message()) : error.what();
    std::fprintf(stderr, "tarnex-run: %s\n", message.c_str());
    return 2;
  }

  // The document name in the start and end lines is the path as given.
  engine.FScriptName = platform::Utf8ToCp932(options.script);
  try {
    engine.Run(lines);
  } catch (...) {
    engine.LogUnexpectedError(std::current_exception());
    return 2;
  }
  return engine.FailedCommands() > 0 ? 1 : 0;
}
