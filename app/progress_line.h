// The transfer progress line the headless runner draws on a terminal: one line, redrawn in
// place with "\r", gone again before anything else is printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tarnex::app {

enum class TransferDirection { Receiving, Sending };

// "receiving 1048576 of 4194304 bytes (25%) at 512.0 KiB/s". The percentage only when the size
// is known (`total` above 0), the rate only once time has passed.
std::string ProgressText(TransferDirection direction, int64_t bytes, int64_t total,
                         int32_t milliseconds);

class ProgressLine {
 public:
  // Draws nothing until enabled (by a caller that knows `out` is a terminal).
  explicit ProgressLine(std::FILE* out) : out_(out) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Enable() { enabled_ = true; }
  // Redraws the line, at most about ten times a second: a transfer reports every block.
  void Update(TransferDirection direction, int64_t bytes, int64_t total, int32_t milliseconds);
  // Takes the line off the terminal, when it is shown.
  void Clear();

 private:
  std::FILE* out_;
  bool enabled_ = false;
  std::size_t shown_ = 0;  // the width of the line on the terminal; 0 when none is shown
  int64_t last_draw_ms_ = 0;
};

}  // namespace tarnex::app
