#include "socket/socket_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace tarnex::net {
namespace {

const sockaddr_in& V4(const Address& address) {
  return reinterpret_cast<const sockaddr_in&>(address);
}
const sockaddr_in6& V6(const Address& address) {
  return reinterpret_cast<const sockaddr_in6&>(address);
}

// The IPv4 address inside an IPv4 or IPv4-mapped IPv6 address.
std::optional<in_addr> AsV4(const Address& address) {
  if (address.ss_family == AF_INET) return V4(address).sin_addr;
  if (address.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&V6(address).sin6_addr)) {
    in_addr v4{};
    std::memcpy(&v4, V6(address).sin6_addr.s6_addr + 12, sizeof v4);
    return v4;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Address> ParseNumericAddress(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string_view::npos) return std::nullopt;  // "[1.2.3.4]"
  }
  const std::string copy(text);  // inet_pton wants a terminated string
  Address address{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  if (::inet_pton(AF_INET, copy.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return address;
  }
  address = Address{};
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (::inet_pton(AF_INET6, copy.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    return address;
  }
  return std::nullopt;
}

std::string AddressText(const Address& address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &V4(address).sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &V6(address).sin6_addr, text, sizeof text);
  }
  return text;
}

uint16_t AddressPort(const Address& address) {
  if (address.ss_family == AF_INET) return ntohs(V4(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(V6(address).sin6_port);
  return 0;
}

void SetAddressPort(Address& address, uint16_t port) {
  if (address.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
  }
}

socklen_t AddressLength(const Address& address) {
  return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

Address AnyAddress(int family) {
  Address address{};
  if (family == AF_INET6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_any;
  } else {
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  return address;
}

bool IsAnyAddress(const Address& address) {
  if (address.ss_family == AF_INET) return V4(address).sin_addr.s_addr == htonl(INADDR_ANY);
  return address.ss_family == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&V6(address).sin6_addr);
}

bool IsLoopbackAddress(const Address& address) {
  if (const auto v4 = AsV4(address)) return (ntohl(v4->s_addr) >> 24) == 127;
  return address.ss_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&V6(address).sin6_addr);
}

bool SameHost(const Address& a, const Address& b) {
  const auto a4 = AsV4(a);
  const auto b4 = AsV4(b);
  if (a4 || b4) return a4 && b4 && a4->s_addr == b4->s_addr;
  if (a.ss_family != AF_INET6 || b.ss_family != AF_INET6) return false;
  return std::memcmp(&V6(a).sin6_addr, &V6(b).sin6_addr, sizeof(in6_addr)) == 0;
}

}  // namespace tarnex::net
