#include "ui/tarnex_forms.h"

#include "ui/about_box.h"
#include "ui/artwork.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/progress_window.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {

TarnexForms::TarnexForms(std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs) {
  main_ = std::make_unique<TTarnexfm>(store, dialogs);
  options_ = new TTarnexOption(main_.get(), main_->Settings(), store, dialogs);
  about_ = new TAboutBox(main_.get());
  progress_ = std::make_unique<Tprogfm>(main_->Settings());
  main_->AttachForms(*options_, *about_, *progress_);
}

TarnexForms::~TarnexForms() {
  main_.reset();
  progress_.reset();
}

bool TarnexForms::Start(const QStringList& arguments) {
  const bool shown = main_->FormShow(arguments);
  if (shown) main_->show();
  return shown;
}

TarnexApplication::TarnexApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Ｔａｒｎｅｘ"));
  setWindowIcon(QIcon(ProgramIcon(64)));
  // The program ends when its main window closes, not when its last window does.
  setQuitOnLastWindowClosed(false);
}

bool TarnexApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleApplicationError(std::current_exception());
    return false;
  }
}

}  // namespace tarnex::ui
