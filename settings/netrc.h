// The netrc file: user names and passwords per host, kept out of scripts and command lines.
// A pure parser (text in, entries out) and the lookup of the entry for a host.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::settings {

// One "machine" entry, or the "default" entry (is_default, no machine name).
struct NetrcEntry {
  std::string machine;
  bool is_default = false;
  std::optional<std::string> login;
  std::optional<std::string> password;
  std::optional<std::string> account;
  bool operator==(const NetrcEntry&) const = default;
};

struct NetrcParse {
  std::vector<NetrcEntry> entries;
  // Why the text is no netrc file ("line 3: ..."); empty when it is one. The text never
  // quotes a word of the file: a misplaced word may be a password.
  std::string error;
};

// Reads the words "machine NAME", "default", "login NAME", "password WORD", "account WORD" and
// "macdef NAME" (whose body runs to the next empty line and is skipped), separated by blanks,
// tabs and line ends; keywords in any case. A word in double quotes may hold blanks, and in it
// \" \\ \n \r \t stand for a quote, a backslash, LF, CR and TAB (an unquoted word is taken as it
// is, backslashes and all). A line whose first character that is no blank is "#" is a comment.
NetrcParse ParseNetrc(std::string_view text);

// What Login takes from the file.
struct NetrcLogin {
  std::string user;
  std::string password;
  bool operator==(const NetrcLogin&) const = default;
};

// The entry for `host` (compared without case, brackets around an address ignored), or else
// the default entry. With `user` given, only an entry for that user (or one naming none) that
// holds a password counts, and it gives the password; without, the first entry found gives its
// login and password. Nothing when no entry has anything to add.
std::optional<NetrcLogin> FindNetrcLogin(const std::vector<NetrcEntry>& entries,
                                         std::string_view host, std::string_view user);

}  // namespace tarnex::settings
