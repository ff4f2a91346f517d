#include "ftpclient/open_target.h"

#include <gtest/gtest.h>

namespace tarnex {
namespace {

TEST(ParseOpenTarget, HostsAndUrls) {
  struct Case {
    const char* word;
    std::optional<RemoteProtocol> protocol;
    bool implicit_tls;
    const char* host;
    int32_t port;
  } cases[] = {
      {"ftp.example.com", std::nullopt, false, "ftp.example.com", 0},
      {"host:21", std::nullopt, false, "host:21", 0},  // bare words stay as they always were
      {"sftp://files.example.com", RemoteProtocol::Sftp, false, "files.example.com", 0},
      {"SFTP://Alias:2222", RemoteProtocol::Sftp, false, "Alias", 2222},
      {"sftp://host/", RemoteProtocol::Sftp, false, "host", 0},
      {"ftp://127.0.0.1:2121", RemoteProtocol::Ftp, false, "127.0.0.1", 2121},
      {"ftps://secure.example.com", RemoteProtocol::Ftp, true, "secure.example.com", 0},
      {"sftp://[::1]:22", RemoteProtocol::Sftp, false, "::1", 22},
      {"ftp://[fe80::1]", RemoteProtocol::Ftp, false, "fe80::1", 0},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseOpenTarget(c.word);
    ASSERT_TRUE(std::holds_alternative<OpenTarget>(parsed)) << c.word;
    const OpenTarget& target = std::get<OpenTarget>(parsed);
    EXPECT_EQ(target.protocol, c.protocol) << c.word;
    EXPECT_EQ(target.implicit_tls, c.implicit_tls) << c.word;
    EXPECT_EQ(target.host, c.host) << c.word;
    EXPECT_EQ(target.port, c.port) << c.word;
  }
}

TEST(ParseOpenTarget, RefusesWhatIsNoServer) {
  struct Case {
    const char* word;
    const char* says;
  } cases[] = {
      {"http://host", "give sftp://, ftp:// or ftps://"},
      {"sftp://user@host", "the user is given by Login"},
      {"sftp://host/pub/x", "use Cd after Login"},
      {"sftp://host:", "the port is missing"},
      {"sftp://host:0", "from 1 to 65535"},
      {"sftp://host:65536", "from 1 to 65535"},
      {"sftp://host:22x", "from 1 to 65535"},
      {"sftp://", "no host is named"},
      {"sftp://[::1", "lacks its ']'"},
      {"sftp://[::1]x", "only a port may follow"},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseOpenTarget(c.word);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.word;
    EXPECT_NE(std::get<std::string>(parsed).find(c.says), std::string::npos)
        << c.word << ": " << std::get<std::string>(parsed);
  }
}

}  // namespace
}  // namespace tarnex
