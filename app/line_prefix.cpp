#include "app/line_prefix.h"

namespace tarnex::app {

std::string IsoLocalTime(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso(text, n);
  // strftime writes the offset as +hhmm; ISO 8601's extended form, as the date has it,
  // separates the minutes.
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

std::string LinePrefix::For(LineKind kind, std::time_t now) const {
  std::string prefix;
  if (journal) {
    prefix = kind == LineKind::Failure ? "<3>" : kind == LineKind::Warning ? "<4>" : "<6>";
  }
  if (timestamps) prefix += IsoLocalTime(now) + " ";
  return prefix;
}

}  // namespace tarnex::app
