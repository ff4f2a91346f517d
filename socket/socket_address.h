// Socket addresses of either family, IPv4 or IPv6, held in a sockaddr_storage.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex::net {

using Address = sockaddr_storage;

// A host written as an address: four dotted decimal numbers, or IPv6 with or without brackets
// ("::1", "[::1]"). Nothing for a name or anything malformed. The port is 0.
std::optional<Address> ParseNumericAddress(std::string_view text);

// The host part as text: "127.0.0.1", "::1"; "?" for an address of no family.
std::string AddressText(const Address& address);

uint16_t AddressPort(const Address& address);
void SetAddressPort(Address& address, uint16_t port);
socklen_t AddressLength(const Address& address);

// The wildcard address of a family (0.0.0.0 or ::).
Address AnyAddress(int family);

// 0.0.0.0 or ::.
bool IsAnyAddress(const Address& address);

// 127.0.0.0/8, ::1, or an IPv4-mapped 127.x address: a peer on this machine.
bool IsLoopbackAddress(const Address& address);

// The same host, ports aside; an IPv4 address and its IPv4-mapped IPv6 form are the same.
bool SameHost(const Address& a, const Address& b);

}  // namespace tarnex::net
