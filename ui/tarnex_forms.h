// The program's four forms, made once in this order and kept for the whole process: the main
// window, the options dialog, the about box and the progress window.
#pragma once

#include <QApplication>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tarnex::ui {

class TAboutBox;
class TTarnexOption;
class TTarnexfm;
class Tprogfm;
class UserDialogs;

// What the desktop program's command line asks for.
struct StartRequest {
  enum class Kind { NewScript, Open, AutoRun, Help, Version, Usage };
  Kind kind = Kind::NewScript;
  std::string path;     // Open and AutoRun: the script's path as given (UTF-8)
  std::string problem;  // Usage: what is wrong

  bool operator==(const StartRequest&) const = default;
};

// The arguments after the program's name. A first argument that begins with "/auto" in any
// case runs the path that follows it directly ("/autoPATH"; anything after it is ignored, as
// it always was); "--auto PATH" (or "--auto=PATH") is the same. A plain argument opens that
// script; "--" ends the options. --help (-h) and --version (-V) win over everything else
// before "--", so that they work whatever else is on the line.
StartRequest ParseStartArguments(const std::vector<std::string>& args);

// The text of --help.
const char* DesktopUsageText();

class TarnexForms {
 public:
  TarnexForms(std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs);
  // The main window goes first (its engine may still log while it ends), then the others.
  ~TarnexForms();
  TarnexForms(const TarnexForms&) = delete;
  TarnexForms& operator=(const TarnexForms&) = delete;

  TTarnexfm& Main() { return *main_; }
  TTarnexOption& Options() { return *options_; }
  TAboutBox& About() { return *about_; }
  Tprogfm& Progress() { return *progress_; }

  // Start-up as the program does it: the main window's start-up, then the window shown unless
  // an automatic run hides the program. Returns whether it was shown.
  bool Start(const QStringList& arguments);

 private:
  std::unique_ptr<TTarnexfm> main_;
  TTarnexOption* options_ = nullptr;  // owned by the main window
  TAboutBox* about_ = nullptr;        // owned by the main window
  // Not a child of the main window: it must stay usable while the automatic run disables that.
  std::unique_ptr<Tprogfm> progress_;
};

// The application: its title, and the last line of defence that keeps any error a handler
// let through from crossing Qt's event loop.
class TarnexApplication : public QApplication {
 public:
  TarnexApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tarnex::ui
