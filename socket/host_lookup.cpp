#include "socket/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

#include "socket/socket_errors.h"

namespace tarnex::net {

std::optional<in_addr> ParseDottedAddress(std::string_view text) {
  std::string copy(text);  // inet_pton wants a terminated string
  in_addr address{};
  if (::inet_pton(AF_INET, copy.c_str(), &address) != 1) return std::nullopt;
  return address;
}

LookupResult ResolveIPv4(const std::string& name) {
  LookupResult result;
  if (name.empty()) {
    result.error = kWsaHostNotFound;
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  if (status != 0) {
    result.error = WinsockCodeFromLookupError(status, errno);
    return result;
  }
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      result.address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
      return result;
    }
  }
  result.error = kWsaNoData;
  return result;
}

// Shared by the owner and the worker thread, so that neither outlives what it touches.
struct HostLookup::State {
  std::mutex mutex;
  bool abandoned = false;                         // guarded by `mutex`
  platform::MessageLoop* loop;                    // used by the worker only under `mutex`
  std::function<void(const LookupResult&)> done;  // used on the owner's thread only
};

HostLookup::HostLookup(platform::MessageLoop& loop, const Resolver& resolver, std::string name,
                       std::function<void(const LookupResult&)> done)
    : state_(std::make_shared<State>()) {
  state_->loop = &loop;
  state_->done = std::move(done);
  auto finish = [state = state_](LookupResult result) {
    std::lock_guard lock(state->mutex);
    if (state->abandoned) return;
    state->loop->Post([state, result] {
      {
        std::lock_guard inner(state->mutex);
        if (state->abandoned) return;
        state->abandoned = true;  // delivered once
      }
      auto done_call = std::move(state->done);
      done_call(result);
    });
  };
  try {
    std::thread([resolver, name = std::move(name), finish] {
      LookupResult result;
      try {
        result = resolver ? resolver(name) : ResolveIPv4(name);
      } catch (...) {
        result = LookupResult{kWsaNoRecovery, {}};
      }
      finish(result);
    }).detach();
  } catch (const std::system_error&) {
    LookupResult failed;
    failed.error = kWsaTryAgain;  // no thread for the lookup: a temporary failure
    finish(failed);
  }
}

HostLookup::~HostLookup() {
  Abandon();
}

void HostLookup::Abandon() {
  std::function<void(const LookupResult&)> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
  }
  dropped.swap(state_->done);  // let go of what the callback holds, on the owner's thread
}

}  // namespace tarnex::net
