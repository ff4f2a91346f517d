#include "ssh/ssh_channel_protocol.h"

#include <cctype>

namespace tarnex::ssh {
namespace {

constexpr std::string_view kAskpass = "askpass\n";
constexpr std::string_view kHostKey = "hostkey\n";

// The next line of `rest` (without its line end), or nothing when no line end is left.
std::optional<std::string_view> TakeLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return line;
}

}  // namespace

std::string EncodeRequest(const ChannelRequest& request) {
  if (const auto* ask = std::get_if<AskpassRequest>(&request)) {
    return std::string(kAskpass) + ask->prompt;
  }
  const auto& key = std::get<HostKeyReport>(request);
  return std::string(kHostKey) + key.host + "\n" + key.type + "\n" + key.fingerprint;
}

std::optional<ChannelRequest> DecodeRequest(std::string_view bytes) {
  if (bytes.size() > kMaxRequestBytes) return std::nullopt;
  if (bytes.starts_with(kAskpass)) {
    return AskpassRequest{std::string(bytes.substr(kAskpass.size()))};
  }
  if (!bytes.starts_with(kHostKey)) return std::nullopt;
  std::string_view rest = bytes.substr(kHostKey.size());
  const auto host = TakeLine(rest);
  const auto type = TakeLine(rest);
  if (!host || !type || rest.find('\n') != std::string_view::npos) return std::nullopt;
  return HostKeyReport{std::string(*host), std::string(*type), std::string(rest)};
}

bool IsPasswordPrompt(std::string_view prompt) {
  while (!prompt.empty() && std::isspace(static_cast<unsigned char>(prompt.back()))) {
    prompt.remove_suffix(1);
  }
  constexpr std::string_view kEnding = "password:";
  if (prompt.size() < kEnding.size()) return false;
  const std::string_view ending = prompt.substr(prompt.size() - kEnding.size());
  for (size_t i = 0; i < kEnding.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(ending[i])) != kEnding[i]) return false;
  }
  return true;
}

}  // namespace tarnex::ssh
