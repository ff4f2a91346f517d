#include "socket/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "socket/socket_errors.h"

namespace tarnex::net {

LookupResult ResolveAddresses(const std::string& name) {
  LookupResult result;
  if (name.empty()) {
    result.error = kWsaHostNotFound;
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;  // no IPv6 addresses on a machine without IPv6, and so on
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  if (status != 0) {
    result.error = WinsockCodeFromLookupError(status, errno);
    return result;
  }
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) || entry->ai_addr == nullptr) {
      continue;
    }
    Address address{};
    std::memcpy(&address, entry->ai_addr, std::min<size_t>(entry->ai_addrlen, sizeof address));
    result.addresses.push_back(address);
  }
  if (result.addresses.empty()) result.error = kWsaNoData;
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
        result = resolver ? resolver(name) : ResolveAddresses(name);
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
