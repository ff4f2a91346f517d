#include "sftp/sftp_listing.h"

#include <array>
#include <chrono>
#include <cstdio>

namespace tarnex::sftp {
namespace {

// Half of an average Gregorian year: ls shows the hour for files younger than this.
constexpr int64_t kSixMonths = 31'556'952 / 2;

char TypeLetter(uint32_t mode) {
  switch (mode & kFileTypeMask) {
    case kTypeFolder:
      return 'd';
    case kTypeFile:
      return '-';
    case kTypeLink:
      return 'l';
    case 0020000:
      return 'c';
    case 0060000:
      return 'b';
    case 0010000:
      return 'p';
    case 0140000:
      return 's';
    default:
      return '?';
  }
}

std::string PermissionColumn(const std::optional<uint32_t>& permissions) {
  if (!permissions) return "?---------";
  const uint32_t mode = *permissions;
  std::string column(10, '-');
  column[0] = TypeLetter(mode);
  static constexpr std::array<char, 3> kRights = {'r', 'w', 'x'};
  for (int bit = 0; bit < 9; ++bit) {
    if (mode & (0400u >> bit)) column[1 + bit] = kRights[bit % 3];
  }
  // set-user-id, set-group-id and sticky show in the execute places: lower case with x.
  auto special = [&](uint32_t flag, size_t at, char letter) {
    if (mode & flag) column[at] = column[at] == 'x' ? letter : static_cast<char>(letter - 32);
  };
  special(04000, 3, 's');
  special(02000, 6, 's');
  special(01000, 9, 't');
  return column;
}

std::string DateColumns(const std::optional<FileTimes>& times, int64_t now) {
  if (!times) return "??? ?? ?????";
  using namespace std::chrono;
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int64_t when = times->mtime;
  const sys_seconds moment{seconds{when}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  char text[32];
  const char* month = kMonths[static_cast<unsigned>(date.month()) - 1];
  const unsigned day_of_month = static_cast<unsigned>(date.day());
  if (when > now - kSixMonths && when <= now) {
    const hh_mm_ss clock{moment - day};
    std::snprintf(text, sizeof text, "%s %2u %02d:%02d", month, day_of_month,
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()));
  } else {
    std::snprintf(text, sizeof text, "%s %2u  %d", month, day_of_month,
                  static_cast<int>(date.year()));
  }
  return text;
}

std::string PadLeft(std::string text, size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string PadRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string FormatListLine(std::string_view filename, const FileAttributes& attributes,
                           int64_t now) {
  const auto& owner = attributes.owner;
  std::string line = PermissionColumn(attributes.permissions);
  line += ' ' + PadLeft("1", 4);
  line += ' ' + PadRight(owner ? std::to_string(owner->uid) : "?", 8);
  line += ' ' + PadRight(owner ? std::to_string(owner->gid) : "?", 8);
  line += ' ' + PadLeft(attributes.size ? std::to_string(*attributes.size) : "?", 8);
  line += ' ' + DateColumns(attributes.times, now);
  line += ' ';
  line += filename;
  return line;
}

bool LongnameIsUsable(const NameEntry& entry) {
  const std::string_view line = entry.longname;
  if (line.size() < 10 || entry.filename.empty()) return false;
  if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  if (std::string_view("-dlbcps").find(line[0]) == std::string_view::npos) return false;
  const size_t first_blank = line.find(' ');
  if (first_blank == std::string_view::npos || first_blank < 10) return false;
  return line.ends_with(" " + entry.filename) ||
         line.find(" " + entry.filename + " -> ") != std::string_view::npos;
}

std::string ListLineOf(const NameEntry& entry, int64_t now) {
  return LongnameIsUsable(entry) ? entry.longname
                                 : FormatListLine(entry.filename, entry.attributes, now);
}

}  // namespace tarnex::sftp
