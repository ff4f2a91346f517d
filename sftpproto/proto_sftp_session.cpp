// The session's life: the child started, the version agreed, the child's end.
#include <exception>

#include "platform/child_process.h"
#include "platform/errors.h"
#include "sftpproto/proto_sftp.h"
#include "sftpproto/sftp_channel.h"

namespace tarnex {
namespace {

// After its input ends, how long a child that has closed its output may take to exit before
// it is sent SIGTERM (which would spoil its exit status).
constexpr int kExitAfterEndMs = 500;

}  // namespace

TProtoSFTP::TProtoSFTP() = default;

TProtoSFTP::~TProtoSFTP() {
  OnDisconnect = nullptr;  // nobody is left to hear of it
  EndSession();
}

bool TProtoSFTP::Connected() const { return logged_in_ && channel_ != nullptr; }

void TProtoSFTP::RequireSession() const {
  if (!Connected()) throw Exception("Not Connected");
}

void TProtoSFTP::BeginOperation() {
  RequireSession();
  wait_.Reset();
  CloseGivenUpHandles();
}

void TProtoSFTP::CloseGivenUpHandles() {
  // The transfer that opened them was given up on; its CLOSE is not waited for either, so a
  // server that stays silent costs the next operation nothing. Its reply is dropped.
  std::vector<std::string> handles = std::move(handles_to_close_);
  handles_to_close_.clear();
  for (const std::string& handle : handles) {
    const uint32_t id = Begin(sftp::RequestKind::Close);
    Trace(true, "CLOSE (a handle given up on)");
    channel_->Send(sftp::EncodeClose(id, handle));
    Abandon(id);
  }
}

FtpReply TProtoSFTP::LogIn() {
  wait_.Reset();
  if (Connected()) return answer_;
  EndSession();
  requests_ = sftp::RequestTable();
  offered_ = {};
  sizes_ = sftp::ChooseTransferSizes(std::nullopt);
  cwd_.clear();
  answer_ = {};
  ascii_noted_ = false;
  received_ = sent_ = 0;
  TransferType = tmImage;
  try {
    platform::ChildProcess child = [&] {
      try {
        // Requests go out through a socket: an upload that fills it is woken once most of
        // it has been read, not at every read ssh makes.
        return platform::ChildProcess::Start(Transport.argv, Transport.env,
                                             platform::ChildProcess::InputKind::Socket);
      } catch (const ESockError&) {
        throw;
      } catch (const Exception& e) {
        throw ESockError(e.Message());  // the transport could not be had
      }
    }();
    keep_alive_ = Transport.keep_alive;
    channel_ = std::make_unique<SftpChannel>(
        std::move(child), wait_,
        [this, explain = Transport.explain_failure](
            const std::vector<std::string>& lines,
            const std::optional<platform::ChildExit>& exit) {
          if (explain) {
            std::string told = explain(lines);
            if (!told.empty()) return told;
          }
          std::string text = logged_in_ ? "SFTP connection closed" : "SFTP session could not start";
          if (exit) text += " (" + exit->Describe() + ")";
          if (!lines.empty()) text += ": " + lines.back();
          return text;
        });

    Trace(true, "INIT 3");
    channel_->Send(sftp::EncodeInit());
    channel_->Flush();
    const sftp::PacketView packet = channel_->NextPacket();
    if (packet.type != sftp::SSH_FXP_VERSION) {
      ProtocolError("INIT answered with " + std::string(sftp::PacketTypeName(packet.type)) +
                    " (type " + std::to_string(packet.type) + ")");
    }
    const sftp::Decoded<sftp::VersionReply> version = sftp::DecodeVersion(packet);
    if (!version) ProtocolError(version.error().message);
    std::string offered;
    for (const sftp::Extension& extension : version->extensions) offered += " " + extension.name;
    Trace(false, "VERSION " + std::to_string(version->version) + offered);
    if (version->version != sftp::kProtocolVersion) {
      throw ESockError("The SFTP server speaks version " + std::to_string(version->version) +
                       " of the protocol; only version 3 is spoken here");
    }
    offered_ = sftp::ExtensionsOffered(*version);

    std::optional<sftp::Limits> limits;
    if (offered_.limits) {
      const Reply reply =
          Call(sftp::RequestKind::Limits, [](uint32_t id) { return sftp::EncodeLimits(id); },
               "LIMITS");
      if (reply.type == sftp::SSH_FXP_EXTENDED_REPLY) {
        const sftp::Decoded<sftp::ExtendedReply> extended = sftp::DecodeExtendedReply(reply.View());
        if (!extended) ProtocolError(extended.error().message);
        const sftp::Decoded<sftp::Limits> told = sftp::DecodeLimits(extended->data);
        if (!told) ProtocolError(told.error().message);
        limits = *told;
      }
      // A refusal leaves the sizes every server takes.
    }
    sizes_ = sftp::ChooseTransferSizes(limits);
    cwd_ = Resolve(".", sftp::Action::Login);
    logged_in_ = true;
    SetAnswer(230, UserID.empty() ? "230 Logged in (SFTP version 3)"
                                  : "230 User " + UserID + " logged in (SFTP version 3)");
    if (OnConnect) OnConnect(*this);
    return answer_;
  } catch (...) {
    EndSession();
    throw;
  }
}

FtpReply TProtoSFTP::Quit() {
  wait_.Reset();
  if (!Connected()) return answer_;
  Trace(true, "(end of requests)");
  std::exception_ptr failure;
  try {
    // The server ends when its input does; what it still writes is of no use now.
    channel_->CloseAndDrain();
    channel_->Process().AwaitExit(kExitAfterEndMs);
    SetAnswer(221, "221 SFTP session closed");
  } catch (...) {
    failure = std::current_exception();
  }
  EndSession();
  if (failure) std::rethrow_exception(failure);
  return answer_;
}

void TProtoSFTP::GiveUp() {
  Abort();
  Cancel();
}

void TProtoSFTP::Cancel() { wait_.Cancel(); }

void TProtoSFTP::Abort() {
  if (transfer_in_progress_ || list_in_progress_) wait_.Cancel();
}

void TProtoSFTP::CloseWithoutQuit() {
  wait_.Reset();
  EndSession();
}

void TProtoSFTP::EndSession() noexcept {
  const bool was_connected = Connected();
  logged_in_ = false;
  channel_.reset();  // the child is ended and reaped
  keep_alive_.reset();
  handles_to_close_.clear();
  requests_ = sftp::RequestTable();
  list_in_progress_ = false;
  transfer_in_progress_ = false;
  if (was_connected && OnDisconnect) {
    try {
      OnDisconnect();
    } catch (const std::exception& e) {
      NoteSwallowed(std::string("OnDisconnect: ") + e.what());
    }
  }
}

}  // namespace tarnex
