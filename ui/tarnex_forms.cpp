#include "ui/tarnex_forms.h"

#include "ui/about_box.h"
#include "ui/artwork.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/progress_window.h"
#include "ui/slot_guard.h"

namespace tarnex::ui {
namespace {

constexpr std::string_view kAutoSwitch = "/auto";

bool StartsWithAutoSwitch(std::string_view arg) {
  if (arg.size() < kAutoSwitch.size()) return false;
  for (size_t i = 0; i < kAutoSwitch.size(); ++i) {
    const char c = arg[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kAutoSwitch[i]) return false;
  }
  return true;
}

StartRequest Usage(std::string problem) {
  return {StartRequest::Kind::Usage, {}, std::move(problem)};
}

}  // namespace

StartRequest ParseStartArguments(const std::vector<std::string>& args) {
  using Kind = StartRequest::Kind;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") return {Kind::Help, {}, {}};
    if (arg == "--version" || arg == "-V") return {Kind::Version, {}, {}};
  }
  if (!args.empty() && StartsWithAutoSwitch(args.front())) {
    return {Kind::AutoRun, args.front().substr(kAutoSwitch.size()), {}};
  }
  StartRequest request;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "--auto" || arg.starts_with("--auto="))) {
      if (request.kind != Kind::NewScript) return Usage("only one script can be given");
      if (arg == "--auto" && i + 1 == args.size()) return Usage("--auto needs a script");
      request = {Kind::AutoRun, arg == "--auto" ? args[++i] : arg.substr(7), {}};
    } else if (!options_done && arg.size() > 1 && arg.front() == '-') {
      return Usage("unknown option " + arg);
    } else {
      if (request.kind != Kind::NewScript) return Usage("only one script can be given");
      request = {Kind::Open, arg, {}};
    }
  }
  return request;
}

const char* DesktopUsageText() {
  return "usage: tarnex [SCRIPT]\n"
         "       tarnex /autoSCRIPT | --auto SCRIPT\n"
         "Writes and runs FTP command scripts in a window.\n"
         "  SCRIPT          open the script in the editor\n"
         "  /autoSCRIPT     run the script unattended and end (the path follows /auto\n"
         "                  directly; any case)\n"
         "  --auto SCRIPT   the same, with the path as an argument of its own\n"
         "  -h, --help      this text\n"
         "  -V, --version   the program's version\n"
         "For machines without a display, use tarnex-run.\n";
}

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
  if (shown) {
    Guard([this] { main_->RestoreWindowState(); });
    main_->show();
  }
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
