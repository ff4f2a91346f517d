// What a folder listing says about each entry, for mget and mirror: the machine-readable
// listing of MLSD ("type=file;size=123;modify=20261208093000; name with blanks"), the UNIX
// long format of LIST as the fall-back, and the folder a PWD reply names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex {

enum class EntryKind {
  File,
  Folder,
  Link,          // a symbolic link; its target when the listing names it
  Other,         // a device, a pipe, a type the listing does not name
  FolderItself,  // MLSD's lines for the listed folder and its parent ("cdir", "pdir")
};

// How exactly a time is known: an MLSD fact or MDTM gives the second, a LIST line the
// minute (this half-year) or only the day (older files).
enum class TimePrecision { None, Day, Minute, Second };

struct DirectoryEntry {
  std::string name;
  EntryKind kind = EntryKind::Other;
  std::optional<int64_t> size{};
  std::optional<int64_t> modified{};  // seconds since 1970-01-01 UTC
  TimePrecision precision = TimePrecision::None;
  std::string link_target{};  // for a link, as the listing writes it
  std::string unique{};     // MLSD "unique": the same for two names of one folder
};

// One MLSD line. Facts are compared without case and may come in any order; the name is
// everything after the first blank, blanks and semicolons included. Nothing for a line
// without that blank.
std::optional<DirectoryEntry> ParseMlsdLine(std::string_view line);

// One LIST line in the UNIX long format: permissions, links, owner, [group,] size, a date of
// three columns, name. The columns are those of SplitListColumns, found from the left: the
// date is the first month name followed by a day and a time or a year, after a size. The
// name is the rest of the line after the date and its one blank, so that blanks inside a name
// survive (blanks at its start do not: they cannot be told from padding). A link's
// "name -> target" is split at the first " -> ". A date without a year lies within the year
// before `now` (seconds since 1970 UTC), as ls writes it; listed times are taken as UTC.
// Nothing for a line of any other form ("total 12", a DOS listing).
std::optional<DirectoryEntry> ParseUnixListLine(std::string_view line, int64_t now);

// The folder of a "257" reply to PWD: the text between the first double quote and its
// closing one, a doubled quote inside standing for one. Nothing for any other reply.
std::optional<std::string> ParsePwdReply(std::string_view reply);

// True for a name that may be used as a path element below a folder: not empty, not "." or
// "..", and without "/", "\" (in the thread's encoding: the second byte of a double-byte
// character is no backslash), NUL, CR or LF. A name from a server that fails this is never
// used.
bool IsSafeEntryName(std::string_view name);

}  // namespace tarnex
