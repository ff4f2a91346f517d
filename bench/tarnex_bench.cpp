// tarnex-bench: one FTP operation of the client facade (and through it the protocol component
// and the socket layer) per run, for bench/run.sh, which times the process from outside with
// /usr/bin/time like every peer client. The program prints what it measured itself on one
// line of "key=value" words and exits 1 when the operation failed.
//
//   tarnex-bench get    HOST PORT USER PASSWORD REMOTE LOCAL [--passive]
//   tarnex-bench put    HOST PORT USER PASSWORD LOCAL REMOTE [--passive]
//   tarnex-bench list   HOST PORT USER PASSWORD DIRECTORY [--passive]
//   tarnex-bench noop   HOST PORT USER PASSWORD COUNT
//   tarnex-bench silent HOST PORT WAIT_MS
//
// get, put and list take --tls explicit|implicit and --tls-fingerprint HEX (FTPS against a
// server with a certificate of its own).
//
// "silent" logs in to a server that never answers and waits for the facade's time-out:
// it shows what waiting costs.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ftpclient/low_ftp.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tarnex-bench get HOST PORT USER PASSWORD REMOTE LOCAL [--passive]\n"
               "       tarnex-bench put HOST PORT USER PASSWORD LOCAL REMOTE [--passive]\n"
               "       tarnex-bench list HOST PORT USER PASSWORD DIRECTORY [--passive]\n"
               "       tarnex-bench noop HOST PORT USER PASSWORD COUNT\n"
               "       tarnex-bench silent HOST PORT WAIT_MS\n"
               "get, put and list also take --tls explicit|implicit --tls-fingerprint HEX\n");
  return 2;
}

// A facade whose last log lines are kept, and shown on standard error when something fails
// (printing every line would time the terminal, not the client).
struct Connection {
  bool passive = false;
  tarnex::TlsMode tls = tarnex::TlsMode::Off;
  std::string fingerprint;
};

struct Client {
  tarnex::TLowFTP ftp;
  std::vector<std::string> last_lines;
  Client(const std::string& host, int port, const Connection& connection)
      : Client(host, port, connection.passive) {
    ftp.SetTlsMode(connection.tls);
    ftp.SetTlsTrust("", connection.fingerprint);
  }
  Client(const std::string& host, int port, bool passive) {
    ftp.OnLogging = [this](tarnex::TLowFTP&, const std::string& line) {
      if (last_lines.size() == 20) last_lines.erase(last_lines.begin());
      last_lines.push_back(line);
    };
    ftp.SetServer(host, "", port);
    ftp.SetPassive(passive);
  }
  bool Failed(int32_t result) const {
    if (result <= 400) return false;
    for (const auto& line : last_lines) std::fprintf(stderr, "%s\n", line.c_str());
    return true;
  }
};

int Transfer(bool get, const std::vector<std::string>& args, const Connection& connection) {
  Client client(args[0], std::atoi(args[1].c_str()), connection);
  if (client.Failed(client.ftp.Connect(args[2], args[3]))) return 1;
  if (client.Failed(client.ftp.ModeImage())) return 1;
  int64_t bytes = 0;
  auto count = [&bytes](tarnex::TLowFTP&, int64_t total, int32_t) { bytes = total; };
  client.ftp.Onretrievefinished = count;
  client.ftp.Ontransferfinished = count;
  const auto start = Clock::now();
  const int32_t result = get ? client.ftp.Download(args[4], args[5])
                             : client.ftp.Upload(args[4], args[5]);
  const double seconds = SecondsSince(start);
  client.ftp.Disconnect();
  std::printf("result=%d bytes=%lld seconds=%.3f mib_per_s=%.1f\n", result,
              static_cast<long long>(bytes), seconds,
              seconds > 0 ? static_cast<double>(bytes) / seconds / 1048576.0 : 0.0);
  return client.Failed(result) ? 1 : 0;
}

int List(const std::vector<std::string>& args, const Connection& connection) {
  Client client(args[0], std::atoi(args[1].c_str()), connection);
  if (client.Failed(client.ftp.Connect(args[2], args[3]))) return 1;
  std::string listing;
  const auto start = Clock::now();
  const int32_t result = client.ftp.List(args[4], listing);
  const double seconds = SecondsSince(start);
  client.ftp.Disconnect();
  size_t lines = 0;
  for (size_t at = listing.find('\n'); at != std::string::npos; at = listing.find('\n', at + 1))
    ++lines;
  std::printf("result=%d lines=%zu bytes=%zu seconds=%.3f\n", result, lines, listing.size(),
              seconds);
  return client.Failed(result) ? 1 : 0;
}

int Noop(const std::vector<std::string>& args) {
  Client client(args[0], std::atoi(args[1].c_str()), false);
  if (client.Failed(client.ftp.Connect(args[2], args[3]))) return 1;
  const long count = std::atol(args[4].c_str());
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    if (client.Failed(client.ftp.DoCommand("NOOP"))) return 1;
  }
  const double seconds = SecondsSince(start);
  client.ftp.Disconnect();
  std::printf("commands=%ld seconds=%.3f ms_per_command=%.4f\n", count, seconds,
              count > 0 ? seconds * 1000.0 / static_cast<double>(count) : 0.0);
  return 0;
}

int Silent(const std::vector<std::string>& args) {
  Client client(args[0], std::atoi(args[1].c_str()), false);
  client.ftp.SetWaitTimeout(static_cast<uint32_t>(std::atol(args[2].c_str())));
  const double cpu_before = CpuSeconds();
  const auto start = Clock::now();
  const int32_t result = client.ftp.Connect("user", "password");
  const double seconds = SecondsSince(start);
  const double cpu = CpuSeconds() - cpu_before;
  std::printf("result=%d seconds=%.3f cpu_seconds=%.4f cpu_share_percent=%.3f\n", result, seconds,
              cpu, seconds > 0 ? cpu / seconds * 100.0 : 0.0);
  return result == 999 ? 0 : 1;  // the wait must end in the time-out
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  std::vector<std::string> args;
  Connection connection;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--passive") == 0) {
      connection.passive = true;
    } else if (std::strcmp(argv[i], "--tls") == 0 && i + 1 < argc) {
      const std::string tls = argv[++i];
      if (tls != "explicit" && tls != "implicit") return Usage();
      connection.tls = tls == "explicit" ? tarnex::TlsMode::Explicit : tarnex::TlsMode::Implicit;
    } else if (std::strcmp(argv[i], "--tls-fingerprint") == 0 && i + 1 < argc) {
      connection.fingerprint = argv[++i];
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if ((mode == "get" || mode == "put") && args.size() == 6) return Transfer(mode == "get", args, connection);
  if (mode == "list" && args.size() == 5) return List(args, connection);
  if (mode == "noop" && args.size() == 5) return Noop(args);
  if (mode == "silent" && args.size() == 3) return Silent(args);
  return Usage();
}
