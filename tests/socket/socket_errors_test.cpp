#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/host_lookup.h"
#include "socket/socket_address.h"
#include "socket/socket_errors.h"

namespace tarnex {
namespace {

TEST(ErrorMessage, TextsOfTheTable) {
  struct Case {
    uint16_t code;
    const char* text;
  } cases[] = {
      {0, ""},
      {10004, "10004:Interrupted system call"},
      {10035, "10035:Operation would block"},
      {10049, "10049:Can't assign requested address"},
      {10054, "10054:Connection reset by peer"},
      {10059, "10059:Too many references, can't splice"},
      {10061, "10061:Connection refused"},
      {10065, "10065:No route to Host"},
      {10071, "10071:Too many levels of remote in path"},
      {10091, "10091:Network subsystem is unavailable"},
      {10093, "10093:Successful WSAStartup not yet performed"},
      {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
      {11004, "11004:Valid name, no data record of requested type"},
      {12345, "Unknown Error No. 12345"},
      {10072, "Unknown Error No. 10072"},  // between table entries
      {1, "Unknown Error No. 1"},
  };
  TAsyncSock sock;
  for (const auto& c : cases) {
    EXPECT_EQ(net::ErrorMessageText(c.code), c.text) << c.code;
    EXPECT_EQ(sock.ErrorMessage(c.code), c.text) << c.code;
  }
}

TEST(ErrorMessage, TheTableHoldsTheSocketLibrarysFiftyAndTheTlsCut) {
  int known = 0;
  for (uint32_t code = 1; code <= 65535; ++code) {
    if (net::ErrorMessageText(static_cast<uint16_t>(code)).rfind("Unknown", 0) != 0) ++known;
  }
  EXPECT_EQ(known, 51);
}

TEST(ErrorMessage, ErrnoValuesMapToTheirWinsockCodes) {
  struct Case {
    int error;
    uint16_t code;
  } cases[] = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054},    {EWOULDBLOCK, 10035}, {EAGAIN, 10035},
      {ENOTCONN, 10057},     {ETIMEDOUT, 10060},     {EPIPE, 10054},       {ECONNABORTED, 10053},
      {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065},
      {EINVAL, 10022},       {EBADF, 10009},         {EACCES, 10013},      {EMSGSIZE, 10040},
      {EMFILE, 10024},       {EINPROGRESS, 10036},   {EISCONN, 10056},     {ENOTSOCK, 10038},
  };
  for (const auto& c : cases) EXPECT_EQ(net::WinsockCodeFromErrno(c.error), c.code) << c.error;
  // An errno the table does not know is still a failure, with a code outside the table.
  uint16_t unknown = net::WinsockCodeFromErrno(EIO);
  EXPECT_GT(unknown, 10000);
  EXPECT_EQ(net::ErrorMessageText(unknown).rfind("Unknown Error No. ", 0), 0u);
}

TEST(ErrorMessage, LookupFailuresMapToTheHostCodes) {
  EXPECT_EQ(net::WinsockCodeFromLookupError(EAI_NONAME, 0), 11001);
  EXPECT_EQ(net::WinsockCodeFromLookupError(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(net::WinsockCodeFromLookupError(EAI_FAIL, 0), 11003);
  EXPECT_EQ(net::WinsockCodeFromLookupError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(NumericAddress, FourNumbersOrAnIpv6AddressWithOrWithoutBrackets) {
  struct Case {
    const char* text;
    const char* address;  // empty: a name, not an address
  } cases[] = {
      {"127.0.0.1", "127.0.0.1"}, {"10.0.0.1", "10.0.0.1"},   {"::1", "::1"},
      {"[::1]", "::1"},           {"[fe80::1]", "fe80::1"},   {"", ""},
      {"localhost", ""},          {"10.1", ""},               {"1.2.3.256", ""},
      {"1.2.3.4 ", ""},           {"ftp.example.com", ""},    {"[1.2.3.4]", ""},
      {"[::1", ""},               {"::1]", ""},
  };
  for (const auto& c : cases) {
    const auto address = net::ParseNumericAddress(c.text);
    EXPECT_EQ(address ? net::AddressText(*address) : "", c.address) << c.text;
  }
}

TEST(NumericAddress, AnIpv4AddressAndItsMappedIpv6FormAreTheSameHost) {
  const auto v4 = *net::ParseNumericAddress("127.0.0.1");
  EXPECT_TRUE(net::SameHost(v4, *net::ParseNumericAddress("::ffff:127.0.0.1")));
  EXPECT_FALSE(net::SameHost(v4, *net::ParseNumericAddress("127.0.0.2")));
  EXPECT_FALSE(net::SameHost(v4, *net::ParseNumericAddress("::1")));
  EXPECT_TRUE(net::SameHost(*net::ParseNumericAddress("::1"), *net::ParseNumericAddress("[::1]")));
}

TEST(NumericAddress, LoopbackIsTheWholeOf127AndIpv6One) {
  struct Case {
    const char* text;
    bool loopback;
  } cases[] = {{"127.0.0.1", true},        {"127.255.1.2", true},  {"::ffff:127.0.0.9", true},
               {"::1", true},              {"126.255.255.255", false}, {"128.0.0.1", false},
               {"::", false},              {"::2", false},         {"::ffff:10.0.0.1", false},
               {"0.0.0.0", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(net::IsLoopbackAddress(*net::ParseNumericAddress(c.text)), c.loopback) << c.text;
  }
}

}  // namespace
}  // namespace tarnex
