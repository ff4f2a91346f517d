#include "ssh/ssh_failure.h"

#include <algorithm>
#include <string_view>

#include "ssh/ssh_host_key.h"

namespace tarnex::ssh {
namespace {

constexpr size_t kMaxQuotedLines = 12;

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

bool Contains(std::string_view line, std::string_view part) {
  return line.find(part) != std::string_view::npos;
}

bool OnlyBanner(std::string_view line) {
  return !line.empty() && line.find_first_not_of('@') == std::string_view::npos;
}

// The first line holding one of `parts`, or nothing.
const std::string* FirstLineWith(const std::vector<std::string>& lines,
                                 std::initializer_list<std::string_view> parts) {
  for (const auto& line : lines) {
    for (std::string_view part : parts) {
      if (Contains(line, part)) return &line;
    }
  }
  return nullptr;
}

std::string KeyText(const HostKeyReport& key) {
  return key.fingerprint + " (" + KeyTypeForPeople(key.type) + ")";
}

std::vector<std::string> ChangedKey(const SshFailureFacts& facts,
                                    const std::vector<std::string>& lines) {
  std::vector<std::string> message = {
      "HOST KEY OF " + ServerName(facts.host, facts.port) +
      " HAS CHANGED: the connection was refused. Either the server's key was replaced, or "
      "somebody is between you and the server. ssh says:"};
  // ssh's block from its warning on: the offered key, where the old one is and how to remove it.
  bool in_block = false;
  for (const auto& line : lines) {
    in_block = in_block || Contains(line, "REMOTE HOST IDENTIFICATION HAS CHANGED");
    if (!in_block || line.empty() || OnlyBanner(line)) continue;
    if (message.size() > kMaxQuotedLines + 1) break;
    message.push_back("  " + line);
  }
  return message;
}

std::vector<std::string> UnknownKey(const SshFailureFacts& facts, const HostKeyReport& key) {
  const std::string server = ServerName(facts.host, facts.port);
  if (!facts.host_key_pin.empty()) {
    return {"Host key of " + server + " is not the pinned key: it offered " + KeyText(key) +
            ", --ssh-hostkey is " + facts.host_key_pin};
  }
  return {"Host key of " + server + " is not known: " + KeyText(key),
          "To trust it: --ssh-hostkey " + key.fingerprint +
              " (this key only), --ssh-accept-new (remember it on first use), or "
              "--ssh-known-hosts FILE with a file that holds it"};
}

}  // namespace

std::string ServerName(const std::string& host, uint16_t port) {
  if (port == 0 || port == 22) return host;
  if (Contains(host, ":")) return "[" + host + "]:" + std::to_string(port);
  return host + ":" + std::to_string(port);
}

std::vector<std::string> DescribeSshFailure(const SshFailureFacts& facts) {
  std::vector<std::string> lines;
  for (const auto& line : facts.stderr_lines) lines.push_back(WithoutLineEnd(line));

  if (FirstLineWith(lines, {"REMOTE HOST IDENTIFICATION HAS CHANGED"})) {
    return ChangedKey(facts, lines);
  }
  const bool key_refused = FirstLineWith(lines, {"Host key verification failed."}) != nullptr;
  if (key_refused && !facts.offered_keys.empty()) {
    return UnknownKey(facts, facts.offered_keys.back());
  }
  if (const auto* denied = FirstLineWith(lines, {"Permission denied ("})) {
    return {"Login refused: " + *denied};
  }
  // Connection refused or timed out, a name not known, a server that hung up: ssh's own line.
  if (const auto* connect = FirstLineWith(
          lines, {"ssh: connect to host", "ssh: Could not resolve hostname",
                  "Connection timed out", "Connection closed by", "Connection reset by",
                  "kex_exchange_identification"})) {
    return {*connect};
  }
  std::vector<std::string> message;
  for (const auto& line : lines) {
    if (line.empty() || OnlyBanner(line)) continue;
    if (message.size() == kMaxQuotedLines) break;
    message.push_back(line);
  }
  if (message.empty()) message.push_back("ssh ended without saying why");
  return message;
}

}  // namespace tarnex::ssh
