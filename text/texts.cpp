#include "text/texts.h"

#include "platform/codepage.h"
#include "platform/text_encoding.h"

namespace tarnex::texts {
namespace {

// One text in both encodings a run may use, made once: a UTF-8 script's log gets the UTF-8
// form, everything else the CP932 one.
class Text {
 public:
  explicit Text(std::string_view utf8) : utf8_(utf8), cp932_(platform::Utf8ToCp932(utf8)) {}
  const std::string& Get() const {
    return platform::CurrentTextEncoding() == platform::TextEncoding::Utf8 ? utf8_ : cp932_;
  }

 private:
  std::string utf8_;
  std::string cp932_;
};

}  // namespace

namespace {

std::string LineWarning(int line, const Text& before, std::string_view word, const Text& after) {
  return std::to_string(line) + before.Get() + "'" + std::string(word) + "'" + after.Get();
}

}  // namespace

std::string UnknownCommandWarning(int line, std::string_view word) {
  static const Text before(" 行目: 不明なコマンド ");
  static const Text after("");
  return LineWarning(line, before, word, after);
}

std::string MissingLabelWarning(int line, std::string_view word) {
  static const Text before(" 行目: goto の飛び先のラベル ");
  static const Text after(" がありません");
  return LineWarning(line, before, word, after);
}

std::string BadConditionWarning(int line, std::string_view word) {
  static const Text before(" 行目: 条件 ");
  static const Text after(" は Error でも NonError でもないため、コマンドは常に実行されます");
  return LineWarning(line, before, word, after);
}

const std::string& ConfirmQuitOnStop() {
  static const Text text("実行を中止します。FTPセッションを切断（QUIT）しますか");
  return text.Get();
}

std::string StoppedAtLine(int line) {
  static const Text text("行目で中止");
  return " (" + std::to_string(line) + " " + text.Get() + ")";
}

const std::string& Running() {
  static const Text text("実行中");
  return text.Get();
}

const std::string& Modified() {
  static const Text text("変更");
  return text.Get();
}

const std::string& NotImplemented() {
  static const Text text("現在未実装");
  return text.Get();
}

const std::string& PressOk() {
  static const Text text("OKボタンを押してください");
  return text.Get();
}

const std::string& WaitTimerInvalid() {
  static const Text text("WaitTimerコマンドの指定が不正です");
  return text.Get();
}

const std::string& UnexpectedError() {
  static const Text text("999 予期せぬエラー：");
  return text.Get();
}

const std::string& AppTitle() {
  static const Text text("Ｔａｒｎｅｘ");
  return text.Get();
}

const std::string& ConfirmDisconnect() {
  static const Text text("FTPセッション接続中です  切断していいですか");
  return text.Get();
}

const std::string& ConfirmStopScript() {
  static const Text text("ＦＴＰコマンドスクリプトを実行中です  強制終了していいですか");
  return text.Get();
}

const std::string& ConfirmSaveScript() {
  static const Text text("現在の Command Scriptを保存しますか？");
  return text.Get();
}

const std::string& TextTooLarge() {
  static const Text text("文字列の大きさが メモ の制限を越えました");
  return text.Get();
}

std::string NotAnInteger(std::string_view text) {
  static const Text suffix("' は整数ではありません");
  std::string message = "'";
  message += text;
  message += suffix.Get();
  return message;
}

}  // namespace tarnex::texts
