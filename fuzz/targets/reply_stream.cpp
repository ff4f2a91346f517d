// The control connection against a server whose every byte is the input: the greeting, the
// login and a few commands read their replies and continuation lines out of an arbitrary
// stream, cut into fragments. Each operation ends (the server shuts its side after the
// input), succeeds or raises one of the core's errors, and a code is always its reply's: the
// reply's own code, or 0 for a line that is no reply.
#include <string>

#include "fuzz/fuzz_target.h"
#include "fuzz/loopback_feeder.h"
#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"

namespace {

void CheckReply(const tarnex::TProtoFTP& ftp) {
  if (ftp.LastReply().empty()) return;
  FUZZ_CHECK(ftp.ReplyCode() == tarnex::ValidReplyCode(ftp.LastReply()).value_or(0));
}

}  // namespace

TARNEX_FUZZ_TARGET(reply_stream) {
  if (size < 2) return;
  tarnex::fuzz::Prng prng(data[0]);
  const uint8_t plan = data[1];
  const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);

  tarnex::TProtoFTP ftp;
  ftp.Host = "127.0.0.1";
  ftp.Port = tarnex::fuzz::LoopbackFeeder::Port();
  ftp.UserID = "u";
  ftp.Password = "p";
  size_t successes = 0;
  ftp.OnSuccess = [&](tarnex::TCmdType) { ++successes; };
  tarnex::fuzz::LoopbackFeeder feeder(
      tarnex::fuzz::Fragments(stream, prng, 1u << (data[0] % 9)),
      [&ftp] { return ftp.Control().Socket(); });
  feeder.Start();  // accepts once the connect has begun

  try {
    ftp.LogIn();
    CheckReply(ftp);
    for (int i = 0; i < 1 + (plan & 3); ++i) {
      const size_t before = successes;
      switch ((plan >> (2 + i)) & 1) {
        case 0:
          ftp.RunCommand(i == 0 ? "CWD pub" : "NOOP");
          break;
        case 1:
          ftp.RenameFile("a", "b");
          break;
      }
      CheckReply(ftp);
      FUZZ_CHECK(successes == before + 1);
      FUZZ_CHECK(ftp.ReplyCode() < 400 || ftp.ReplyCode() >= 600);
    }
    if (plan & 0x80) ftp.Quit();
  } catch (const tarnex::Exception&) {
    CheckReply(ftp);
  }
}
