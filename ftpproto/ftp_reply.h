// A server's reply as a value, as the protocol's operations return it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnex {

struct FtpReply {
  // The code of `line`; 0 when it is no reply (or none came).
  int16_t code = 0;
  // The line that stands for the reply, line end included: a command's first line, the
  // greeting's last; empty when none came.
  std::string line;
  // Every line of the reply as it was read, line ends included.
  std::vector<std::string> lines;

  // 2xx: the command did what it asked for.
  bool Completed() const { return code >= 200 && code < 300; }
};

// What a question to the server found out, with the reply that said so.
template <typename T>
struct Answered {
  T value;
  FtpReply reply;
};

}  // namespace tarnex
