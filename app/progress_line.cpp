#include "app/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>

#include "platform/clock.h"

namespace tarnex::app {
namespace {

constexpr int64_t kRedrawMs = 100;

std::string RateText(double bytes_per_second) {
  static constexpr const char* kUnits[] = {"B/s", "KiB/s", "MiB/s", "GiB/s"};
  int unit = 0;
  while (bytes_per_second >= 1024.0 && unit < 3) {
    bytes_per_second /= 1024.0;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes_per_second, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes_per_second, kUnits[unit]);
  }
  return text;
}

// The columns of the terminal, so that the line never wraps (a wrapped line cannot be drawn
// over with "\r"); 80 when the terminal does not say.
std::size_t TerminalColumns(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
  return 80;
}

}  // namespace

std::string ProgressText(TransferDirection direction, int64_t bytes, int64_t total,
                         int32_t milliseconds) {
  std::string text = direction == TransferDirection::Receiving ? "receiving " : "sending ";
  text += std::to_string(bytes);
  if (total > 0) {
    // A text transfer may change the count on the way; the percentage never runs past 100.
    const int64_t percent = std::min<int64_t>(100, bytes * 100 / total);
    text += " of " + std::to_string(total) + " bytes (" + std::to_string(percent) + "%)";
  } else {
    text += " bytes";
  }
  if (milliseconds > 0) {
    text += " at " + RateText(static_cast<double>(bytes) * 1000.0 / milliseconds);
  }
  return text;
}

void ProgressLine::Update(TransferDirection direction, int64_t bytes, int64_t total,
                          int32_t milliseconds) {
  if (!enabled_) return;
  const int64_t now = platform::MonotonicMs();
  if (shown_ > 0 && now - last_draw_ms_ < kRedrawMs) return;
  last_draw_ms_ = now;
  std::string text = ProgressText(direction, bytes, total, milliseconds);
  text.resize(std::min(text.size(), TerminalColumns(out_) - 1));
  // Blanks over what is left of a longer line drawn before.
  const std::size_t width = std::max(text.size(), shown_);
  text.resize(width, ' ');
  std::fprintf(out_, "\r%s", text.c_str());
  std::fflush(out_);
  shown_ = width;
}

void ProgressLine::Clear() {
  if (shown_ == 0) return;
  std::fprintf(out_, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(out_);
  shown_ = 0;
}

}  // namespace tarnex::app
