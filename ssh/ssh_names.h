// What Tarnex hands to ssh from a script: a host and a user name go on ssh's command line, so
// one that ssh would read as an option or as more than a name is refused before ssh runs.
#pragma once

#include <string>
#include <string_view>

namespace tarnex::ssh {

// Empty when `host` may go to ssh, else why not. A host is a name or an address: letters,
// digits and ". - _ :" (an IPv6 address; "%" for its zone), never beginning with "-".
std::string CheckHost(std::string_view host);

// Empty when `user` may go to ssh (-l USER), else why not: no blank or control character,
// no "-" in front, none of the characters a shell reads (' ` " $ \ ; & < > | ( )).
std::string CheckUser(std::string_view user);

}  // namespace tarnex::ssh
