// What the runner puts before each line it prints: the sd-daemon priority when the stream is
// the journal, and the local time when --timestamps asks for it.
#pragma once

#include <ctime>
#include <string>

namespace tarnex::app {

// The weight of a printed line (the journal's priorities 6, 4 and 3).
enum class LineKind { Info, Warning, Failure };

// Local time in ISO 8601 with the offset from UTC: "2026-12-08T17:36:01+00:00".
std::string IsoLocalTime(std::time_t when);

struct LinePrefix {
  bool journal = false;     // "<6>", "<4>" or "<3>" first
  bool timestamps = false;  // then the local time and a blank

  std::string For(LineKind kind, std::time_t now) const;
};

}  // namespace tarnex::app
