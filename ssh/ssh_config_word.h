// Values of `-o Keyword=value` on ssh's command line. ssh splits such a value into words as
// it splits its config files (blanks part them unless quoted), replaces "%x" tokens in some
// keywords and "${NAME}" in others; a path is quoted and its "%" doubled so that it arrives as
// written.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::ssh {

// Empty when `path` can be handed to ssh as one word, else why not: a double quote, a
// backslash, a control character or "${" would be read by ssh, not passed on.
std::string CheckPathForSsh(std::string_view path);

// `path` in double quotes for a keyword that expands "%" tokens (IdentityFile,
// UserKnownHostsFile, the arguments of KnownHostsCommand): every "%" doubled.
std::string QuotedPathWithTokens(std::string_view path);

// `path` in double quotes, "%" left alone: the program of KnownHostsCommand, which ssh runs
// as named.
std::string QuotedPath(std::string_view path);

}  // namespace tarnex::ssh
