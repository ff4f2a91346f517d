#include "ftpclient/facade_text.h"

#include <cmath>
#include <cstdio>

namespace tarnex {
namespace {

constexpr int64_t kLongestWaitSeconds = 86'399;  // the time-out stays below one day

std::string SummaryLine(const char* what, int64_t total_bytes, int32_t milliseconds) {
  char text[128];
  std::snprintf(text, sizeof text, "    %s End %lld Byte (%.2fByte/sec)", what,
                static_cast<long long>(total_bytes), TransferRate(total_bytes, milliseconds));
  return text;
}

}  // namespace

int64_t WaitSpanSeconds(uint32_t wait_timeout_ms) {
  // Banker's rounding of ms / 1000: 500 gives 0, 1500 gives 2, 2500 gives 2.
  int64_t seconds = wait_timeout_ms / 1000;
  uint32_t rest = wait_timeout_ms % 1000;
  if (rest > 500 || (rest == 500 && seconds % 2 == 1)) ++seconds;
  if (seconds == 0) seconds = 1;
  return seconds > kLongestWaitSeconds ? kLongestWaitSeconds : seconds;
}

double TransferRate(int64_t total_bytes, int32_t milliseconds) {
  // A tick difference of 0 (or a negative one from a clock that went back) has no finite
  // rate; such a transfer is rated as if it took one millisecond.
  double seconds = (milliseconds > 0 ? milliseconds : 1) / 1000.0;
  return static_cast<double>(total_bytes) / seconds;
}

std::string TransferSummaryLine(int64_t total_bytes, int32_t milliseconds) {
  return SummaryLine("Transfer", total_bytes, milliseconds);
}

std::string RetrieveSummaryLine(int64_t total_bytes, int32_t milliseconds) {
  return SummaryLine("Retrived", total_bytes, milliseconds);
}

std::string DebugTraceLine(uint32_t tick, std::string_view text) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "D*%.5d:", static_cast<int32_t>(tick));
  return prefix + std::string(text);
}

int64_t RoundedRate(double rate) {
  if (!std::isfinite(rate)) return 0;
  return static_cast<int64_t>(std::nearbyint(rate));  // the default mode rounds half to even
}

}  // namespace tarnex
