// File-name patterns for mget and mput: "*" stands for any run of characters, "?" for one
// character and "[...]" for one character of a set ("[abc]", ranges "[a-z]", "[!x]" or "[^x]"
// for any other). Characters are those of the thread's text encoding, so a double-byte
// character counts as one and its second byte never acts as "[" or "]". Nothing escapes a
// special character: "[*]" matches a star. Case counts, as on the servers' file systems.
#pragma once

#include <string_view>

namespace tarnex {

// True when `pattern` matches the whole of `name`. A name that begins with "." is matched
// only by a pattern that begins with "." too, as a shell does, so that "*" leaves hidden
// files alone; with `hidden_too` ("mget --all") any pattern may match it.
bool MatchesWildcard(std::string_view pattern, std::string_view name, bool hidden_too = false);

}  // namespace tarnex
