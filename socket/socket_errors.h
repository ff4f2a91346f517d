// Socket error codes. Every failure of a socket call is known by its WinSock code, so that
// the texts users and scripts see ("10061:Connection refused") are the same on every system.
#pragma once

#include <cstdint>
#include <string>

namespace tarnex::net {

inline constexpr uint16_t kWsaEInterrupted = 10004;
inline constexpr uint16_t kWsaEBadFile = 10009;
inline constexpr uint16_t kWsaEAccess = 10013;
inline constexpr uint16_t kWsaEInvalid = 10022;
inline constexpr uint16_t kWsaEWouldBlock = 10035;
inline constexpr uint16_t kWsaEInProgress = 10036;
inline constexpr uint16_t kWsaEAddrInUse = 10048;
inline constexpr uint16_t kWsaEConnAborted = 10053;
inline constexpr uint16_t kWsaEConnReset = 10054;
inline constexpr uint16_t kWsaENotConnected = 10057;
inline constexpr uint16_t kWsaETimedOut = 10060;
inline constexpr uint16_t kWsaEConnRefused = 10061;
inline constexpr uint16_t kWsaHostNotFound = 11001;
inline constexpr uint16_t kWsaTryAgain = 11002;
inline constexpr uint16_t kWsaNoRecovery = 11003;
inline constexpr uint16_t kWsaNoData = 11004;
// Not the socket library's: a TLS connection that ended without the peer's close_notify. The
// bytes so far may be all or part of what was sent; nobody can tell, so it is no orderly end.
inline constexpr uint16_t kTlsCutShort = 12001;

// An errno value unknown to the table is reported as this base plus the errno, which is
// above 10000 (so it is never mistaken for success) and outside the table.
inline constexpr uint16_t kUnmappedErrnoBase = 20000;

// "10061:Connection refused" for a code of the table, "Unknown Error No. N" for any other
// code, and an empty text for 0.
std::string ErrorMessageText(uint16_t code);

// The WinSock code of an errno value (ECONNREFUSED gives 10061, EAGAIN 10035, ...).
uint16_t WinsockCodeFromErrno(int error);

// The WinSock code of a getaddrinfo failure (EAI_NONAME gives 11001, ...).
uint16_t WinsockCodeFromLookupError(int eai_error, int system_errno);

// True for errors after which the connection is gone for good: the next call on the same
// socket must report the same error again.
bool IsConnectionLost(uint16_t code);

}  // namespace tarnex::net
