// The lines of an FTP control connection that announce where a data connection goes: the
// server's 227 (PASV) and 229 (EPSV) replies, the client's PORT and EPRT commands. The latency
// proxy puts itself in between by answering each with an address of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex::bench {

struct Announcement {
  enum class Kind { Pasv, Epsv, Port, Eprt };
  Kind kind;
  std::string host;  // empty for EPSV: the host of the control connection
  uint16_t port = 0;
};

// A server's reply line (its line end may follow) that names a data port, or nothing.
std::optional<Announcement> ParseServerAnnouncement(std::string_view line);
// A client's command line that names a data port, or nothing.
std::optional<Announcement> ParseClientAnnouncement(std::string_view line);

// The verb of a client's command line in capitals ("RETR" of "retr a.bin\r\n"); empty for a
// line that starts with no letter (the blank of a Telnet sequence, an empty line).
std::string CommandVerb(std::string_view line);

// The line with the data endpoint replaced by 127.0.0.1 at `port`; the rest of the line (its
// text, its line end) stays as it was.
std::string Readdressed(std::string_view line, const Announcement& announced, uint16_t port);

}  // namespace tarnex::bench
