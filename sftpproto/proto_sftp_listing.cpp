// Folder listings: OPENDIR, READDIR until the end, CLOSE.
#include <ctime>

#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/scope_guard.h"
#include "sftpproto/name_entries.h"
#include "sftpproto/proto_sftp.h"
#include "sftpproto/remote_path.h"

namespace tarnex {

using sftp::Action;
using sftp::RequestKind;

std::string TProtoSFTP::OpenHandle(const std::string& wire_path, uint32_t pflags,
                                   const char* mode) {
  return HandleOf(Call(RequestKind::Open,
                       [&](uint32_t id) { return sftp::EncodeOpen(id, wire_path, pflags); },
                       "OPEN " + FromWire(wire_path) + " " + mode),
                  Action::OpenTransfer);
}

void TProtoSFTP::CloseHandle(const std::string& handle, const std::string& wire_path,
                             bool raise) {
  const sftp::Outcome outcome = StatusOutcome(
      Call(RequestKind::Close, [&](uint32_t id) { return sftp::EncodeClose(id, handle); },
           "CLOSE " + FromWire(wire_path)),
      Action::EndTransfer);
  if (outcome.Succeeded()) return;
  if (raise) throw Refusal(outcome.line + "\r\n");
  NoteSwallowed("CLOSE " + FromWire(wire_path) + ": " + outcome.line);
}

std::vector<sftp::NameEntry> TProtoSFTP::ReadFolder(const std::string& wire_path) {
  const std::string handle = HandleOf(
      Call(RequestKind::Opendir, [&](uint32_t id) { return sftp::EncodeOpendir(id, wire_path); },
           "OPENDIR " + FromWire(wire_path)),
      Action::OpenTransfer);
  SetAnswer(150, "150 Opening listing of " + FromWire(wire_path));
  // Should the listing fail or be given up on, the handle is closed by the next operation.
  ScopeExit give_up([&] { handles_to_close_.push_back(handle); });
  std::vector<sftp::NameEntry> entries;
  while (true) {
    const Reply reply = Call(RequestKind::Readdir,
                             [&](uint32_t id) { return sftp::EncodeReaddir(id, handle); },
                             "READDIR " + FromWire(wire_path));
    if (reply.type == sftp::SSH_FXP_STATUS) {
      const sftp::Outcome outcome = StatusOutcome(reply, Action::EndTransfer);
      if (!outcome.Succeeded() || outcome.code != 226) throw Refusal(outcome.line + "\r\n");
      break;  // the end of the folder
    }
    sftp::Decoded<sftp::NameReply> names = sftp::DecodeName(reply.View());
    if (!names) ProtocolError(names.error().message);
    for (sftp::NameEntry& entry : names->entries) entries.push_back(std::move(entry));
  }
  give_up.Dismiss();
  CloseHandle(handle, wire_path, /*raise=*/false);
  return entries;
}

FtpReply TProtoSFTP::ListDirectory(ListScope scope) {
  return Run([&] {
    if (list_in_progress_) throw Exception("A list command is already being processed!");
    list_in_progress_ = true;
    ScopeExit done([&] { list_in_progress_ = false; });
    const FtpReply opened = [&] {
      const std::vector<sftp::NameEntry> entries = ReadFolder(cwd_);
      const FtpReply first = answer_;
      const int64_t now = static_cast<int64_t>(std::time(nullptr));
      for (const sftp::NameEntry& entry : entries) {
        if (ShowsInListing(entry.filename, scope) && OnListItem) {
          OnListItem(FromWire(sftp::ListLineOf(entry, now)));
        }
      }
      return first;
    }();
    Trace(false, "226 Listing complete");
    if (OnSuccess) OnSuccess(TCmdType::cmdList);
    answer_ = opened;
    return answer_;
  });
}

FtpReply TProtoSFTP::ListEntries(const std::string& folder, std::vector<DirectoryEntry>& entries) {
  return Run([&] {
    if (list_in_progress_) throw Exception("A list command is already being processed!");
    list_in_progress_ = true;
    ScopeExit done([&] { list_in_progress_ = false; });
    for (const sftp::NameEntry& entry : ReadFolder(PathOf(folder))) {
      if (entry.filename == "." || entry.filename == "..") continue;
      DirectoryEntry listed = EntryOfName(entry);
      listed.name = FromWire(listed.name);
      entries.push_back(std::move(listed));
    }
    Trace(false, "226 Listing complete");
    if (OnSuccess) OnSuccess(TCmdType::cmdList);
    return answer_;
  });
}

}  // namespace tarnex
