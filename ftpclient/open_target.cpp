#include "ftpclient/open_target.h"

#include <array>
#include <charconv>
#include <utility>

#include "text/string_helpers.h"

namespace tarnex {
namespace {

struct Scheme {
  std::string_view name;
  RemoteProtocol protocol;
  bool implicit_tls;
};

constexpr std::array<Scheme, 3> kSchemes{{
    {"sftp", RemoteProtocol::Sftp, false},
    {"ftp", RemoteProtocol::Ftp, false},
    {"ftps", RemoteProtocol::Ftp, true},
}};

std::optional<int32_t> PortNumber(std::string_view text) {
  int32_t port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

}  // namespace

std::variant<OpenTarget, std::string> ParseOpenTarget(std::string_view word) {
  const size_t separator = word.find("://");
  if (separator == std::string_view::npos) return OpenTarget{std::nullopt, false, std::string(word), 0};
  const std::string_view scheme_name = word.substr(0, separator);
  const Scheme* scheme = nullptr;
  for (const Scheme& known : kSchemes) {
    if (SameText(scheme_name, known.name)) scheme = &known;
  }
  const std::string shown(word);
  if (scheme == nullptr) {
    return "Open: " + shown + ": give sftp://, ftp:// or ftps://, or the host alone";
  }
  std::string_view rest = word.substr(separator + 3);
  if (rest.ends_with('/')) rest.remove_suffix(1);  // "sftp://host/" names the host alone
  if (rest.find('@') != std::string_view::npos) {
    return "Open: " + shown + ": the user is given by Login, not in the address";
  }
  if (rest.find('/') != std::string_view::npos) {
    return "Open: " + shown + ": a folder after the host is not taken: use Cd after Login";
  }
  OpenTarget target{scheme->protocol, scheme->implicit_tls, {}, 0};
  std::string_view port_text;
  if (rest.starts_with('[')) {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return "Open: " + shown + ": the address lacks its ']'";
    target.host = std::string(rest.substr(1, close - 1));
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) {
      return "Open: " + shown + ": only a port may follow the address";
    }
    port_text = after.empty() ? after : after.substr(1);
    if (after == ":") return "Open: " + shown + ": the port is missing after ':'";
  } else {
    const size_t colon = rest.find(':');
    target.host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) {
      port_text = rest.substr(colon + 1);
      if (port_text.empty()) return "Open: " + shown + ": the port is missing after ':'";
    }
  }
  if (target.host.empty()) return "Open: " + shown + ": no host is named";
  if (!port_text.empty()) {
    const std::optional<int32_t> port = PortNumber(port_text);
    if (!port) return "Open: " + shown + ": the port must be a number from 1 to 65535";
    target.port = *port;
  }
  return target;
}

}  // namespace tarnex
