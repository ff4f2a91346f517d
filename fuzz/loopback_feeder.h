// The server end of the socket targets: one process-wide listener on 127.0.0.1, and per input
// one accepted connection that the input is written to in fragments, one fragment per
// dispatch of the message loop, so that the client's reads meet every way a stream can be cut.
// After the last fragment the feeder shuts its sending side: every read of the client ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnex::fuzz {

struct FeederState;

// A small deterministic generator, so that an input always replays the same way.
class Prng {
 public:
  explicit Prng(uint64_t seed) : state_(seed) {}
  uint32_t Next();
  // 0..bound-1 (bound > 0).
  uint32_t Below(uint32_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// Cuts `stream` into pieces of 1 to `max_piece` bytes.
std::vector<std::string> Fragments(const std::string& stream, Prng& prng, uint32_t max_piece);

class LoopbackFeeder {
 public:
  // The port of the listener (created on first use).
  static uint16_t Port();

  // `client_socket` tells which connection is ours: the one whose peer port is the local
  // port of that socket; stale connections of earlier inputs are dropped.
  LoopbackFeeder(std::vector<std::string> fragments, std::function<int()> client_socket);
  ~LoopbackFeeder();
  LoopbackFeeder(const LoopbackFeeder&) = delete;
  LoopbackFeeder& operator=(const LoopbackFeeder&) = delete;

  // Starts accepting and feeding from the next dispatches of the thread's loop.
  void Start();

 private:
  std::shared_ptr<FeederState> state_;
};

}  // namespace tarnex::fuzz
