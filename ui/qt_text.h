// The edge between the core's CP932 bytes and Qt's strings: every text that enters or leaves a
// widget passes through here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tarnex::ui {

// CP932 bytes for display; a byte that does not convert shows as U+FFFD.
QString ToQt(std::string_view cp932);
// A widget's text as CP932; characters CP932 cannot hold become '?'.
std::string FromQt(const QString& text);

// A file name from the desktop (command line, file dialog) as the bytes the core's file
// functions take: CP932 when it holds every character of the name, else the name's own UTF-8
// bytes, which the file layer then uses unconverted.
std::string PathFromQt(const QString& path);

// Text shown literally by widgets that take "&" as the mark of a mnemonic.
QString EscapeMnemonic(QString text);

}  // namespace tarnex::ui
