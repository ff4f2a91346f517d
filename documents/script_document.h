// The one script document of the main window: its name, its unsaved changes, New, Open, Save
// and Save as, and the question that protects unsaved changes. The text lives in the editor;
// the document works through the editor and its host only.
#pragma once

#include <string>

#include "documents/cipher.h"
#include "documents/document_host.h"
#include "documents/file_dialog.h"
#include "documents/recall_menu.h"

namespace tarnex::documents {

class ScriptDocument {
 public:
  // `recall` (may be null) receives every script that opens.
  ScriptDocument(DocumentEditor& editor, DocumentHost& host, TCustomMenuControl* recall,
                 LineCipher cipher = LineCipher());

  // The full path of the file last opened or saved, "newfile" for a document without a file,
  // empty before the first New or Open.
  const std::string& ScriptName() const { return FScriptName; }
  // Sets the name and the caption "Tarnex -" + name, followed by " (UTF-8)" for a UTF-8 script.
  void SetScriptName(std::string name);
  // The encoding of the script's text: CP932, or UTF-8 for a file found to be UTF-8 (a byte
  // order mark, or valid UTF-8 with a character beyond ASCII). It is read, run and saved in it.
  platform::TextEncoding Encoding() const { return encoding_; }

  // With unsaved changes asks "現在の Command Scriptを保存しますか？": Yes saves (the changes stay
  // unsaved when the Save-as dialog is cancelled), No discards them, Cancel changes nothing.
  // Callers look at the editor's modified flag afterwards.
  void QuerySave();

  // The menu's commands.
  void New();
  void Open();
  void Save();
  void SaveAs();

  // Opens the script at `path` (CP932) into the editor, after QuerySave, in the encoding its
  // text is found to have. Nothing happens when the changes stay unsaved or no file is there.
  // An unreadable file leaves the document as it was and raises its error.
  void LoadScript(std::string path);
  // Writes the editor to `path` in the format of its extension and the document's encoding (a
  // UTF-8 script keeps the byte order mark it was read with) and names the document after it.
  // A failed write raises and leaves the name and the unsaved state as they were. A CP932 text
  // with a character that CP932 cannot hold is refused with a message box instead: nothing is
  // written, and the changes stay unsaved.
  void SaveScript(std::string path);

  // The editor's change handler: marks unsaved changes in the status bar.
  void BatmemoChange();

  FileDialog& OpenDialog1() { return open_dialog_; }
  FileDialog& SaveDialog1() { return save_dialog_; }

 private:
  bool IsUnnamed() const;
  bool TextIsSavable();
  void MarkSaved();

  DocumentEditor& editor_;
  DocumentHost& host_;
  TCustomMenuControl* recall_;
  LineCipher cipher_;
  std::string FScriptName;
  platform::TextEncoding encoding_ = platform::TextEncoding::Cp932;
  bool byte_order_mark_ = false;  // a UTF-8 file that began with one gets it back
  FileDialog open_dialog_ = MakeOpenScriptDialog();
  FileDialog save_dialog_ = MakeSaveScriptDialog();
};

}  // namespace tarnex::documents
