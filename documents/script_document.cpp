#include "documents/script_document.h"

#include <optional>
#include <utility>

#include "documents/document_texts.h"
#include "documents/script_file.h"
#include "platform/files.h"
#include "text/script_encoding.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex::documents {

ScriptDocument::ScriptDocument(DocumentEditor& editor, DocumentHost& host,
                               TCustomMenuControl* recall, LineCipher cipher)
    : editor_(editor), host_(host), recall_(recall), cipher_(std::move(cipher)) {}

void ScriptDocument::SetScriptName(std::string name) {
  FScriptName = std::move(name);
  // A CP932 script, as every script always was, is not marked.
  const std::string_view mark = encoding_ == platform::TextEncoding::Utf8 ? " (UTF-8)" : "";
  host_.SetCaption(std::string(kCaptionPrefix) + FScriptName + std::string(mark));
}

// A document that was never named is saved like "newfile": through the Save-as dialog.
bool ScriptDocument::IsUnnamed() const {
  return FScriptName.empty() || SameText(FScriptName, kNewFileName);
}

void ScriptDocument::MarkSaved() {
  editor_.SetModified(false);
  host_.SetModifiedMarker("");
}

void ScriptDocument::QuerySave() {
  if (!editor_.Modified()) return;
  platform::MessageBoxRequest box;
  box.text = texts::ConfirmSaveScript();
  box.caption = kMessageCaption;
  box.buttons = platform::MessageButtons::YesNoCancel;
  switch (host_.ShowMessage(box)) {
    case platform::MessageResult::Yes:
      Save();
      break;
    case platform::MessageResult::No:
      editor_.SetModified(false);
      break;
    default:
      break;
  }
}

void ScriptDocument::New() {
  QuerySave();
  if (!editor_.Modified()) {
    encoding_ = platform::TextEncoding::Cp932;
    byte_order_mark_ = false;
    editor_.SetTextEncoding(encoding_);
    editor_.SetText("");
    MarkSaved();
  }
  SetScriptName(std::string(kNewFileName));
  host_.EnableDocumentMenus();
}

void ScriptDocument::Open() {
  if (host_.RunOpenDialog(open_dialog_)) LoadScript(open_dialog_.file_name);
}

void ScriptDocument::Save() {
  if (IsUnnamed()) {
    // Save as names the document when it writes; a cancelled dialog writes nothing.
    SaveAs();
    return;
  }
  SaveScript(FScriptName);
}

void ScriptDocument::SaveAs() {
  // Refused before the user is asked for a name that would not be used.
  if (!TextIsSavable()) return;
  if (host_.RunSaveDialog(save_dialog_)) SaveScript(save_dialog_.file_name);
}

void ScriptDocument::LoadScript(std::string path) {
  QuerySave();
  if (editor_.Modified()) return;
  if (!platform::FileExists(path)) return;
  // Read whole before anything changes: an unreadable script leaves the editor, the name and
  // the recall list as they were.
  std::string text = ReadScriptFile(path, editor_.MaxTextBytes());
  encoding_ = DetectScriptEncoding(text);
  byte_order_mark_ = encoding_ == platform::TextEncoding::Utf8 && text.starts_with(kUtf8Bom);
  editor_.SetTextEncoding(encoding_);
  // A CP932 script keeps every byte it has; a UTF-8 one loses the mark, kept aside for saving.
  editor_.SetText(encoding_ == platform::TextEncoding::Utf8 ? std::string(WithoutUtf8Bom(text))
                                                            : text);
  SetScriptName(path);
  MarkSaved();
  host_.EnableDocumentMenus();
  if (recall_ != nullptr) recall_->Add(std::move(path));
}

// A character that CP932 cannot hold would be written as '?': the user is told where it is,
// and nothing is written.
bool ScriptDocument::TextIsSavable() {
  const std::optional<UnsavableCharacter> unsavable = editor_.FirstUnsavableCharacter();
  if (!unsavable) return true;
  platform::MessageBoxRequest box;
  box.text = UnsavableCharacterMessage(unsavable->line, unsavable->code_point);
  box.caption = kMessageCaption;
  box.icon = platform::MessageIcon::Warning;
  host_.ShowMessage(box);
  return false;
}

void ScriptDocument::SaveScript(std::string path) {
  if (!TextIsSavable()) return;
  const std::string mark = byte_order_mark_ ? std::string(kUtf8Bom) : std::string();
  WriteScriptFile(path, mark + editor_.Text(), cipher_);
  MarkSaved();
  SetScriptName(std::move(path));
}

void ScriptDocument::BatmemoChange() {
  if (editor_.Modified()) host_.SetModifiedMarker(texts::Modified());
}

}  // namespace tarnex::documents
