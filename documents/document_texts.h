// The texts of script documents, as CP932 bytes, for the document logic and for the window
// that shows them.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::documents {

// The name of a document that has no file yet.
inline constexpr std::string_view kNewFileName = "newfile";
// The window caption is this followed directly by the document name.
inline constexpr std::string_view kCaptionPrefix = "Tarnex -";
// The caption of the program's questions.
inline constexpr std::string_view kMessageCaption = "Tarnex";

// The plain and the enciphered format, as the file dialogs append them.
inline constexpr std::string_view kPlainExtension = "fcs";
inline constexpr std::string_view kEncipheredExtension = "fcx";

// The filter descriptions of the file dialogs.
const std::string& PlainScriptDescription();       // "FTP Command Script"
const std::string& EncipheredScriptDescription();  // "暗号化 Script"

// The filters, "description|pattern|description|pattern"; the open dialog's descriptions have
// a blank after "*.".
const std::string& OpenFilter();
const std::string& SaveFilter();

// The refusal to save a text with a character that CP932 cannot hold, naming its line (from 1)
// and the character ("U+00E9").
std::string UnsavableCharacterMessage(int line, char32_t code_point);

// The error of an enciphered record whose first character is not a key character.
std::string NotACipherMarker(std::string_view marker);

}  // namespace tarnex::documents
