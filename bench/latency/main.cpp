// tarnex-latency-proxy: the latency proxy as a program, for bench/bench.py.
//
//   tarnex-latency-proxy SERVER_PORT ONE_WAY_DELAY_MS [LISTEN_PORT]
//
// Prints the port it listens on (one line) and runs until SIGINT or SIGTERM.
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
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    tarnex::bench::LatencyProxy proxy(static_cast<uint16_t>(server_port),
                                      std::chrono::milliseconds(delay_ms),
                                      static_cast<uint16_t>(listen_port));
    std::printf("%u\n", static_cast<unsigned>(proxy.Port()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnex-latency-proxy: %s\n", e.what());
    return 1;
  }
  return 0;
}
