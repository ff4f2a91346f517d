// FTPS: explicit and implicit TLS against the real server with a certificate made for the
// test, in both data modes; the certificate checks; and servers that refuse or break TLS.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>

#include "tests/ftpproto/proto_test_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_certificate.h"

namespace tarnex {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A session against an FTPS server whose sent commands are written down.
struct FtpsClient {
  FtpsClient(const testing::RealFtpServer& server, TlsMode mode) {
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = server.User();
    ftp.Password = server.Password();
    ftp.Tls = mode;
    ftp.Control().TimeOut = 10000;  // no wait of the test hangs
    ftp.OnDialogue = [this](bool sent, const std::string& line) {
      if (sent) commands.push_back(line);
    };
  }
  std::string ConnectError() {
    try {
      ftp.LogIn();
    } catch (const Exception& error) {
      return error.Message();
    }
    return "";
  }
  TProtoFTP ftp;
  std::vector<std::string> commands;
};

class FtpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
    certificate_ = testing::MakeTestCertificate(dir_.path());
  }
  testing::RealFtpServerOptions Options(const char* mode) const {
    testing::RealFtpServerOptions options;
    options.tls = mode;
    options.certificate = certificate_.pem;
    return options;
  }
  testing::TempDir dir_;
  testing::TempDir local_;
  testing::TestCertificate certificate_;
};

TEST_F(FtpsTest, ExplicitAndImplicitRoundTripsInBothDataModes) {
  std::mt19937 random(5);
  for (const char* mode : {"explicit", "implicit"}) {
    testing::RealFtpServer server(Options(mode));
    for (bool passive : {false, true}) {
      SCOPED_TRACE(std::string(mode) + (passive ? " passive" : " active"));
      FtpsClient client(server, std::string(mode) == "explicit" ? TlsMode::Explicit
                                                                : TlsMode::Implicit);
      // Trusted through the CA file; the certificate names 127.0.0.1.
      client.ftp.TlsCaFile = certificate_.pem;
      client.ftp.Passive = passive;
      ASSERT_EQ(client.ConnectError(), "");
      EXPECT_TRUE(client.ftp.DataProtected());
      client.ftp.SetTransferType(tmImage);
      for (size_t size : {size_t{0}, size_t{65537}, size_t{3 * 1024 * 1024 + 5}}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        const std::string name = "f" + std::to_string(size) + (passive ? "p" : "a");
        std::ofstream(local_.path() / name, std::ios::binary) << bytes;
        client.ftp.UploadFile(local_ / name, name);
        ASSERT_TRUE(FileBytes(server.Root() / name) == bytes)
            << name << ": " << FileBytes(server.Root() / name).size() << " of " << size;
        client.ftp.DownloadFile(name, local_ / (name + ".back"));
        ASSERT_EQ(FileBytes(local_.path() / (name + ".back")), bytes) << name;
      }
      std::vector<std::string> listing;
      client.ftp.OnListItem = [&](const std::string& line) { listing.push_back(line); };
      client.ftp.ListDirectory();
      EXPECT_FALSE(listing.empty());
      client.ftp.Quit();
      if (std::string(mode) == "explicit") {
        EXPECT_EQ(std::vector<std::string>(client.commands.begin(), client.commands.begin() + 5),
                  (std::vector<std::string>{"AUTH TLS", "USER tarnex", "PASS ****", "PBSZ 0",
                                            "PROT P"}));
      }
    }
  }
}

TEST_F(FtpsTest, TheCertificateDecidesBeforeAnyNameIsSent) {
  testing::RealFtpServer server(Options("explicit"));
  const std::string colonless = [&] {
    std::string hex;
    for (char c : certificate_.fingerprint) {
      if (c != ':') hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex;
  }();
  struct Case {
    const char* name;
    std::string fingerprint;
    bool accepted;
  } cases[] = {
      {"untrusted: no authority vouches for it", "", false},
      {"pinned as openssl prints it", certificate_.fingerprint, true},
      {"pinned in lower case without colons", colonless, true},
      {"another certificate pinned", std::string(64, 'a'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FtpsClient client(server, TlsMode::Explicit);
    client.ftp.TlsFingerprint = c.fingerprint;
    const std::string error = client.ConnectError();
    if (c.accepted) {
      EXPECT_EQ(error, "");
      client.ftp.Quit();
      continue;
    }
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
    // The refusal shows the certificate's fingerprint, for the user to check and pin.
    EXPECT_NE(error.find(certificate_.fingerprint), std::string::npos)
        << error << "\nwanted: " << certificate_.fingerprint;
    EXPECT_EQ(client.commands, (std::vector<std::string>{"AUTH TLS"}));
    EXPECT_FALSE(client.ftp.Connected());
  }
}

TEST_F(FtpsTest, AServerThatDemandsSessionReuseGetsIt) {
  const std::string why_not = testing::TlsReuseServer::UnavailableReason();
  if (!why_not.empty()) {
    if (testing::RealFtpServer::Required()) FAIL() << "the TLS reuse server cannot run: " << why_not;
    GTEST_SKIP() << why_not;
  }
  testing::TlsReuseServer server(certificate_.pem);
  const std::string bytes(2 * 1024 * 1024 + 11, 'r');
  std::ofstream(server.Root() / "r.bin", std::ios::binary) << bytes;
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    TProtoFTP ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = "anonymous";
    ftp.Password = "tarnex@";
    ftp.Tls = TlsMode::Explicit;
    ftp.TlsCaFile = certificate_.pem;
    ftp.Passive = passive;
    ftp.Control().TimeOut = 10000;  // no wait of the test hangs
    ftp.LogIn();
    ftp.SetTransferType(tmImage);
    // Two data connections: each must resume the control connection's session.
    for (int round = 0; round < 2; ++round) {
      ftp.DownloadFile("r.bin", local_ / "r.bin");
      ASSERT_TRUE(FileBytes(local_.path() / "r.bin") == bytes);
    }
    ftp.Quit();
  }
}

TEST(FtpsScripted, ARefusedAuthOrABrokenHandshakeEndsTheLoginWithoutTheName) {
  struct Case {
    const char* name;
    std::vector<testing::Step> steps;
    std::string error;
  } cases[] = {
      {"AUTH refused",
       {testing::Greeting("220 Hi\r\n"), Expect("AUTH TLS", "500 AUTH not understood\r\n"),
        Expect("QUIT", "221 Bye\r\n"), testing::Close()},
       "TLS refused by the server: 500 AUTH not understood\r\n"},
      {"the server drops during the handshake",
       {testing::Greeting("220 Hi\r\n"), Expect("AUTH TLS", "234 Go ahead\r\n"),
        testing::Pause(50ms), testing::Close()},
       "TLS handshake failed: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFtpServer server({testing::Session(c.steps)}, {.io_timeout = 5s});
    TProtoFTP ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserID = "joe";
    ftp.Password = "secret";
    ftp.Tls = TlsMode::Explicit;
    ftp.Control().TimeOut = 3000;  // no wait of the test hangs
    std::string error;
    try {
      ftp.LogIn();
    } catch (const Exception& e) {
      error = e.Message();
    }
    EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    for (const std::string& command : server.Commands()) {
      EXPECT_EQ(command.rfind("USER", 0), std::string::npos) << command;
    }
  }
}

}  // namespace
}  // namespace tarnex
