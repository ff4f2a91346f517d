// Downloads and uploads: many READs or WRITEs in flight at once, so that a transfer is not one
// round trip per block.
#include <algorithm>
#include <map>

#include "ftpproto/resume_plan.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "platform/replacement_file.h"
#include "platform/scope_guard.h"
#include "sftpproto/proto_sftp.h"
#include "sftpproto/sftp_channel.h"
#include "text/string_helpers.h"

namespace tarnex {
namespace {

using sftp::Action;
using sftp::RequestKind;

// The bytes a transfer keeps in flight: enough to hide the round trips of a network, and at
// most 64 requests (the request table's size, a few left for anything else).
constexpr uint64_t kBytesInFlight = 8 * 1024 * 1024;
constexpr size_t kMaxRequestsInFlight = 60;

size_t WindowFor(uint32_t block) {
  return std::clamp<size_t>(kBytesInFlight / std::max<uint32_t>(block, 1), 4,
                            kMaxRequestsInFlight);
}

// New requests go out once this many have been answered, all in one write: fewer system
// calls here, and fewer, fuller packets for ssh to seal and the server to open.
size_t BatchFor(size_t window) { return std::max<size_t>(1, window / 4); }

}  // namespace

FtpReply TProtoSFTP::DownloadFrom(const std::string& remote_file, const std::string& local_file,
                                  int64_t offset, std::optional<int64_t> expected,
                                  bool name_from_server) {
  std::string local = local_file;
  if (local.empty()) {
    // The remote file's own name, in the local folder, never where its path points to.
    std::optional<std::string> name = LocalNameForDownload(remote_file);
    if (!name) throw Exception("No local file name in \"" + remote_file + "\"");
    local = std::move(*name);
    name_from_server = true;
  }
  const platform::TargetName chosen =
      name_from_server ? platform::TargetName::FromServer : platform::TargetName::ChosenByUser;
  if (chosen == platform::TargetName::FromServer) {
    if (const std::optional<std::string> in_the_way = platform::InTheWayOfServerName(local)) {
      throw EFileError(local + ": " + *in_the_way);
    }
  }
  const std::string path = PathOf(remote_file);
  transfer_in_progress_ = true;
  ScopeExit done([&] { transfer_in_progress_ = false; });
  received_ = 0;
  BytesTotal = 0;

  const std::string handle = OpenHandle(path, sftp::SSH_FXF_READ, "read");
  std::map<uint32_t, std::pair<uint64_t, uint32_t>> in_flight;  // id: offset and length
  // Given up on or failed: the READs still owed are dropped when they come, the handle is
  // closed by the next operation.
  ScopeExit give_up([&] {
    for (const auto& request : in_flight) Abandon(request.first);
    handles_to_close_.push_back(handle);
  });
  const sftp::FileAttributes attributes = AttributesOf(
      Call(RequestKind::Fstat, [&](uint32_t id) { return sftp::EncodeFstat(id, handle); },
           "FSTAT " + FromWire(path)),
      Action::FileStatus);
  if (!expected && attributes.size) expected = static_cast<int64_t>(*attributes.size);
  if (expected && *expected < offset) {
    throw Exception("Cannot resume: the local file is larger than the remote one (" +
                    std::to_string(offset) + " > " + std::to_string(*expected) + " bytes)");
  }
  BytesTotal = expected ? *expected - offset : 0;
  SetAnswer(150, "150 Opening BINARY mode transfer of " + FromWire(path) +
                     (expected ? " (" + std::to_string(*expected) + " bytes)" : ""));
  const FtpReply opened = answer_;

  // The old file stays as it is until the new one is complete.
  platform::ReplacementFile target = offset > 0
                                         ? platform::ReplacementFile::CreateContinuing(local, offset,
                                                                                        chosen)
                                         : platform::ReplacementFile::Create(local, chosen);
  platform::File& out = target.Output();
  const uint32_t block = sizes_.read_length;
  const size_t window = WindowFor(block);
  uint64_t next = static_cast<uint64_t>(offset);  // the first byte not yet asked for
  std::optional<uint64_t> end;                     // where the server said the file ends
  std::vector<std::pair<uint64_t, uint32_t>> again;  // the rest of short reads
  uint64_t got = 0;
  int64_t position = out.Position();

  auto ask = [&](uint64_t at, uint32_t length) {
    const uint32_t id = Begin(RequestKind::Read);
    channel_->Send(sftp::EncodeRead(id, handle, at, length));
    in_flight.emplace(id, std::make_pair(at, length));
  };
  Trace(true, "READ " + FromWire(path) + " from " + std::to_string(offset) + ", " +
                  std::to_string(window) + " x " + std::to_string(block) + " bytes in flight");
  const size_t batch = BatchFor(window);
  while (true) {
    if (in_flight.empty() || window - in_flight.size() >= batch || !again.empty()) {
      // With nothing in flight one request goes out even when every id is held by a request
      // given up on (Begin waits for their replies).
      while (!again.empty() && in_flight.size() < window &&
             (!requests_.Full() || in_flight.empty())) {
        ask(again.back().first, again.back().second);
        again.pop_back();
      }
      // A file of known size is read up to one request past its end (the end is confirmed);
      // should it have grown, on one request at a time.
      while (!end && in_flight.size() < window && (!requests_.Full() || in_flight.empty()) &&
             (!expected || next <= static_cast<uint64_t>(*expected) || in_flight.empty())) {
        ask(next, block);
        next += block;
      }
    }
    if (in_flight.empty()) break;
    channel_->Flush();
    const Incoming reply = NextReply();
    const auto request = in_flight.find(reply.id);
    if (request == in_flight.end()) {
      ProtocolError("a reply to request " + std::to_string(reply.id) + " came unasked");
    }
    const auto [at, length] = request->second;
    in_flight.erase(request);
    if (reply.packet.type == sftp::SSH_FXP_STATUS) {
      const sftp::Decoded<sftp::StatusReply> status = sftp::DecodeStatus(reply.packet);
      if (!status) ProtocolError(status.error().message);
      if (status->code != sftp::SSH_FX_EOF) {
        const sftp::Outcome outcome =
            sftp::OutcomeOfStatus(status->code, FromWire(status->message), Action::EndTransfer);
        Trace(false, "STATUS " + std::to_string(status->code) + " " + FromWire(status->message));
        if (outcome.Succeeded()) ProtocolError("READ answered with a success but no data");
        throw Refusal(outcome.line + "\r\n");
      }
      end = std::min(end.value_or(at), at);
      continue;
    }
    const sftp::Decoded<sftp::DataReply> data = sftp::DecodeData(reply.packet);
    if (!data) ProtocolError(data.error().message);
    if (data->data.empty() || data->data.size() > length) {
      ProtocolError("READ of " + std::to_string(length) + " bytes answered with " +
                    std::to_string(data->data.size()));
    }
    // The data goes from the channel's buffer straight into the file.
    if (position != static_cast<int64_t>(at)) out.Seek(static_cast<int64_t>(at));
    out.Write(data->data);
    position = static_cast<int64_t>(at + data->data.size());
    got += data->data.size();
    received_ += static_cast<int64_t>(data->data.size());
    if (data->data.size() < length) {
      again.emplace_back(at + data->data.size(), static_cast<uint32_t>(length - data->data.size()));
    }
    if (OnPacketRecvd) OnPacketRecvd(*this);
  }
  give_up.Dismiss();
  CloseHandle(handle, path, /*raise=*/false);
  Trace(false, "226 Transfer complete");

  // Every byte before the end came, once: anything else is no copy of the file.
  const uint64_t total = *end;
  if (got != total - static_cast<uint64_t>(offset) || position > static_cast<int64_t>(total)) {
    throw Exception("Download incomplete: " + std::to_string(offset + got) + " bytes received, " +
                    "the file ends at " + std::to_string(total));
  }
  if (expected && static_cast<int64_t>(total) < *expected) {
    throw Exception("Download incomplete: " + std::to_string(total) + " of " +
                    std::to_string(*expected) + " bytes received");
  }
  if (expected && static_cast<int64_t>(total) > *expected) {
    throw Exception("Download larger than announced: " + std::to_string(total) +
                    " bytes received, " + std::to_string(*expected) + " expected");
  }
  BytesTotal = static_cast<int64_t>(total) - offset;
  target.Commit();
  answer_ = opened;
  if (OnSuccess) OnSuccess(TCmdType::cmdTransfer);
  return answer_;
}

FtpReply TProtoSFTP::UploadFrom(const std::string& local_file, const std::string& remote_file,
                                int64_t offset, bool append) {
  // Without a remote name the file keeps its local name.
  const std::string remote = remote_file.empty() ? FileNamePart(local_file) : remote_file;
  const std::string path = PathOf(remote);
  platform::File file = platform::File::OpenRead(local_file);
  transfer_in_progress_ = true;
  ScopeExit done([&] { transfer_in_progress_ = false; });
  sent_ = 0;

  uint32_t flags = sftp::SSH_FXF_WRITE | sftp::SSH_FXF_CREAT;
  if (append) {
    flags |= sftp::SSH_FXF_APPEND;
  } else if (offset == 0) {
    flags |= sftp::SSH_FXF_TRUNC;
  }
  const std::string handle =
      OpenHandle(path, flags, append ? "append" : offset > 0 ? "write at end" : "write");
  std::map<uint32_t, uint64_t> in_flight;  // id: offset
  ScopeExit give_up([&] {
    // WRITEs still queued go out with the next request, their bytes read while the file is
    // open; their replies are dropped like the others'.
    if (channel_) channel_->KeepQueuedBytes();
    for (const auto& request : in_flight) Abandon(request.first);
    handles_to_close_.push_back(handle);
  });
  uint64_t at = static_cast<uint64_t>(offset);
  if (append) {
    // Appended bytes go where the file ends now (servers that honour APPEND put them there
    // whatever the offset says).
    const sftp::FileAttributes attributes = AttributesOf(
        Call(RequestKind::Fstat, [&](uint32_t id) { return sftp::EncodeFstat(id, handle); },
             "FSTAT " + FromWire(path)),
        Action::FileStatus);
    at = attributes.size.value_or(0);
  }
  SetAnswer(150, "150 Opening BINARY mode transfer to " + FromWire(path));
  const FtpReply opened = answer_;
  BytesTotal = file.Size() - offset;

  const uint32_t block = sizes_.write_length;
  const size_t window = WindowFor(block);
  const size_t batch = BatchFor(window);
  // The data goes from the file into the pipe by the kernel, never through this process; the
  // WRITEs are sized from the file's size as it is when they go out, so a file that grows is
  // sent whole.
  int64_t local_at = offset;
  bool file_ended = false;
  Trace(true, "WRITE " + FromWire(path) + " from " + std::to_string(at) + ", " +
                  std::to_string(window) + " x " + std::to_string(block) + " bytes in flight");
  auto settle = [&](const Incoming& reply) {
    const auto request = in_flight.find(reply.id);
    if (request == in_flight.end()) {
      ProtocolError("a reply to request " + std::to_string(reply.id) + " came unasked");
    }
    in_flight.erase(request);
    const sftp::Decoded<sftp::StatusReply> status = sftp::DecodeStatus(reply.packet);
    if (!status) ProtocolError(status.error().message);
    if (status->code != sftp::SSH_FX_OK) {
      const sftp::Outcome outcome =
          sftp::OutcomeOfStatus(status->code, FromWire(status->message), Action::EndTransfer);
      Trace(false, "STATUS " + std::to_string(status->code) + " " + FromWire(status->message));
      throw Refusal(outcome.code < 400 ? "550 " + outcome.line.substr(4) + "\r\n"
                                       : outcome.line + "\r\n");
    }
  };
  while (true) {
    // With nothing in flight one request goes out even when every id is held by a request
    // given up on (Begin waits for their replies): the transfer must not end early.
    const size_t slots = std::max<size_t>(
        in_flight.empty() ? 1 : 0,
        std::min({window - std::min(window, in_flight.size()), batch, requests_.Room()}));
    if (!file_ended && slots > 0 && (in_flight.empty() || slots == batch)) {
      const uint64_t left = static_cast<uint64_t>(std::max<int64_t>(0, file.Size() - local_at));
      const uint64_t count = std::min<uint64_t>(left, uint64_t{block} * slots);
      if (count == 0) file_ended = true;
      for (uint64_t done = 0; done < count;) {
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(block, count - done));
        const uint32_t id = Begin(RequestKind::Write);
        channel_->Send(sftp::EncodeWriteHeader(id, handle, at, length));
        channel_->SendFileBytes(file.Descriptor(), local_at, length);
        in_flight.emplace(id, at);
        at += length;
        local_at += length;
        done += length;
      }
      channel_->Flush();
      sent_ += static_cast<int64_t>(count);
      if (count > 0 && OnPacketSent) OnPacketSent(*this);
      continue;
    }
    if (in_flight.empty()) break;
    settle(NextReply());
  }
  give_up.Dismiss();
  // The server may report a failed write only when the file is closed.
  CloseHandle(handle, path, /*raise=*/true);
  Trace(false, "226 Transfer complete");
  answer_ = opened;
  if (OnSuccess) OnSuccess(append ? TCmdType::cmdAppend : TCmdType::cmdTransfer);
  return answer_;
}

