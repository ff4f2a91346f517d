// A self-signed certificate made for a test by the openssl program: for 127.0.0.1, ::1 and
// localhost, its key in the same PEM file, and its SHA-256 fingerprint.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tarnex::testing {

struct TestCertificate {
  std::filesystem::path pem;  // certificate and key
  std::string fingerprint;    // "AB:CD:..." as openssl prints it
};

inline std::string RunCapture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command + "\n" + out);
  return out;
}

inline TestCertificate MakeTestCertificate(const std::filesystem::path& dir) {
  const std::string key = (dir / "key.pem").string();
  const std::string cert = (dir / "cert.pem").string();
  RunCapture("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
             " -addext subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost -keyout '" +
             key + "' -out '" + cert + "' 2>&1");
  TestCertificate made{dir / "server.pem", {}};
  RunCapture("cat '" + cert + "' '" + key + "' > '" + made.pem.string() + "'");
  const std::string printed = RunCapture("openssl x509 -noout -fingerprint -sha256 -in '" + cert + "'");
  made.fingerprint = printed.substr(printed.find('=') + 1);
  while (!made.fingerprint.empty() && made.fingerprint.back() == '\n') made.fingerprint.pop_back();
  return made;
}

}  // namespace tarnex::testing
