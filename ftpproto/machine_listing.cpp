#include "ftpproto/machine_listing.h"

#include <array>

#include "ftpproto/list_columns.h"
#include "ftpproto/remote_times.h"
#include "ftpproto/reply_parsing.h"
#include "text/sjis.h"

namespace tarnex {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return lower;
}

bool AllDigits(std::string_view text, size_t max_length) {
  if (text.empty() || text.size() > max_length) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int64_t Number(std::string_view digits) {
  int64_t value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// 1 to 12 for "Jan" to "Dec" (any case); 0 for anything else.
int MonthNumber(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string lower = Lower(text);
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (lower == kMonths[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool DayExists(int64_t year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int last = month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
  return day >= 1 && day <= last;
}

// The three date columns of a UNIX listing: month, day, and "hh:mm" or a year.
struct ListedDate {
  int64_t seconds = 0;
  TimePrecision precision = TimePrecision::None;
};

std::optional<ListedDate> ParseListedDate(std::string_view month_text, std::string_view day_text,
                                          std::string_view last, int64_t now) {
  const int month = MonthNumber(month_text);
  if (month == 0 || !AllDigits(day_text, 2)) return std::nullopt;
  const int day = static_cast<int>(Number(day_text));
  if (AllDigits(last, 4)) {
    const int64_t year = Number(last);
    if (year < 1970 || !DayExists(year, month, day)) return std::nullopt;
    return ListedDate{UtcSeconds(static_cast<int>(year), month, day, 0, 0, 0), TimePrecision::Day};
  }
  const size_t colon = last.find(':');
  if (colon == std::string_view::npos || !AllDigits(last.substr(0, colon), 2) ||
      !AllDigits(last.substr(colon + 1), 2) || last.size() - colon != 3) {
    return std::nullopt;
  }
  const int hour = static_cast<int>(Number(last.substr(0, colon)));
  const int minute = static_cast<int>(Number(last.substr(colon + 1)));
  if (hour > 23 || minute > 59) return std::nullopt;
  // Without a year the date lies in the last twelve months; a day of slack for time zones.
  int64_t year = Number(FormatFtpTime(now).substr(0, 4));
  for (int tries = 0; tries < 8; ++tries, --year) {
    if (!DayExists(year, month, day)) continue;  // 29 February of a year that has none
    const int64_t seconds = UtcSeconds(static_cast<int>(year), month, day, hour, minute, 0);
    if (seconds <= now + kSecondsPerDay) return ListedDate{seconds, TimePrecision::Minute};
  }
  return std::nullopt;
}

// The kind a permission column such as "-rw-r--r--" gives; nothing for another column.
std::optional<EntryKind> KindOfPermissions(std::string_view permissions) {
  if (permissions.size() < 10) return std::nullopt;
  switch (permissions.front()) {
    case '-':
      return EntryKind::File;
    case 'd':
      return EntryKind::Folder;
    case 'l':
      return EntryKind::Link;
    case 'b':
    case 'c':
    case 'p':
    case 's':
      return EntryKind::Other;
    default:
      return std::nullopt;
  }
}

// The byte offset just past column `count` of `line`, columns split as SplitListColumns splits
// them.
size_t EndOfColumn(std::string_view line, int count) {
  size_t p = 0;
  for (int column = 1; column <= count; ++column) {
    if (column > 1) {
      while (p < line.size() && line[p] == ' ') ++p;
    }
    while (p < line.size() && line[p] != ' ') ++p;
  }
  return p;
}

}  // namespace

std::optional<DirectoryEntry> ParseMlsdLine(std::string_view line) {
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank + 1 == line.size()) return std::nullopt;
  DirectoryEntry entry;
  entry.name = std::string(line.substr(blank + 1));
  std::string_view facts = line.substr(0, blank);
  while (!facts.empty()) {
    const size_t end = facts.find(';');
    const std::string_view fact = facts.substr(0, end);
    facts = end == std::string_view::npos ? std::string_view() : facts.substr(end + 1);
    const size_t equals = fact.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string key = Lower(fact.substr(0, equals));
    const std::string_view value = fact.substr(equals + 1);
    if (key == "type") {
      const std::string type = Lower(value);
      if (type == "file") {
        entry.kind = EntryKind::File;
      } else if (type == "dir") {
        entry.kind = EntryKind::Folder;
      } else if (type == "cdir" || type == "pdir") {
        entry.kind = EntryKind::FolderItself;
      } else if (type.starts_with("os.unix=slink") || type.starts_with("os.unix=symlink")) {
        entry.kind = EntryKind::Link;
        const size_t colon = value.find(':');
        if (colon != std::string_view::npos)
          entry.link_target = std::string(value.substr(colon + 1));
      }
    } else if (key == "size" && AllDigits(value, 18)) {
      entry.size = Number(value);
    } else if (key == "modify") {
      entry.modified = ParseFtpTime(value);
      if (entry.modified) entry.precision = TimePrecision::Second;
    } else if (key == "unique") {
      entry.unique = std::string(value);
    }
  }
  return entry;
}

std::optional<DirectoryEntry> ParseUnixListLine(std::string_view line, int64_t now) {
  const ListColumns columns = SplitListColumns(line);
  const auto& column = columns.column;
  const std::optional<EntryKind> kind = KindOfPermissions(column[1]);
  if (!kind) return std::nullopt;
  // From the left, so that a name with blanks cannot be taken for the date: the first month
  // after a size, followed by a day and a time or a year, with something after it.
  for (int c = 3; c + 2 < columns.count; ++c) {
    if (!AllDigits(column[c - 1], 18) || MonthNumber(column[c]) == 0) continue;
    const auto date = ParseListedDate(column[c], column[c + 1], column[c + 2], now);
    if (!date) continue;
    size_t at = EndOfColumn(line, c + 2) + 1;
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size()) return std::nullopt;
    DirectoryEntry entry;
    entry.kind = *kind;
    entry.name = std::string(line.substr(at));
    entry.size = Number(column[c - 1]);
    entry.modified = date->seconds;
    entry.precision = date->precision;
    if (*kind == EntryKind::Link) {
      const size_t arrow = entry.name.find(" -> ");
      if (arrow != std::string::npos) {
        entry.link_target = entry.name.substr(arrow + 4);
        entry.name.resize(arrow);
      }
    }
    return entry;
  }
  return std::nullopt;
}

std::optional<std::string> ParsePwdReply(std::string_view reply) {
  if (ValidReplyCode(reply) != int16_t{257}) return std::nullopt;
  const size_t open = reply.find('"');
  if (open == std::string_view::npos) return std::nullopt;
  std::string folder;
  for (size_t i = open + 1; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      folder += reply[i];
    } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
      folder += '"';
      ++i;
    } else {
      return folder.empty() ? std::nullopt : std::optional<std::string>(folder);
    }
  }
  return std::nullopt;
}

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // These bytes are never the second byte of a character, whatever the bytes before them
  // claim, so they are looked for everywhere (a lead byte before a "/" must not hide it).
  if (name.find_first_of(std::string_view("/\0\r\n", 4)) != std::string_view::npos) return false;
  for (size_t i = 0; i < name.size(); i += CharLengthAt(name, i)) {
    if (name[i] == '\\') return false;
  }
  return true;
}

}  // namespace tarnex
