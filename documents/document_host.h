// What a script document needs from the window that shows it: the editor, and the window's
// caption, status marker, questions, file dialogs and menus. The desktop window implements
// both; tests answer from a script.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "documents/file_dialog.h"
#include "documents/script_file.h"
#include "platform/dialogs.h"
#include "platform/text_encoding.h"

namespace tarnex::documents {

// A character of the editor text that a script file cannot hold.
struct UnsavableCharacter {
  int line = 0;  // from 1
  char32_t code_point = 0;
};

class DocumentEditor {
 public:
  virtual ~DocumentEditor() = default;

  // The whole text as CP932, lines separated by CR LF; a final line break only when the text
  // has one. Bytes read by SetText come back unchanged; a character typed that CP932 cannot
  // hold is '?' here.
  virtual std::string Text() const = 0;
  // The first character of the text that CP932 cannot hold, if any. Such a text is not saved:
  // the character would be lost to the '?'.
  virtual std::optional<UnsavableCharacter> FirstUnsavableCharacter() const = 0;
  // Replaces the whole text; the document sets the modified flag itself afterwards.
  virtual void SetText(const std::string& text) = 0;
  // True once the user has changed the text.
  virtual bool Modified() const = 0;
  virtual void SetModified(bool modified) = 0;
  // The most text the editor holds; a larger script is refused.
  virtual std::size_t MaxTextBytes() const { return kMaxScriptTextBytes; }
  // The encoding Text() gives and SetText() takes from now on: CP932 (as above, the default)
  // or UTF-8, which holds every character. An editor of CP932 alone may ignore it.
  virtual void SetTextEncoding(platform::TextEncoding /*encoding*/) {}
};

class DocumentHost {
 public:
  virtual ~DocumentHost() = default;

  virtual void SetCaption(const std::string& caption) = 0;  // CP932
  // Status panel 0: "変更" while there are unsaved changes, else empty.
  virtual void SetModifiedMarker(const std::string& text) = 0;
  // A modal message box; returns the button pressed.
  virtual platform::MessageResult ShowMessage(const platform::MessageBoxRequest& box) = 0;
  // Modal file dialogs. True when the user confirmed a file, whose full path (CP932) is then
  // in dialog.file_name; the host calls dialog.TypeChange when the user picks another filter
  // and appends the default extension to a name typed without one (dialog.CompleteName).
  virtual bool RunOpenDialog(FileDialog& dialog) = 0;
  virtual bool RunSaveDialog(FileDialog& dialog) = 0;
  // Enables Save, Save as, Run, Step and the edit menu.
  virtual void EnableDocumentMenus() = 0;
};

}  // namespace tarnex::documents
