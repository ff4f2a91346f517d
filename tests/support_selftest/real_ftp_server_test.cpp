#include "tests/support/real_ftp_server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support_selftest/blocking_client.h"

namespace tarnex::testing {
namespace {

using selftest::Client;
using selftest::Socket;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs one transfer command over a fresh data connection in the chosen mode; `upload` is sent,
// and the bytes the server sent come back. `preliminary` gets the first reply.
std::string Transfer(Client& client, bool passive, const std::string& command,
                     const std::string& upload, std::string* preliminary) {
  Socket listener, data;
  if (passive) {
    data = client.OpenPassive();
  } else {
    listener = Socket::Listen();
    EXPECT_EQ(client.SendPort(listener).substr(0, 4), "200 ");
  }
  *preliminary = client.Command(command);
  if (preliminary->substr(0, 1) != "1") return {};
  if (!passive) data = listener.Accept();
  data.SendAll(upload);
  ::shutdown(data.Get(), SHUT_WR);
  std::string received = data.ReceiveAll();
  data.Close();
  EXPECT_EQ(client.ReadReply().substr(0, 4), "226 ") << command;
  return received;
}

class RealFtpServerTest : public ::testing::TestWithParam<bool> {};

TEST_P(RealFtpServerTest, LogsInListsStoresAndRetrieves) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  const bool passive = GetParam();
  RealFtpServer server;
  WriteFile(server.Root() / "hello.txt", "hello, world\r\n");
  std::string upload(1 << 20, '\0');
  for (std::size_t i = 0; i < upload.size(); ++i) upload[i] = static_cast<char>(i * 7 + i / 251);

  Client client(server.Port());
  EXPECT_EQ(client.ReadReply().substr(0, 4), "220 ");
  EXPECT_EQ(client.Command("USER " + server.User()).substr(0, 4), "331 ");
  EXPECT_EQ(client.Command("PASS " + server.Password()).substr(0, 4), "230 ");
  EXPECT_EQ(client.Command("TYPE I").substr(0, 4), "200 ");

  std::string first;
  std::string listing = Transfer(client, passive, "LIST", "", &first);
  EXPECT_EQ(first.substr(0, 1), "1") << first;
  EXPECT_NE(listing.find("hello.txt\r\n"), std::string::npos) << listing;

  Transfer(client, passive, "STOR up.bin", upload, &first);
  EXPECT_EQ(first.substr(0, 1), "1") << first;
  EXPECT_TRUE(ReadFile(server.Root() / "up.bin") == upload);

  EXPECT_EQ(Transfer(client, passive, "RETR hello.txt", "", &first), "hello, world\r\n");
  EXPECT_TRUE(Transfer(client, passive, "RETR up.bin", "", &first) == upload);

  EXPECT_EQ(client.Command("QUIT").substr(0, 4), "221 ");
}

INSTANTIATE_TEST_SUITE_P(, RealFtpServerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST(RealFtpServer, RejectsAWrongPasswordAndServesAnonymousReadOnly) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  TempDir root;
  WriteFile(root / "a.txt", "a");
  RealFtpServer server(RealFtpServerOptions{.root = root.path(), .anonymous = true});
  EXPECT_EQ(server.Root(), root.path());

  Client wrong(server.Port());
  wrong.ReadReply();
  wrong.Command("USER " + server.User());
  EXPECT_EQ(wrong.Command("PASS not-" + server.Password()).substr(0, 4), "530 ");

  Client anonymous(server.Port());
  anonymous.ReadReply();
  anonymous.Command("USER anonymous");
  EXPECT_EQ(anonymous.Command("PASS guest@").substr(0, 4), "230 ");
  std::string first;
  EXPECT_EQ(Transfer(anonymous, true, "RETR a.txt", "", &first), "a");
  Transfer(anonymous, true, "STOR b.txt", "b", &first);
  EXPECT_EQ(first.substr(0, 4), "550 ") << first;
  EXPECT_FALSE(std::filesystem::exists(root / "b.txt"));
}

TEST(RealFtpServer, StopsTheServerWhenDestroyed) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  uint16_t port = 0;
  {
    RealFtpServer server;
    port = server.Port();
    Client client(port);
    EXPECT_EQ(client.ReadReply().substr(0, 4), "220 ");
  }
  try {
    Socket::Connect(port);
    ADD_FAILURE() << "the server still listens on port " << port;
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos);
  }
}

}  // namespace
}  // namespace tarnex::testing
