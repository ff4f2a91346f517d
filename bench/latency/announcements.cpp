#include "bench/latency/announcements.h"

#include <array>
#include <cctype>
#include <charconv>

namespace tarnex::bench {
namespace {

bool StartsWithWord(std::string_view line, std::string_view word) {
  if (line.size() <= word.size() || line[word.size()] != ' ') return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
  }
  return true;
}

// Six numbers "h1,h2,h3,h4,p1,p2" from `from` on: where they stand, and what they say.
struct HostPort {
  size_t begin = 0, end = 0;
  std::string host;
  uint16_t port = 0;
};

std::optional<HostPort> SixNumbers(std::string_view line, size_t from) {
  const size_t begin = line.find_first_of("0123456789", from);
  if (begin == std::string_view::npos) return std::nullopt;
  std::array<unsigned, 6> numbers{};
  size_t at = begin;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (at >= line.size() || line[at] != ',') return std::nullopt;
      ++at;
    }
    const auto [end, error] =
        std::from_chars(line.data() + at, line.data() + line.size(), numbers[i]);
    if (error != std::errc() || numbers[i] > 255) return std::nullopt;
    at = static_cast<size_t>(end - line.data());
  }
  HostPort found{begin, at, {}, static_cast<uint16_t>(numbers[4] * 256 + numbers[5])};
  for (size_t i = 0; i < 4; ++i) found.host += (i ? "." : "") + std::to_string(numbers[i]);
  return found;
}

// The port between the third and fourth delimiter of "(|||port|)" or "|1|host|port|", with the
// host between the second and third.
struct Delimited {
  size_t port_begin = 0, port_end = 0;
  std::string host;
  uint16_t port = 0;
};

std::optional<Delimited> DelimitedFields(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char delimiter = text[0];
  std::array<size_t, 4> at{};
  size_t from = 0;
  for (size_t& position : at) {
    position = text.find(delimiter, from);
    if (position == std::string_view::npos) return std::nullopt;
    from = position + 1;
  }
  unsigned port = 0;
  const auto [end, error] = std::from_chars(text.data() + at[2] + 1, text.data() + at[3], port);
  if (error != std::errc() || end != text.data() + at[3] || port == 0 || port > 65535) {
    return std::nullopt;
  }
  return Delimited{at[2] + 1, at[3], std::string(text.substr(at[1] + 1, at[2] - at[1] - 1)),
                   static_cast<uint16_t>(port)};
}

std::string PortNumbers(uint16_t port) {
  return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

}  // namespace

std::optional<Announcement> ParseServerAnnouncement(std::string_view line) {
  if (line.substr(0, 4) == "227 ") {
    if (const auto found = SixNumbers(line, 4)) {
      return Announcement{Announcement::Kind::Pasv, found->host, found->port};
    }
  } else if (line.substr(0, 4) == "229 ") {
    const size_t open = line.find('(', 4);
    if (open == std::string_view::npos) return std::nullopt;
    if (const auto found = DelimitedFields(line.substr(open + 1))) {
      return Announcement{Announcement::Kind::Epsv, "", found->port};
    }
  }
  return std::nullopt;
}

std::string CommandVerb(std::string_view line) {
  std::string verb;
  for (const char c : line) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return verb;
}

std::optional<Announcement> ParseClientAnnouncement(std::string_view line) {
  if (StartsWithWord(line, "PORT")) {
    if (const auto found = SixNumbers(line, 5)) {
      return Announcement{Announcement::Kind::Port, found->host, found->port};
    }
  } else if (StartsWithWord(line, "EPRT")) {
    if (const auto found = DelimitedFields(line.substr(5))) {
      return Announcement{Announcement::Kind::Eprt, found->host, found->port};
    }
  }
  return std::nullopt;
}

std::string Readdressed(std::string_view line, const Announcement& announced, uint16_t port) {
  const size_t line_end = line.find_first_of("\r\n");
  const std::string_view ending =
      line_end == std::string_view::npos ? std::string_view() : line.substr(line_end);
  switch (announced.kind) {
    case Announcement::Kind::Pasv: {
      const auto found = SixNumbers(line, 4);
      return std::string(line.substr(0, found->begin)) + PortNumbers(port) +
             std::string(line.substr(found->end));
    }
    case Announcement::Kind::Epsv: {
      const size_t open = line.find('(', 4) + 1;
      const auto found = DelimitedFields(line.substr(open));
      return std::string(line.substr(0, open + found->port_begin)) + std::to_string(port) +
             std::string(line.substr(open + found->port_end));
    }
    case Announcement::Kind::Port:
      return std::string(line.substr(0, 5)) + PortNumbers(port) + std::string(ending);
    case Announcement::Kind::Eprt:
      return std::string(line.substr(0, 5)) + "|1|127.0.0.1|" + std::to_string(port) + "|" +
             std::string(ending);
  }
  return std::string(line);
}

}  // namespace tarnex::bench
