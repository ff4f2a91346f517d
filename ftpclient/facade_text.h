// The small calculations and texts of the FTP client facade, kept pure for testing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnex {

// The facade's time-out in whole seconds for a WaitTimeout in milliseconds: rounded to the
// nearest second (an exact half to the even neighbour), at least 1, at most 86,399.
int64_t WaitSpanSeconds(uint32_t wait_timeout_ms);

// Bytes per second of a transfer; a transfer that took no measurable time counts as 1 ms.
double TransferRate(int64_t total_bytes, int32_t milliseconds);

// "    Transfer End %d Byte (%fByte/sec)" and "    Retrived End %d Byte (%fByte/sec)".
std::string TransferSummaryLine(int64_t total_bytes, int32_t milliseconds);
std::string RetrieveSummaryLine(int64_t total_bytes, int32_t milliseconds);

// The debug trace line "D*" + tick (at least five digits) + ":" + text.
std::string DebugTraceLine(uint32_t tick, std::string_view text);

// A rate rounded to the nearest integer, an exact half to the even neighbour.
int64_t RoundedRate(double rate);

}  // namespace tarnex
