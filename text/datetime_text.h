// Dates and times written as text, in the Japanese system's order: "yyyy/mm/dd hh:nn:ss".
// A date-time value is a double: days since 1899-12-30, the time of day as the fraction.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnex {

// Converts a date, a time, or a date, blanks and a time; blanks around the whole are allowed.
//   date: yyyy/mm/dd, or mm/dd in the current year; a year of 1 or 2 digits is in the
//         current century
//   time: h:nn, h:nn:ss or h:nn:ss.zzz (hours 0-23, minutes and seconds 0-59; the digits after
//         the point are a fraction of a second, at most 3)
// A time alone gives its fraction of a day. Anything else gives nothing.
std::optional<double> TryStrToDateTime(std::string_view text, int current_year);

// The same, with the current year taken from the local clock.
std::optional<double> TryStrToDateTime(std::string_view text);

// A day count as whole milliseconds, rounded to the nearest (saturating far out of range).
int64_t DateTimeToMilliseconds(double days);

// The number of 1-second steps WaitTimer waits for a duration in days: one per whole second and
// one more for a remaining fraction; none for zero or less. Counted on rounded milliseconds, so
// that exactly N seconds is N steps whatever the residue of the day fraction.
int64_t WaitTimerSteps(double days);

}  // namespace tarnex
