// What every fault test needs: a facade that records its log, a scripted server, a clock for
// "no hang", and local files to prove that nothing the user had is damaged.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "ftpproto/proto_ftp.h"
#include "platform/clock.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/temp_dir.h"

namespace tarnex::faults {

using Lines = std::vector<std::string>;
using Steps = std::vector<testing::Step>;

// The facade's time-out in these tests, and how long a failing operation may take at most: it
// is abandoned at the first check after the time-out (checks come once a second), and CI
// machines are slow and shared, hence the margin.
inline constexpr uint32_t kWaitTimeoutMs = 1000;
inline constexpr int64_t kNoHangMs = kWaitTimeoutMs + 1000 + 1500;
// No line waits longer than the time-out and the second in which the check comes, settling
// included. The tests of that bound use a longer time-out, so that a second of margin for a
// slow machine still stays below a second wait of the time-out.
inline constexpr uint32_t kLineTimeoutMs = 3000;
inline constexpr int64_t kOneLineMs = kLineTimeoutMs + 1000 + 1000;

inline Steps Concat(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Steps LoggedIn(Steps steps) {
  Steps all{testing::Greeting("220 Hi\r\n"), testing::Expect("USER joe", "331 Pass\r\n"),
            testing::Expect("PASS secret", "230 Logged in\r\n")};
  all.insert(all.end(), steps.begin(), steps.end());
  return all;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// `expected` is one line, or two that may each be right, split by "|": a fault whose timing
// decides which of two honest reports comes first.
inline bool IsOneOf(const std::string& line, const std::string& expected) {
  const size_t bar = expected.find('|');
  if (bar == std::string::npos) return line == expected;
  return line == expected.substr(0, bar) || line == expected.substr(bar + 1);
}

inline std::string Joined(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) text += "  " + line.substr(0, 200) + "\n";
  return text;
}

class FacadeFaultTest : public ::testing::Test {
 protected:
  FacadeFaultTest() { Fresh(); }

  // A new facade, as a table of cases needs one per case: the last one may still be connected.
  void Fresh() {
    ftp_.reset();  // while the log can still take its last lines
    log_.clear();
    ftp_ = std::make_unique<TLowFTP>();
    ftp_->OnLogging = [this](TLowFTP&, const std::string& line) { log_.push_back(line); };
    ftp_->SetWaitTimeout(kWaitTimeoutMs);
  }
  TLowFTP& ftp() { return *ftp_; }

  void Aim(const testing::FakeFtpServer& server, bool passive = false) {
    ftp().SetServer("127.0.0.1", "", server.Port());
    ftp().Protocol().Passive = passive;
  }
  // Explicit TLS in passive mode, the server's certificate trusted through its own file.
  void AimProtected(const std::string& host, const std::string& proxy,
                    const testing::FakeFtpServer& server, const std::string& certificate_pem) {
    ftp().SetServer(host, proxy, server.Port());
    ftp().SetPassive(true);
    ftp().SetTlsMode(TlsMode::Explicit);
    ftp().SetTlsTrust(certificate_pem, "");
  }
  int32_t Login(const testing::FakeFtpServer& server, bool passive = false) {
    Aim(server, passive);
    int32_t result = ftp().Connect("joe", "secret");
    EXPECT_EQ(result, 230) << Joined(log_);
    log_.clear();
    return result;
  }

  struct Timed {
    int32_t result;
    int64_t ms;
  };
  static Timed Time(const std::function<int32_t()>& call) {
    const int64_t start = platform::MonotonicMs();
    const int32_t result = call();
    return {result, platform::MonotonicMs() - start};
  }

  // How many files and folders the test folder holds (a download leaves no temporary file).
  size_t FolderEntries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_.path()),
                                             std::filesystem::directory_iterator()));
  }

  Lines log_;  // outlives the facade, which may still log while it is destroyed
  testing::TempDir dir_;
  std::unique_ptr<TLowFTP> ftp_;
};

}  // namespace tarnex::faults
