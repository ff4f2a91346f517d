#include "text/texts.h"

#include "platform/codepage.h"

namespace tarnex::texts {
namespace {

std::string Cp932(std::string_view utf8) {
  return platform::Utf8ToCp932(utf8);
}

}  // namespace

const std::string& Running() {
  static const std::string text = Cp932("実行中");
  return text;
}

const std::string& Modified() {
  static const std::string text = Cp932("変更");
  return text;
}

const std::string& NotImplemented() {
  static const std::string text = Cp932("現在未実装");
  return text;
}

const std::string& PressOk() {
  static const std::string text = Cp932("OKボタンを押してください");
  return text;
}

const std::string& WaitTimerInvalid() {
  static const std::string text = Cp932("WaitTimerコマンドの指定が不正です");
  return text;
}

const std::string& UnexpectedError() {
  static const std::string text = Cp932("999 予期せぬエラー：");
  return text;
}

const std::string& AppTitle() {
  static const std::string text = Cp932("Ｔａｒｎｅｘ");
  return text;
}

const std::string& ConfirmDisconnect() {
  static const std::string text = Cp932("FTPセッション接続中です  切断していいですか");
  return text;
}

const std::string& ConfirmStopScript() {
  static const std::string text =
      Cp932("ＦＴＰコマンドスクリプトを実行中です  強制終了していいですか");
  return text;
}

const std::string& ConfirmSaveScript() {
  static const std::string text = Cp932("現在の Command Scriptを保存しますか？");
  return text;
}

const std::string& TextTooLarge() {
  static const std::string text = Cp932("文字列の大きさが メモ の制限を越えました");
  return text;
}

std::string NotAnInteger(std::string_view text) {
  static const std::string suffix = Cp932("' は整数ではありません");
  std::string message = "'";
  message += text;
  message += suffix;
  return message;
}

}  // namespace tarnex::texts
