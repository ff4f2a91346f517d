// tarnex: the desktop program.
//   tarnex              an empty script ("newfile") in the main window
//   tarnex /autoPATH    runs the script at PATH unattended and ends
#include <exception>

#include "platform/registry.h"
#include "platform/temp_file_registry.h"
#include "ui/main_window.h"
#include "ui/slot_guard.h"
#include "ui/tarnex_forms.h"
#include "ui/user_dialogs.h"

int main(int argc, char** argv) {
  using namespace tarnex;
  ui::TarnexApplication app(argc, argv);
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
