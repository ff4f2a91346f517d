// The date and time text of WaitTimer: whatever it reads is a finite day count in range,
// and the steps of the wait derived from it are well defined.
#include <cmath>
#include <string>

#include "fuzz/fuzz_target.h"
#include "text/datetime_text.h"

TARNEX_FUZZ_TARGET(datetime) {
  if (size < 2) return;
  const int current_year = 1 + (data[0] | (data[1] << 8)) % 9999;
  const std::string_view text = tarnex::fuzz::AsText(data + 2, size - 2);
  const auto value = tarnex::TryStrToDateTime(text, current_year);
  if (!value) return;
  FUZZ_CHECK(std::isfinite(*value));
  // From 0001/01/01 to 9999/12/31 23:59:59.999.
  FUZZ_CHECK(*value >= -693594.0 && *value < 2958466.0);
  // A time of day alone is a fraction of one day.
  if (text.find('/') == std::string_view::npos) FUZZ_CHECK(*value >= 0.0 && *value < 1.0);
  const int64_t ms = tarnex::DateTimeToMilliseconds(*value);
  const int64_t steps = tarnex::WaitTimerSteps(*value);
  FUZZ_CHECK(steps >= 0);
  if (ms > 0) FUZZ_CHECK(steps == (ms + 999) / 1000);
}
