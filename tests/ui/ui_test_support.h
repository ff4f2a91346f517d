// What the desktop tests share: dialogs answered by the test, and the program's forms over a
// private settings store in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/tarnex_forms.h"
#include "ui/user_dialogs.h"

namespace tarnex::ui::testing {

// Answers every question from queues and records what was asked; modal forms are shown and
// hidden at once, so that their show handlers run, and never enter a modal loop.
class ScriptedDialogs : public UserDialogs {
 public:
  platform::MessageResult ShowMessage(QWidget* owner,
                                      const platform::MessageBoxRequest& box) override {
    boxes.push_back(box);
    owners.push_back(owner);
    if (on_message) on_message(box);
    if (answers.empty()) return platform::MessageResult::Ok;
    const platform::MessageResult answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool RunOpenDialog(QWidget*, documents::FileDialog& dialog, bool) override {
    return Pick(dialog);
  }
  bool RunSaveDialog(QWidget*, documents::FileDialog& dialog, bool) override {
    saves.push_back(dialog);
    return Pick(dialog);
  }
  int RunModal(QDialog& dialog) override {
    modals.push_back(&dialog);
    dialog.show();
    if (on_modal) on_modal(dialog);
    dialog.hide();
    return dialog.result();
  }

  // The texts of the message boxes asked so far, as UTF-8.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes) texts.push_back(platform::Cp932ToUtf8(box.text));
    return texts;
  }

  std::deque<platform::MessageResult> answers;
  std::deque<std::optional<std::string>> picks;  // the next file picked (CP932); none cancels
  std::vector<platform::MessageBoxRequest> boxes;
  std::vector<QWidget*> owners;
  std::vector<documents::FileDialog> saves;
  std::vector<QDialog*> modals;
  std::function<void(const platform::MessageBoxRequest&)> on_message;
  std::function<void(QDialog&)> on_modal;

 private:
  bool Pick(documents::FileDialog& dialog) {
    if (picks.empty()) return false;
    const std::optional<std::string> pick = picks.front();
    picks.pop_front();
    if (!pick) return false;
    dialog.file_name = *pick;
    return true;
  }
};

// Processes Qt's events until `done` holds or `timeout_ms` has passed; true when it holds.
inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The program's four forms over a settings store of the test's own.
class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override { store = std::make_shared<platform::RegistryStore>(dir / "registry.db"); }
  void TearDown() override {
    forms.reset();
    QCoreApplication::processEvents();
  }

  // Makes the forms; `start` runs the program's start-up with `arguments` after the program
  // name (no arguments: New).
  void MakeForms(bool start = true, QStringList arguments = {}) {
    forms = std::make_unique<TarnexForms>(store, dialogs);
    if (start) {
      arguments.prepend(QStringLiteral("tarnex"));
      forms->Start(arguments);
    }
  }
  TTarnexfm& Main() { return forms->Main(); }

  // The execution log as UTF-8 lines.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const std::string& line : Main().Logmemo->Lines()) {
      lines.push_back(platform::Cp932ToUtf8(line));
    }
    return lines;
  }

  tarnex::testing::TempDir dir;
  std::shared_ptr<platform::RegistryStore> store;
  ScriptedDialogs dialogs;
  std::unique_ptr<TarnexForms> forms;
};

}  // namespace tarnex::ui::testing
