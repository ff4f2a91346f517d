#include "documents/document_texts.h"

#include <cstdio>

#include "platform/codepage.h"

namespace tarnex::documents {

const std::string& PlainScriptDescription() {
  static const std::string text = "FTP Command Script";
  return text;
}

const std::string& EncipheredScriptDescription() {
  static const std::string text = platform::Utf8ToCp932("暗号化 Script");
  return text;
}

const std::string& OpenFilter() {
  static const std::string text = PlainScriptDescription() + "( *. fcs )|*.fcs|" +
                                  EncipheredScriptDescription() + "( *. fcx )|*.fcx";
  return text;
}

const std::string& SaveFilter() {
  static const std::string text = PlainScriptDescription() + "( *.fcs )|*.fcs|" +
                                  EncipheredScriptDescription() + "( *.fcx )|*.fcx";
  return text;
}

std::string UnsavableCharacterMessage(int line, char32_t code_point) {
  static const std::string before = platform::Utf8ToCp932(" 行目の文字 ");
  static const std::string after = platform::Utf8ToCp932(
      " は Shift-JIS のファイルに保存できません  この文字を書き換えてから保存してください");
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code_point));
  return std::to_string(line) + before + name + after;
}

std::string NotACipherMarker(std::string_view marker) {
  static const std::string suffix =
      platform::Utf8ToCp932("' は暗号化 Script の行の印ではありません");
  std::string message = "'";
  message += marker;
  message += suffix;
  return message;
}

}  // namespace tarnex::documents
