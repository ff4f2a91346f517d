// The data channel of a listing or transfer (PASV or PORT), and the steps its operations
// share: SIZE before a download, the listing's lines, the download's completeness.
#include <utility>

#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/message_loop.h"
#include "socket/socket_address.h"
#include "socket/socket_errors.h"
#include "text/string_helpers.h"

namespace tarnex {
namespace {

// A listing line without its line end. A line of two bytes or less stays as it is; a last
// line that ended with the connection instead of a line end keeps every byte.
std::string WithoutLineEnd(std::string line) {
  if (line.size() <= 2 || line.back() != '\n') return line;
  line.pop_back();
  if (line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool TProtoFTP::OpenDataChannel(TCmdType type) {
  TAsyncSock& data = *data_connection_;
  if (Passive) {
    // EPSV first: it names only a port, so it works over IPv6 and through NAT alike. A server
    // that refuses it (5xx) is asked PASV from then on, until the next login.
    if (!epsv_refused_) {
      const FtpReply epsv = Exchange("EPSV");
      if (epsv.code < 500 || epsv.code >= 600) {
        ConnectPassive(ParseEpsvPort(epsv.line));
        return true;
      }
      epsv_refused_ = true;
    }
    const FtpReply pasv = Exchange("PASV");
    // Only 5xx fails; the port is then read from whatever the reply holds.
    if (pasv.code >= 500) return !OfferFailure(type, pasv.line);
    const uint16_t port = ParsePasvPort(pasv.line);
    NotePasvAddress(pasv.line);
    ConnectPassive(port);
    return true;
  }
  // The server is told the control connection's own address, so the listener waits there
  // only, and takes its connection from the server alone.
  const std::optional<net::Address> local = control_.LocalEnd();
  data.ListenAddress = local;
  if (auto peer = control_.PeerEnd()) data.AcceptOnlyFrom = peer;
  data.Port = 0;  // the system chooses a free port
  data.Listen(true);
  data_port_command_ =
      local && local->ss_family == AF_INET6
          ? "EPRT " + EprtArgument(net::AddressText(*local), data.LocalPort())
          : "PORT " + control_.LocalAddressText() + data.LocalPortText();
  return true;
}

std::optional<FtpReply> TProtoFTP::ExchangeDataCommand(TCmdType type, const std::string& command) {
  const std::string port = std::exchange(data_port_command_, {});
  if (port.empty()) return Exchange(command);
  if (port_sent_alone_) {
    const FtpReply port_reply = Exchange(port);
    if (port_reply.code > 300 && port_reply.code < 600) {
      OfferFailure(type, port_reply.line);  // raises unless a handler takes it
      return std::nullopt;
    }
    return Exchange(command);
  }
  control_.ReportStatus(TAsyncSock::kLevelTrace, "Transaction");
  answer_.code = 0;
  SendTogether({port, command});
  // A server may answer the command before the PORT: one that connects before it says 200
  // has taken the command already and says 150 first, or refuses it ("550 No such file")
  // first. PORT has no preliminary reply, so a 1xx is the command's; the first final reply is
  // taken for PORT's, and a refusal there fails the transfer whichever of the two it answers.
  std::optional<FtpReply> preliminary;
  FtpReply port_reply = ReadAnswer(/*answers=*/true);
  while (IsPreliminaryReply(port_reply.code)) {
    if (!preliminary) preliminary = port_reply;
    port_reply = ReadAnswer(/*answers=*/true);
  }
  if (port_reply.code > 300 && port_reply.code < 600) {
    // The other reply is owed, and read before the next command. A server that took the
    // command (its 1xx came) and then could not connect may never end it: it waits for a
    // data connection that will not come. PORT goes alone from then on, so that the next
    // command waits for such a reply once, not once per transfer.
    if (preliminary) port_sent_alone_ = true;
    OfferFailure(type, port_reply.line);  // raises unless a handler takes it
    return std::nullopt;
  }
  if (!preliminary) return ReadAnswer(/*answers=*/true);
  answer_ = *preliminary;
  return preliminary;
}

std::optional<int64_t> TProtoFTP::SizeBeforeDownload(const std::string& remote_file) {
  if (size_unknown_) return std::nullopt;
  const FtpReply reply = Exchange("SIZE " + remote_file);
  // 500 and 502: no such command here. Any other refusal is about this file.
  if (reply.code == 500 || reply.code == 502) size_unknown_ = true;
  return ParseSizeReply(reply.line);
}

void TProtoFTP::ConnectPassive(uint16_t port) {
  TAsyncSock& data = *data_connection_;
  // Through a proxy too, and whatever a server behind NAT writes into its reply: the data
  // goes to the one host this session talks to, with no second lookup of a name that might
  // give another address.
  data.ConnectAddress = control_.PeerEnd();
  data.Host = data.ConnectAddress ? net::AddressText(*data.ConnectAddress) : ServerName();
  data.Port = port;
  data.Connect();
}

void TProtoFTP::NotePasvAddress(const std::string& reply) {
  const std::optional<net::Address> peer = control_.PeerEnd();
  const std::optional<std::string> named = ParsePasvAddress(reply);
  const std::optional<net::Address> address =
      named ? net::ParseNumericAddress(*named) : std::nullopt;
  if (!peer || (address && net::SameHost(*address, *peer)) || pasv_address_noted_) return;
  pasv_address_noted_ = true;
  if (OnNotice) {
    OnNotice("PASV address " + named.value_or("?") + " not used: data connections go to " +
             net::AddressText(*peer) + ", the server's address");
  }
}

void TProtoFTP::CheckComplete(const TransferSpan& span) const {
  // Text transfers change line ends on the way, so only a binary count can be held to.
  if (!BinaryTransfers() || !span.expected_total) return;
  const int64_t have = span.offset + BytesTotal;
  const int64_t expected = *span.expected_total;
  if (have < expected) {
    throw Exception("Download incomplete: " + std::to_string(have) + " of " +
                    std::to_string(expected) + " bytes received");
  }
  if (have > expected) {
    throw Exception("Download larger than announced: " + std::to_string(have) +
                    " bytes received, " + std::to_string(expected) + " expected");
  }
}

void TProtoFTP::RequireBinaryForResume() const {
  if (!BinaryTransfers()) {
    throw Exception("Resume needs binary mode: give Binary first");
  }
}

Answered<std::optional<int64_t>> TProtoFTP::RemoteFileSize(const std::string& name) {
  FtpReply reply = QuietTransaction("SIZE " + name);
  const std::optional<int64_t> size = ParseSizeReply(reply.line);
  return {size, std::move(reply)};
}

void TProtoFTP::ReadListing() {
  TAsyncSock& data = *data_connection_;
  // Line by line out of the data connection's receive buffer: one receive per block, however
  // many lines a block holds. The listing is whole when the server closes the connection.
  for (std::string line = data.ReadLn(); !line.empty(); line = data.ReadLn()) {
    HandOverListingLine(std::move(line));
    // A cancelled wait of the control connection ends the listing too, as a failure.
    if (control_.Canceled) throw EAbortError("Socket readln aborted");
  }
  // A reset that came as the close notification between two lines cuts the listing short
  // just as one that a read meets: the lines so far are not the whole listing.
  if (!data.Connected && !data.LastEventOk) {
    throw ESockError(net::ErrorMessageText(net::kWsaEConnReset));
  }
}

void TProtoFTP::HandOverListingLine(std::string line) {
  line = FromWire(WithoutLineEnd(std::move(line)));
  if (OnListItem) OnListItem(line);
}

}  // namespace tarnex
