// A session on OpenSSH's sftp-server, run directly as the child, in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sftpproto/proto_sftp.h"
#include "tests/support/temp_dir.h"

namespace tarnex::testing {

inline constexpr const char* kSftpServer = "/usr/lib/openssh/sftp-server";

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Bytes that differ at every offset, so that a block out of place shows.
inline std::string Pattern(size_t size, uint32_t seed = 7) {
  std::string bytes(size, '\0');
  uint32_t x = seed;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return bytes;
}

class SftpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kSftpServer, X_OK) != 0) GTEST_SKIP() << kSftpServer << " is not installed";
    std::filesystem::create_directories(remote_.path());
    std::filesystem::create_directories(local_.path());
    Launch({kSftpServer, "-d", remote_.path().string()});
    session_.OnDialogue = [this](bool sent, const std::string& line) {
      dialogue_.push_back((sent ? "> " : "< ") + line);
    };
  }
  void Launch(std::vector<std::string> argv) {
    session_.Transport.argv = std::move(argv);
    session_.UserID = "tester";
  }
  std::string Remote(const std::string& leaf) const { return remote_ / leaf; }
  std::string Local(const std::string& leaf) const { return local_ / leaf; }

  TempDir remote_;
  TempDir local_;
  TProtoSFTP session_;
  std::vector<std::string> dialogue_;
};

}  // namespace tarnex::testing
