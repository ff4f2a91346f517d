// The edge between the core's CP932 bytes and Qt's strings: every text that enters or leaves a
// widget passes through here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace tarnex::ui {

// CP932 bytes for display; a byte that does not convert shows as U+FFFD.
QString ToQt(std::string_view cp932);
// A widget's text as CP932; characters CP932 cannot hold become '?'.
std::string FromQt(const QString& text);

// A script for the editor and back: every byte comes back as it was read, also bytes that are
// not CP932. On the way back a character CP932 cannot hold becomes '?' and the first one is
// reported (its offset counts UTF-8 bytes of the text).
QString ScriptToQt(std::string_view cp932);
platform::EscapedCp932 ScriptFromQt(const QString& text);

// The same for a UTF-8 script: a byte that starts no valid UTF-8 sequence (possible only after
// a byte order mark) shows as the private-use character kByteEscapeBase + byte, and `escaped`
// says whether any did. Only then are such characters turned back into their bytes.
QString Utf8ScriptToQt(std::string_view utf8, bool& escaped);
std::string Utf8ScriptFromQt(const QString& text, bool unescape);

// Text in the thread's text encoding (CP932, or UTF-8 while a UTF-8 script runs), as the
// widgets show it, and as the CP932 that the status bar and the log keep; and back.
QString RunTextToQt(std::string_view text);
std::string RunTextToCp932(std::string_view text);
std::string Cp932ToRunText(std::string_view cp932);

// A file name from the desktop (command line, file dialog) as the bytes the core's file
// functions take: CP932 when it holds every character of the name, else the name's own UTF-8
// bytes, which the file layer then uses unconverted.
std::string PathFromQt(const QString& path);

// Text shown literally by widgets that take "&" as the mark of a mnemonic.
QString EscapeMnemonic(QString text);

}  // namespace tarnex::ui
