// Times as FTP servers write them: "YYYYMMDDHHMMSS" in UTC, with an optional fraction of a
// second (the MLSD "modify" fact, the MDTM reply, the MFMT argument). Times are seconds since
// 1970-01-01 00:00 UTC; fractions of a second are dropped, as no file is compared finer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex {

// The seconds of a date and time in UTC (proleptic Gregorian calendar; no range checks).
int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second);

// "YYYYMMDDHHMMSS" or "YYYYMMDDHHMMSS.fff": nothing for any other text or a date that does
// not exist (a 13th month, a 31st of April, 25 o'clock; a leap second 60 is taken as 59).
std::optional<int64_t> ParseFtpTime(std::string_view text);

// The time of an MDTM reply "213 YYYYMMDDHHMMSS[.fff]"; nothing for any other reply.
std::optional<int64_t> ParseMdtmReply(std::string_view reply);

// "YYYYMMDDHHMMSS", as MFMT takes it.
std::string FormatFtpTime(int64_t seconds);

}  // namespace tarnex
