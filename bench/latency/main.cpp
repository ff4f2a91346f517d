// tarnex-latency-proxy: the latency proxy as a program, for bench/bench.py.
//
//   tarnex-latency-proxy SERVER_PORT ONE_WAY_DELAY_MS [LISTEN_PORT]
//
// Prints the port it listens on (one line) and runs until SIGINT or SIGTERM. On SIGUSR1 it
// prints what the clients have asked for so far, on one line:
//   counts open=SESSIONS data=CONNECTIONS VERB=COUNT VERB=COUNT ...
// (the control connections still open, the data connections made, the commands by verb).
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <string_view>

#include "bench/latency/latency_proxy.h"

namespace {

bool Number(std::string_view text, unsigned limit, unsigned& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value <= limit;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned server_port = 0, delay_ms = 0, listen_port = 0;
  if (argc < 3 || argc > 4 || !Number(argv[1], 65535, server_port) || server_port == 0 ||
      !Number(argv[2], 10000, delay_ms) || (argc == 4 && !Number(argv[3], 65535, listen_port))) {
    std::fprintf(stderr,
                 "usage: tarnex-latency-proxy SERVER_PORT ONE_WAY_DELAY_MS [LISTEN_PORT]\n"
                 "  SERVER_PORT: an FTP server on 127.0.0.1; the delay is 0 to 10000 ms\n");
    return 2;
  }
  // The signals are taken by sigwait below, never delivered to a thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    tarnex::bench::LatencyProxy proxy(static_cast<uint16_t>(server_port),
                                      std::chrono::milliseconds(delay_ms),
                                      static_cast<uint16_t>(listen_port));
    std::printf("%u\n", static_cast<unsigned>(proxy.Port()));
    std::fflush(stdout);
    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && signal == SIGUSR1) {
      const tarnex::bench::LatencyProxy::Tally tally = proxy.Counts();
      std::printf("counts open=%llu data=%llu", static_cast<unsigned long long>(tally.open_sessions),
                  static_cast<unsigned long long>(tally.data_connections));
      for (const auto& [verb, count] : tally.commands) {
        std::printf(" %s=%llu", verb.c_str(), static_cast<unsigned long long>(count));
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnex-latency-proxy: %s\n", e.what());
    return 1;
  }
  return 0;
}
