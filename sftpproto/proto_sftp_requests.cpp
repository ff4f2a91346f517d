// Requests and their replies: ids, the wait for the one reply a request gets, replies to
// requests given up on dropped, and what a reply means for the operation that asked.
#include "ftpproto/reply_parsing.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text_encoding.h"
#include "sftpproto/proto_sftp.h"
#include "sftpproto/remote_path.h"
#include "sftpproto/sftp_channel.h"

namespace tarnex {
namespace {

std::string TypeName(uint8_t type) {
  const std::string_view name = sftp::PacketTypeName(type);
  if (name == "unknown") return "packet type " + std::to_string(type);
  return std::string(name);
}

// "HANDLE" for SSH_FXP_HANDLE, as the trace shows a reply.
std::string ShortName(uint8_t type) {
  std::string name = TypeName(type);
  if (name.rfind("SSH_FXP_", 0) == 0) name.erase(0, 8);
  return name;
}

}  // namespace

void TProtoSFTP::ProtocolError(const std::string& what) {
  throw ESockError("SFTP protocol error: " + what);
}

uint32_t TProtoSFTP::Begin(sftp::RequestKind kind) {
  while (true) {
    if (std::optional<uint32_t> id = requests_.Begin(kind)) return *id;
    // Every slot is held by a request given up on: their replies make room.
    channel_->Flush();
    const sftp::PacketView packet = channel_->NextPacket();
    const sftp::Decoded<uint32_t> id = sftp::ReplyId(packet);
    if (!id) ProtocolError(id.error().message);
    const sftp::Decoded<sftp::MatchedReply> match = requests_.Match(*id, packet.type);
    if (!match) ProtocolError(match.error().message);
    if (!match->late) ProtocolError("a reply to request " + std::to_string(*id) + " came unasked");
  }
}

TProtoSFTP::Incoming TProtoSFTP::NextReply() {
  while (true) {
    const sftp::PacketView packet = channel_->NextPacket();
    const sftp::Decoded<uint32_t> id = sftp::ReplyId(packet);
    if (!id) ProtocolError(id.error().message);
    const sftp::Decoded<sftp::MatchedReply> match = requests_.Match(*id, packet.type);
    if (!match) ProtocolError(match.error().message);
    if (!match->late) return Incoming{*id, match->kind, packet};
    // A reply to a request given up on: dropped.
  }
}

void TProtoSFTP::Abandon(uint32_t id) noexcept { requests_.Abandon(id); }

TProtoSFTP::Reply TProtoSFTP::Call(sftp::RequestKind kind,
                                   const std::function<std::string(uint32_t)>& encode,
                                   const std::string& trace) {
  const uint32_t id = Begin(kind);
  Trace(true, trace);
  channel_->Send(encode(id));
  try {
    channel_->Flush();
    const Incoming incoming = NextReply();
    if (incoming.id != id) {
      ProtocolError("a reply to request " + std::to_string(incoming.id) + " came unasked");
    }
    Reply reply{incoming.packet.type, std::string(incoming.packet.body)};
    if (reply.type == sftp::SSH_FXP_STATUS) {
      if (const sftp::Decoded<sftp::StatusReply> status = sftp::DecodeStatus(reply.View())) {
        Trace(false, "STATUS " + std::to_string(status->code) + " " + FromWire(status->message));
      }
    } else if (reply.type == sftp::SSH_FXP_NAME) {
      if (const auto name = sftp::DecodeName(reply.View()); name && name->entries.size() == 1) {
        Trace(false, "NAME " + FromWire(name->entries.front().filename));
      } else if (name) {
        Trace(false, "NAME " + std::to_string(name->entries.size()) + " entries");
      }
    } else {
      Trace(false, ShortName(reply.type));
    }
    return reply;
  } catch (...) {
    Abandon(id);  // its reply, should it come, is dropped
    throw;
  }
}

sftp::Outcome TProtoSFTP::StatusOutcome(const Reply& reply, sftp::Action action) {
  if (reply.type != sftp::SSH_FXP_STATUS) {
    ProtocolError("SSH_FXP_STATUS expected, " + TypeName(reply.type) + " came");
  }
  const sftp::Decoded<sftp::StatusReply> status = sftp::DecodeStatus(reply.View());
  if (!status) ProtocolError(status.error().message);
  return sftp::OutcomeOfStatus(status->code, FromWire(status->message), action);
}

void TProtoSFTP::Refuse(const sftp::Outcome& outcome) {
  SetAnswer(outcome);
  throw Refusal(outcome.line + "\r\n");
}

void TProtoSFTP::RefuseStatus(const Reply& reply, sftp::Action action,
                              const char* success_fault) {
  if (reply.type != sftp::SSH_FXP_STATUS) return;
  const sftp::Outcome outcome = StatusOutcome(reply, action);
  if (outcome.Succeeded()) ProtocolError(success_fault);
  Refuse(outcome);
}

std::string TProtoSFTP::HandleOf(const Reply& reply, sftp::Action action) {
  RefuseStatus(reply, action, "a success where a handle was expected");
  const sftp::Decoded<sftp::HandleReply> handle = sftp::DecodeHandle(reply.View());
  if (!handle) ProtocolError(handle.error().message);
  return handle->handle;
}

sftp::FileAttributes TProtoSFTP::AttributesOf(const Reply& reply, sftp::Action action) {
  RefuseStatus(reply, action, "a success where attributes were expected");
  const sftp::Decoded<sftp::AttrsReply> attrs = sftp::DecodeAttrs(reply.View());
  if (!attrs) ProtocolError(attrs.error().message);
  return attrs->attributes;
}

std::string TProtoSFTP::SingleNameOf(const Reply& reply, sftp::Action action) {
  RefuseStatus(reply, action, "a success where a name was expected");
  const sftp::Decoded<sftp::NameReply> name = sftp::DecodeName(reply.View());
  if (!name) ProtocolError(name.error().message);
  if (name->entries.size() != 1) ProtocolError("REALPATH answered with other than one name");
  return name->entries.front().filename;
}

sftp::Outcome TProtoSFTP::StatusCall(sftp::RequestKind kind,
                                     const std::function<std::string(uint32_t)>& encode,
                                     const std::string& trace, sftp::Action action, bool raise) {
  const sftp::Outcome outcome = StatusOutcome(Call(kind, encode, trace), action);
  if (!outcome.Succeeded() && raise) Refuse(outcome);
  SetAnswer(outcome);
  return outcome;
}

std::string TProtoSFTP::ToWire(const std::string& name) const {
  if (NameEncoding == RemoteEncoding::Cp932 ||
      platform::CurrentTextEncoding() != platform::TextEncoding::Cp932) {
    return name;
  }
  if (auto utf8 = platform::TryCp932ToUtf8(name)) return *utf8;
  throw Exception("Not sent, the name cannot be written as UTF-8: " + name);
}

std::string TProtoSFTP::FromWire(const std::string& name) const {
  if (NameEncoding == RemoteEncoding::Cp932 ||
      platform::CurrentTextEncoding() != platform::TextEncoding::Cp932) {
    return name;
  }
  return platform::Utf8ToCp932(name);  // a character Shift-JIS lacks shows as "?"
}

std::string TProtoSFTP::PathOf(const std::string& name) const {
  return JoinRemotePath(cwd_, ToWire(name));
}

void TProtoSFTP::Trace(bool sent, const std::string& line) const {
  if (OnDialogue) OnDialogue(sent, line);
}

void TProtoSFTP::SetAnswer(int code, const std::string& line) {
  answer_.code = static_cast<int16_t>(code);
  answer_.line = line + "\r\n";
  answer_.lines = {answer_.line};
}

void TProtoSFTP::SetAnswer(const sftp::Outcome& outcome) { SetAnswer(outcome.code, outcome.line); }

void TProtoSFTP::NoteSwallowed(const std::string& text) const {
  if (OnSwallowedError) OnSwallowedError(text);
}

}  // namespace tarnex
