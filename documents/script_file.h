// The two formats of script files. The format follows the file name's extension alone: ".fcx"
// in any case is enciphered line by line, anything else is the editor text as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "documents/cipher.h"

namespace tarnex::documents {

// The most editor text a script may have; a larger file is refused instead of being read.
inline constexpr std::size_t kMaxScriptTextBytes = 16 * 1024 * 1024;

// The extension of the file name in `path`: from the last "." of the part after the last "/",
// the "." included; empty when the file name has no ".".
std::string_view FileExtension(std::string_view path);

// True when the upper-cased extension is ".FCX".
bool IsEncipheredName(std::string_view path);

// Every lone CR and lone LF becomes CR LF, as the editor holds line breaks.
std::string NormalizeLineBreaks(std::string_view bytes);

// The editor text of a file's bytes: CR, LF and CR LF end lines; in an enciphered file every
// line is deciphered. Raises the cipher's conversion error for an unreadable record, and
// TextTooLarge when the text exceeds `max_text_bytes`.
std::string ScriptTextFromFile(std::string_view bytes, bool enciphered,
                               std::size_t max_text_bytes = kMaxScriptTextBytes);

// The bytes of a file for the editor text: the text unchanged (no line break added), or one
// enciphered record per editor line, each followed by CR LF.
std::string ScriptFileFromText(std::string_view text, bool enciphered, const LineCipher& cipher);

// Reads the script at the CP932 `path` as editor text, in the format its extension gives.
// Raises the file error "ファイル %s は開けません", the cipher's conversion error, or
// TextTooLarge.
std::string ReadScriptFile(std::string_view path, std::size_t max_text_bytes = kMaxScriptTextBytes);

// Replaces the file at the CP932 `path` with the editor text in the format its extension gives.
// Raises the file error "ファイル %s を作成できません" or a write error.
void WriteScriptFile(std::string_view path, std::string_view text, const LineCipher& cipher);

}  // namespace tarnex::documents
