#include "ssh/ssh_auth_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/message_loop.h"
#include "platform/scope_guard.h"

namespace tarnex::ssh {

using platform::OwnedFd;
namespace {

// ssh runs a helper per question, one after another; more at once than this is no ssh of ours.
constexpr size_t kMaxConnections = 8;

[[noreturn]] void ThrowSystemError(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::string MakePrivateFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnex-ssh-XXXXXX").string();
  // mkdtemp makes the folder with mode 0700: nobody else may enter it.
  if (::mkdtemp(pattern.data()) == nullptr) ThrowSystemError("mkdtemp " + pattern);
  return pattern;
}

bool FromThisUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  return peer.uid == ::geteuid();
}

// The password is overwritten before its memory is given back.
void Wipe(std::string& secret) {
  ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace

SshAuthChannel::SshAuthChannel(std::optional<std::string> password)
    : password_(std::move(password)), folder_(MakePrivateFolder()) {
  ScopeExit remove_folder([this] { ::rmdir(folder_.c_str()); });
  socket_path_ = folder_ + "/channel";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    ThrowSystemError("channel socket " + socket_path_);
  }
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  listener_ = OwnedFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener_.Valid()) ThrowSystemError("channel socket");
  if (::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError("bind " + socket_path_);
  }
  ScopeExit remove_socket([this] { ::unlink(socket_path_.c_str()); });
  if (::listen(listener_.Get(), static_cast<int>(kMaxConnections)) != 0) {
    ThrowSystemError("listen " + socket_path_);
  }
  platform::MessageLoop::Current().WatchSocket(listener_.Get(), POLLIN,
                                               [this](short) { AcceptPending(); });
  remove_socket.Dismiss();
  remove_folder.Dismiss();
}

SshAuthChannel::~SshAuthChannel() {
  auto& loop = platform::MessageLoop::Current();
  for (auto& [fd, connection] : connections_) loop.UnwatchSocket(fd);
  connections_.clear();
  loop.UnwatchSocket(listener_.Get());
  listener_.Close();
  ::unlink(socket_path_.c_str());
  ::rmdir(folder_.c_str());
  if (password_) Wipe(*password_);
}

void SshAuthChannel::AcceptPending() {
  for (;;) {
    OwnedFd socket(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket.Valid()) return;  // none left (EAGAIN), or one that went before it was taken
    // The folder keeps other users out; this holds even if somebody opened it up.
    if (!FromThisUser(socket.Get())) {
      ++peers_refused_;
      continue;
    }
    if (connections_.size() >= kMaxConnections) continue;
    const int fd = socket.Get();
    connections_.emplace(fd, Connection{std::move(socket), {}});
    platform::MessageLoop::Current().WatchSocket(fd, POLLIN, [this, fd](short) { ReadFrom(fd); });
  }
}

void SshAuthChannel::ReadFrom(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  std::string& request = it->second.request;
  char block[1024];
  for (;;) {
    const ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // more to come
    if (n < 0) return Drop(fd);
    if (n == 0) break;  // the whole request is in
    request.append(block, static_cast<size_t>(n));
    if (request.size() > kMaxRequestBytes) return Drop(fd);
  }
  const auto decoded = DecodeRequest(request);
  Wipe(request);
  if (decoded) {
    std::string answer(Answer(*decoded));
    if (std::holds_alternative<AskpassRequest>(*decoded) && answer.starts_with(kPasswordAnswer)) {
      answer += *password_;
    }
    // A few bytes into an empty socket buffer: they fit, and a helper that went away
    // meanwhile only loses its own answer.
    (void)::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Wipe(answer);
  }
  Drop(fd);
}

std::string_view SshAuthChannel::Answer(const ChannelRequest& request) {
  if (const auto* key = std::get_if<HostKeyReport>(&request)) {
    bool known = false;
    for (const auto& seen : offered_keys_) known = known || seen == *key;
    if (!known) offered_keys_.push_back(*key);
    return kReportTaken;
  }
  if (password_ && IsPasswordPrompt(std::get<AskpassRequest>(request).prompt)) {
    ++passwords_given_;
    return kPasswordAnswer;
  }
  ++prompts_refused_;
  return kNoAnswer;
}

void SshAuthChannel::Drop(int fd) {
  platform::MessageLoop::Current().UnwatchSocket(fd);
  connections_.erase(fd);
}

}  // namespace tarnex::ssh
