// What Open's host word names. A bare host is reached by the protocol of the settings, as it
// always was; a URL-style host chooses its own: sftp://host[:port], ftp://host[:port] and
// ftps://host[:port] (TLS from the first byte). An IPv6 address goes in brackets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "ftpproto/ftp_types.h"

namespace tarnex {

struct OpenTarget {
  std::optional<RemoteProtocol> protocol;  // nothing for a bare host
  bool implicit_tls = false;               // ftps://
  std::string host;
  int32_t port = 0;  // 0 when the URL names none
};

// The target, or the line that says why the word cannot be one (a scheme of another kind, a
// user or a path in it, a port that is no port). A word without "://" is a bare host, taken as
// it stands.
std::variant<OpenTarget, std::string> ParseOpenTarget(std::string_view word);

}  // namespace tarnex
