// Listing lines for `Dir`: what a NAME entry looks like in the UNIX long format the FTP path
// shows and its listing parser (ParseUnixListLine) reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sftp/sftp_attributes.h"
#include "sftp/sftp_replies.h"

namespace tarnex::sftp {

// "-rw-r--r--    1 1000     1000         1234 Dec  8 12:00 name": the permissions (type and
// rights from st_mode), one link (this version carries no count), owner and group as numbers,
// the size, the modification time in UTC (the hour within the six months before `now`, in
// seconds since 1970, else the year, as ls writes it), the name. A field the server did not
// send shows as "?" (the permissions as "?---------" stand for none known).
std::string FormatListLine(std::string_view filename, const FileAttributes& attributes,
                           int64_t now);

// True when the server's longname reads as a long-format line of this entry: a permission
// column first, one line, and the entry's name at its end (a link's target may follow it).
bool LongnameIsUsable(const NameEntry& entry);

// The server's longname when it is usable, else the line FormatListLine makes.
std::string ListLineOf(const NameEntry& entry, int64_t now);

}  // namespace tarnex::sftp
