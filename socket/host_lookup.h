// Host names to addresses, IPv6 and IPv4. An address written as such needs no lookup; a name
// is looked up on a worker thread and its result comes back through the message loop, so that the waiting
// thread stays responsive and can give up on a lookup that takes too long.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_loop.h"
#include "socket/socket_address.h"

namespace tarnex::net {

struct LookupResult {
  uint16_t error = 0;                // WinSock code; 0 when addresses were found
  std::vector<Address> addresses;    // in the resolver's order of preference
};

// Looks `name` up (IPv6 and IPv4) and blocks until the system's resolver answers.
LookupResult ResolveAddresses(const std::string& name);

using Resolver = std::function<LookupResult(const std::string& name)>;

// One lookup on its own thread. `done` runs from a later dispatch of `loop`, unless the
// lookup is abandoned first; a lookup that is abandoned (or destroyed) while the resolver is
// still busy is left to finish on its own and its result is dropped.
class HostLookup {
 public:
  HostLookup(platform::MessageLoop& loop, const Resolver& resolver, std::string name,
             std::function<void(const LookupResult&)> done);
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  void Abandon();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tarnex::net
