#include "ui/qt_text.h"

#include <optional>

namespace tarnex::ui {

QString ToQt(std::string_view cp932) {
  const std::string utf8 = platform::Cp932ToUtf8(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQt(const QString& text) {
  return platform::Utf8ToCp932(text.toStdString());
}

QString ScriptToQt(std::string_view cp932) {
  const std::string utf8 = platform::Cp932ToUtf8Escaped(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

platform::EscapedCp932 ScriptFromQt(const QString& text) {
  return platform::Utf8ToCp932Escaped(text.toStdString());
}

std::string PathFromQt(const QString& path) {
  const std::string utf8 = path.toStdString();
  std::string cp932 = platform::Utf8ToCp932(utf8);
  const std::optional<std::string> back = platform::TryCp932ToUtf8(cp932);
  return back && *back == utf8 ? cp932 : utf8;
}

QString EscapeMnemonic(QString text) {
  return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace tarnex::ui
