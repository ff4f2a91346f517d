// An editor and a window for document tests: the editor keeps its text and flag; the window
// records its caption, marker, questions and dialogs, and answers them from queues.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "documents/document_host.h"

namespace tarnex::documents::testing {

class FakeEditor : public DocumentEditor {
 public:
  std::string Text() const override { return text; }
  std::optional<UnsavableCharacter> FirstUnsavableCharacter() const override { return unsavable; }
  void SetText(const std::string& new_text) override { text = new_text; }
  bool Modified() const override { return modified; }
  void SetModified(bool value) override { modified = value; }
  std::size_t MaxTextBytes() const override { return max_text_bytes; }

  // What the user does: types text, which sets the flag.
  void Type(const std::string& new_text) {
    text = new_text;
    modified = true;
  }

  std::string text;
  bool modified = false;
  std::optional<UnsavableCharacter> unsavable;  // what the user typed that CP932 cannot hold
  std::size_t max_text_bytes = kMaxScriptTextBytes;
};

class FakeWindow : public DocumentHost {
 public:
  void SetCaption(const std::string& text) override { caption = text; }
  void SetModifiedMarker(const std::string& text) override { marker = text; }
  platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) override {
    boxes.push_back(box);
    return Next(answers, platform::MessageResult::Cancel);
  }
  bool RunOpenDialog(FileDialog& dialog) override { return Run(dialog, open_requests); }
  bool RunSaveDialog(FileDialog& dialog) override { return Run(dialog, save_requests); }
  void EnableDocumentMenus() override { ++menus_enabled; }

  std::string caption = "Tarnex";
  std::string marker;
  int menus_enabled = 0;
  std::vector<platform::MessageBoxRequest> boxes;
  std::deque<platform::MessageResult> answers;
  // The file the user picks in the next dialog; nothing cancels it.
  std::deque<std::optional<std::string>> picks;
  std::vector<FileDialog> open_requests;
  std::vector<FileDialog> save_requests;

 private:
  template <typename T>
  static T Next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T value = queue.front();
    queue.pop_front();
    return value;
  }

  bool Run(FileDialog& dialog, std::vector<FileDialog>& requests) {
    requests.push_back(dialog);
    std::optional<std::string> pick = Next(picks, std::optional<std::string>());
    if (!pick) return false;
    dialog.file_name = *pick;
    return true;
  }
};

}  // namespace tarnex::documents::testing
