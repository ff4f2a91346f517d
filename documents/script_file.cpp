#include "documents/script_file.h"

#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "text/lines.h"
#include "text/string_helpers.h"
#include "text/texts.h"

namespace tarnex::documents {
namespace {

bool EndsWithLineBreak(std::string_view text) {
  return !text.empty() && (text.back() == '\r' || text.back() == '\n');
}

// Deciphers into a separate text, so that a record that cannot be read leaves nothing half
// done behind.
std::string DecipherLines(std::string_view normalized) {
  std::vector<std::string> lines = SplitLines(normalized);
  for (std::string& line : lines) line = Decipher(line);
  std::string text = JoinLines(lines);
  if (EndsWithLineBreak(normalized)) text += "\r\n";
  return text;
}

void CheckTextSize(std::size_t size, std::size_t max_text_bytes) {
  if (size > max_text_bytes) throw Exception(texts::TextTooLarge());
}

}  // namespace

std::string_view FileExtension(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool IsEncipheredName(std::string_view path) {
  return SameText(FileExtension(path), ".FCX");
}

std::string NormalizeLineBreaks(std::string_view bytes) {
  std::string text = JoinLines(SplitLines(bytes));
  if (EndsWithLineBreak(bytes)) text += "\r\n";
  return text;
}

std::string ScriptTextFromFile(std::string_view bytes, bool enciphered,
                               std::size_t max_text_bytes) {
  std::string normalized = NormalizeLineBreaks(bytes);
  if (!enciphered) {
    CheckTextSize(normalized.size(), max_text_bytes);
    return normalized;
  }
  std::string text = DecipherLines(normalized);
  CheckTextSize(text.size(), max_text_bytes);
  return text;
}

std::string ScriptFileFromText(std::string_view text, bool enciphered, const LineCipher& cipher) {
  if (!enciphered) return std::string(text);
  std::string bytes;
  for (const std::string& line : SplitLines(text)) {
    bytes += cipher.Encipher(line);
    bytes += "\r\n";
  }
  return bytes;
}

std::string ReadScriptFile(std::string_view path, std::size_t max_text_bytes) {
  platform::File file = platform::File::OpenRead(path);
  // A record of n bytes gives at least (n - 1) / 2 bytes of text (a plain file gives n), so a
  // file of more than twice the limit cannot fit; refusing it here keeps it out of memory.
  const auto size = static_cast<std::size_t>(file.Size());
  if (size / 2 > max_text_bytes) throw Exception(texts::TextTooLarge());
  std::string bytes;
  bytes.reserve(size);
  char buffer[65536];
  while (std::size_t n = file.Read(buffer)) {
    bytes.append(buffer, n);
    if (bytes.size() / 2 > max_text_bytes) throw Exception(texts::TextTooLarge());
  }
  return ScriptTextFromFile(bytes, IsEncipheredName(path), max_text_bytes);
}

void WriteScriptFile(std::string_view path, std::string_view text, const LineCipher& cipher) {
  // The bytes are complete before the file is touched.
  const std::string bytes = ScriptFileFromText(text, IsEncipheredName(path), cipher);
  platform::WriteFileBytes(path, bytes);
}

}  // namespace tarnex::documents
