// Line and byte reads of the socket layer over a loopback connection whose peer writes the
// input in fragments. Whatever the cuts, the reads hand over the stream exactly: every byte
// once, in order, each line ending at its first LF, nothing lost at the close.
#include <string>

#include "fuzz/fuzz_target.h"
#include "fuzz/loopback_feeder.h"
#include "platform/errors.h"
#include "socket/async_sock.h"

TARNEX_FUZZ_TARGET(readln) {
  if (size < 1) return;
  tarnex::fuzz::Prng prng(data[0]);
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
  const uint32_t max_piece = 1u << (data[0] % 9);

  tarnex::TAsyncSock sock;
  sock.Host = "127.0.0.1";
  sock.Port = tarnex::fuzz::LoopbackFeeder::Port();
  tarnex::fuzz::LoopbackFeeder feeder(tarnex::fuzz::Fragments(stream, prng, max_piece),
                                      [&sock] { return sock.Socket(); });
  sock.Connect();
  feeder.Start();

  std::string received;
  for (size_t calls = 0; calls <= stream.size() + 1; ++calls) {
    std::string piece;
    if (prng.Below(4) == 0) {
      const uint16_t count = static_cast<uint16_t>(1 + prng.Below(300));
      piece = sock.Read(count);
      FUZZ_CHECK(piece.size() <= count);
    } else {
      try {
        piece = sock.ReadLn();
      } catch (const tarnex::ESockError& error) {
        // Only a line longer than the buffer may fail, and only past 64 KiB.
        FUZZ_CHECK(stream.size() - received.size() > tarnex::TAsyncSock::kIoBufferSize);
        return;
      }
      const size_t lf = piece.find('\n');
      // A line ends at its first LF; only the very last piece may come without one.
      FUZZ_CHECK(lf == std::string::npos || lf == piece.size() - 1);
      if (lf == std::string::npos) FUZZ_CHECK(received.size() + piece.size() == stream.size());
    }
    if (piece.empty()) break;
    received += piece;
    FUZZ_CHECK(stream.compare(0, received.size(), received) == 0);
  }
  FUZZ_CHECK(received == stream);
}