FtpReply TProtoSFTP::DownloadFile(const std::string& remote_file, const std::string& local_file,
                                  const DownloadOptions& options) {
  return Run([&] {
    return DownloadFrom(remote_file, local_file, 0, options.listed_size, options.name_from_server);
  });
}

FtpReply TProtoSFTP::UploadFile(const std::string& local_file, const std::string& remote_file) {
  return Run([&] { return UploadFrom(local_file, remote_file, 0, /*append=*/false); });
}

FtpReply TProtoSFTP::AppendFile(const std::string& local_file, const std::string& remote_file) {
  return Run([&] { return UploadFrom(local_file, remote_file, 0, /*append=*/true); });
}

Answered<TProtoSFTP::ResumeOutcome> TProtoSFTP::ResumeDownloadFile(
    const std::string& remote_file, const std::string& local_file, const DownloadOptions& options) {
  RequireSession();
  const ResumedDownloadTarget target =
      ResumedDownloadTargetOf(remote_file, local_file, options.name_from_server);
  if (PlanResumedDownload(target.have, std::nullopt) == ResumeStep::Whole) {
    return {ResumeOutcome::Transferred, Run([&] {
              return DownloadFrom(remote_file, local_file, 0, options.listed_size,
                                  target.name_from_server);
            })};
  }
  Answered<std::optional<int64_t>> size = RemoteFileSize(remote_file);
  if (PlanResumedDownload(target.have, size.value) == ResumeStep::Complete) {
    return {ResumeOutcome::AlreadyComplete, std::move(size.reply)};
  }
  return {ResumeOutcome::Transferred, Run([&] {
            return DownloadFrom(remote_file, target.local, target.have, size.value,
                                target.name_from_server);
          })};
}

Answered<TProtoSFTP::ResumeOutcome> TProtoSFTP::ResumeUploadFile(const std::string& local_file,
                                                                 const std::string& remote_file) {
  RequireSession();
  const std::string remote = remote_file.empty() ? FileNamePart(local_file) : remote_file;
  const int64_t local_size = platform::File::OpenRead(local_file).Size();
  Answered<std::optional<int64_t>> size = RemoteFileSize(remote);
  switch (PlanResumedUpload(size.value, local_size)) {
    case ResumeStep::Whole:
      return {ResumeOutcome::Transferred, UploadFile(local_file, remote)};
    case ResumeStep::Complete:
      return {ResumeOutcome::AlreadyComplete, std::move(size.reply)};
    case ResumeStep::Rest:
      break;
  }
  return {ResumeOutcome::Transferred,
          Run([&] { return UploadFrom(local_file, remote, *size.value, /*append=*/false); })};
}

}  // namespace tarnex
