// What tarnex-ssh-helper and Tarnex say to each other over the channel: one request from the
// helper, its whole message up to the end of its sending side, and one answer from Tarnex.
//   askpass\n<prompt>                     -> "password\n<password>" or "no\n"
//   hostkey\n<host>\n<type>\n<fingerprint> -> "ok\n"
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarnex::ssh {

// The variable that carries the channel's socket path to the helper.
inline constexpr char kChannelVariable[] = "TARNEX_SSH_CHANNEL";
// A request longer than this is no request of the helper's.
inline constexpr std::size_t kMaxRequestBytes = 8192;

struct AskpassRequest {
  std::string prompt;
  bool operator==(const AskpassRequest&) const = default;
};

// The key a server offered, as ssh handed it to the known-hosts command.
struct HostKeyReport {
  std::string host;  // as looked up: "[127.0.0.1]:2222" off port 22
  std::string type;  // "ssh-ed25519"
  std::string fingerprint;  // "SHA256:..."
  bool operator==(const HostKeyReport&) const = default;
};

using ChannelRequest = std::variant<AskpassRequest, HostKeyReport>;

std::string EncodeRequest(const ChannelRequest& request);
// Nothing when `bytes` is no well-formed request.
std::optional<ChannelRequest> DecodeRequest(std::string_view bytes);

inline constexpr std::string_view kPasswordAnswer = "password\n";
inline constexpr std::string_view kNoAnswer = "no\n";
inline constexpr std::string_view kReportTaken = "ok\n";

// ssh asks for a login password with "user@host's password: " (a server's own question may
// be "Password:"); a key's passphrase or a yes/no question is something else.
bool IsPasswordPrompt(std::string_view prompt);

}  // namespace tarnex::ssh
