// tarnex: the desktop program.
//   tarnex              an empty script ("newfile") in the main window
//   tarnex SCRIPT       SCRIPT in the main window
//   tarnex /autoPATH    runs the script at PATH unattended and ends (also: --auto PATH)
//   tarnex --help | --version
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/temp_file_registry.h"
#include "ui/main_window.h"
#include "ui/slot_guard.h"
#include "ui/tarnex_forms.h"
#include "ui/user_dialogs.h"

namespace {

constexpr int kUsageError = 2;

std::vector<std::string> Arguments(const QStringList& arguments) {
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments.at(i).toStdString());
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnex;
  using Kind = ui::StartRequest::Kind;
  // Help and the version need no display: they are answered before the toolkit starts.
  const ui::StartRequest early =
      ui::ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (early.kind == Kind::Help) {
    std::fputs(ui::DesktopUsageText(), stdout);
    return 0;
  }
  if (early.kind == Kind::Version) {
    std::puts("tarnex " TARNEX_VERSION);
    return 0;
  }
  ui::TarnexApplication app(argc, argv);
  // The toolkit has taken its own options (-platform, -style, ...) off the line by now.
  const ui::StartRequest request =
      ui::ParseStartArguments(Arguments(QCoreApplication::arguments()));
  if (request.kind == Kind::Usage) {
    std::fprintf(stderr, "tarnex: %s\nTry 'tarnex --help' for more information.\n",
                 request.problem.c_str());
    return kUsageError;
  }
  // Ended by a signal, the program leaves no half-written download behind.
  platform::RemoveTempFilesOnSignals();
  ui::QtUserDialogs dialogs;
  ui::TarnexForms forms(platform::RegistryStore::Default(), dialogs);
  forms.Main().OnClosed = [] { QCoreApplication::quit(); };
  forms.Start(QCoreApplication::arguments());
  int status = app.exec();
  try {
    forms.Main().FormDestroy();
  } catch (...) {
    // The log is gone with the window: the one place left to tell is standard error.
    ui::SetApplicationErrorHandler(nullptr);
    ui::HandleApplicationError(std::current_exception());
    if (status == 0) status = 1;
  }
  return status;
}
