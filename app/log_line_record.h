// The record of log lines that the test suite holds against docs/log-lines.md (tests/docs/):
// only tests set TARNEX_LOG_LINE_RECORD, to a folder, and each process that logs then appends
// every line to a file of its own there, as UTF-8, one line each, its kind and a tab first:
//   script   a script line, as logged before it runs
//   listing  a line of a listing (Dir): the server's text
//   log      every other line
// The line is recorded as the engine logged it, before anything decorates the output.
// Header only, so that the tests' own engine host records the same way.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tarnex::app {

enum class LoggedLineKind { Script, Listing, Other };

inline constexpr char kLogLineRecordVariable[] = "TARNEX_LOG_LINE_RECORD";

// This process's file in the folder the variable names, to append to; nullptr when the variable
// is not set or the file cannot be opened.
inline std::FILE* OpenLogLineRecord() {
  const char* folder = std::getenv(kLogLineRecordVariable);
  if (folder == nullptr || *folder == '\0') return nullptr;
  const std::string path = std::string(folder) + "/" + std::to_string(::getpid()) + ".txt";
  return std::fopen(path.c_str(), "ae");
}

inline void RecordLogLine(std::FILE* record, LoggedLineKind kind, std::string_view utf8_line) {
  const char* tag = kind == LoggedLineKind::Script    ? "script\t"
                    : kind == LoggedLineKind::Listing ? "listing\t"
                                                      : "log\t";
  std::string line = tag;
  line += utf8_line;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), record);
}

}  // namespace tarnex::app
