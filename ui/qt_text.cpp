#include "ui/qt_text.h"

#include <optional>

#include "platform/text_encoding.h"
#include "text/sjis.h"

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

QString Utf8ScriptToQt(std::string_view utf8, bool& escaped) {
  escaped = false;
  QString text;
  size_t done = 0;  // the valid bytes before `i` not yet converted
  for (size_t i = 0; i < utf8.size();) {
    const size_t length = Utf8SequenceLength(utf8, i);
    if (length > 0) {
      i += length;
      continue;
    }
    text += QString::fromUtf8(utf8.data() + done, static_cast<qsizetype>(i - done));
    text += QChar(
        static_cast<char16_t>(platform::kByteEscapeBase + static_cast<unsigned char>(utf8[i])));
    escaped = true;
    done = ++i;
  }
  return text + QString::fromUtf8(utf8.data() + done, static_cast<qsizetype>(utf8.size() - done));
}

std::string Utf8ScriptFromQt(const QString& text, bool unescape) {
  if (!unescape) return text.toStdString();
  std::string bytes;
  qsizetype done = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < platform::kByteEscapeBase || c > platform::kByteEscapeBase + 0xFF) continue;
    bytes += text.mid(done, i - done).toStdString();
    bytes += static_cast<char>(c - platform::kByteEscapeBase);
    done = i + 1;
  }
  return bytes + text.mid(done).toStdString();
}

namespace {

bool RunIsUtf8() {
  return platform::CurrentTextEncoding() == platform::TextEncoding::Utf8;
}

}  // namespace

QString RunTextToQt(std::string_view text) {
  const std::string utf8 = platform::CurrentTextToUtf8(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string RunTextToCp932(std::string_view text) {
  return RunIsUtf8() ? platform::Utf8ToCp932(text) : std::string(text);
}

std::string Cp932ToRunText(std::string_view cp932) {
  return RunIsUtf8() ? platform::Cp932ToUtf8(cp932) : std::string(cp932);
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
