// tarnex-ssh-helper: what ssh runs on Tarnex's behalf, asking Tarnex over the channel named in
// $TARNEX_SSH_CHANNEL.
//   tarnex-ssh-helper PROMPT  |  tarnex-ssh-helper askpass PROMPT
//       ssh's SSH_ASKPASS: prints the password when Tarnex gives one for this prompt, else
//       exits 1 so that ssh gives up the question.
//   tarnex-ssh-helper known-hosts [--pin FP] HOST TYPE KEY FP
//       ssh's KnownHostsCommand: tells Tarnex which key was offered; with --pin prints the
//       known_hosts line "HOST TYPE KEY" when FP is the pin, and nothing otherwise.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/owned_fd.h"
#include "ssh/ssh_channel_protocol.h"

namespace {

using tarnex::platform::OwnedFd;

// Tarnex answers while its session waits for ssh; past this it is not waiting any more.
constexpr int kAnswerWithinMs = 60'000;

void Complain(const std::string& what) {
  std::fprintf(stderr, "tarnex-ssh-helper: %s\n", what.c_str());
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The channel's answer to `request`, or nothing when there is no channel to ask.
std::optional<std::string> Ask(const tarnex::ssh::ChannelRequest& request) {
  const char* path = std::getenv(tarnex::ssh::kChannelVariable);
  if (path == nullptr || *path == '\0') {
    Complain(std::string(tarnex::ssh::kChannelVariable) + " is not set");
    return std::nullopt;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) {
    Complain("the channel's path is too long");
    return std::nullopt;
  }
  std::strcpy(address.sun_path, path);
  OwnedFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid() ||
      ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    Complain(std::string("cannot reach Tarnex: ") + std::strerror(errno));
    return std::nullopt;
  }
  if (!SendAll(socket.Get(), tarnex::ssh::EncodeRequest(request)) ||
      ::shutdown(socket.Get(), SHUT_WR) != 0) {
    Complain(std::string("cannot ask Tarnex: ") + std::strerror(errno));
    return std::nullopt;
  }
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerWithinMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{socket.Get(), POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      Complain("Tarnex did not answer");
      return std::nullopt;
    }
    char block[1024];
    const ssize_t n = ::recv(socket.Get(), block, sizeof block, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return answer;
    answer.append(block, static_cast<size_t>(n));
    if (answer.size() > tarnex::ssh::kMaxRequestBytes) return std::nullopt;
  }
}

int AskPassword(const std::string& prompt) {
  std::optional<std::string> answer = Ask(tarnex::ssh::AskpassRequest{prompt});
  if (!answer || !answer->starts_with(tarnex::ssh::kPasswordAnswer)) return 1;
  std::string line = answer->substr(tarnex::ssh::kPasswordAnswer.size()) + "\n";
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fflush(stdout) == 0;
  ::explicit_bzero(line.data(), line.size());
  ::explicit_bzero(answer->data(), answer->size());
  return written ? 0 : 1;
}

bool IsOneWord(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  return true;
}

int KnownHosts(std::vector<std::string> args) {
  std::string pin;
  if (args.size() >= 2 && args[0] == "--pin") {
    pin = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 4) {
    Complain("known-hosts wants HOST TYPE KEY FINGERPRINT");
    return 2;
  }
  const std::string& host = args[0];
  const std::string& type = args[1];
  const std::string& key = args[2];
  const std::string& fingerprint = args[3];
  // ssh asks once without a key, to order its algorithms: nothing to tell or vouch for then.
  if (fingerprint.empty() || fingerprint == "NONE" || key == "NONE") return 0;
  if (!Ask(tarnex::ssh::HostKeyReport{host, type, fingerprint})) {
    // Only the message of a failure loses the key's name; the check itself is ssh's.
    Complain("the offered key could not be reported");
  }
  if (!pin.empty() && fingerprint == pin && IsOneWord(host) && IsOneWord(type) &&
      IsOneWord(key)) {
    std::printf("%s %s %s\n", host.c_str(), type.c_str(), key.c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // ssh runs SSH_ASKPASS with the prompt as its only argument.
  if (args.size() == 1) return AskPassword(args[0]);
  if (args.size() == 2 && args[0] == "askpass") return AskPassword(args[1]);
  if (!args.empty() && args[0] == "known-hosts") {
    return KnownHosts(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  Complain("usage: tarnex-ssh-helper askpass PROMPT | known-hosts [--pin FP] HOST TYPE KEY FP");
  return 2;
}
