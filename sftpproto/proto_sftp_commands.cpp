// The commands that move no file: folders, deletion, renaming, sizes and times.
#include "ftpproto/reply_parsing.h"
#include "ftpproto/remote_times.h"
#include "platform/errors.h"
#include "sftpproto/proto_sftp.h"
#include "sftpproto/remote_path.h"

namespace tarnex {

using sftp::Action;
using sftp::RequestKind;

std::string TProtoSFTP::Resolve(const std::string& wire_path, Action action) {
  return SingleNameOf(Call(RequestKind::Realpath,
                           [&](uint32_t id) { return sftp::EncodeRealpath(id, wire_path); },
                           "REALPATH " + FromWire(wire_path)),
                      action);
}

std::optional<sftp::FileAttributes> TProtoSFTP::StatOf(const std::string& wire_path, bool raise,
                                                       FtpReply* reply) {
  const Reply got = Call(RequestKind::Stat,
                         [&](uint32_t id) { return sftp::EncodeStat(id, wire_path); },
                         "STAT " + FromWire(wire_path));
  if (got.type == sftp::SSH_FXP_STATUS && !raise) {
    const sftp::Outcome outcome = StatusOutcome(got, Action::FileStatus);
    if (outcome.Succeeded()) ProtocolError("a success where attributes were expected");
    if (reply) *reply = FtpReply{static_cast<int16_t>(outcome.code), outcome.line + "\r\n",
                                 {outcome.line + "\r\n"}};
    return std::nullopt;
  }
  return AttributesOf(got, Action::FileStatus);
}

FtpReply TProtoSFTP::EnterFolder(const std::string& dir) {
  const std::string resolved = Resolve(PathOf(dir), Action::ChangeDir);
  const sftp::FileAttributes attributes = *StatOf(resolved, /*raise=*/true);
  // A server that does not say what the entry is gets the benefit of the doubt: the next
  // request in the folder fails should it be none.
  if (attributes.permissions &&
      (*attributes.permissions & sftp::kFileTypeMask) != sftp::kTypeFolder) {
    Refuse(sftp::Outcome{550, "550 " + dir + ": Not a directory"});
  }
  cwd_ = resolved;
  SetAnswer(250, "250 Directory changed to " + FromWire(resolved));
  return answer_;
}

FtpReply TProtoSFTP::ChangeDirectory(const std::string& dir) {
  return Run([&] {
    EnterFolder(dir);
    if (OnSuccess) OnSuccess(TCmdType::cmdChangeDir);
    return answer_;
  });
}

FtpReply TProtoSFTP::EnterDirectory(const std::string& dir) {
  return Run([&] { return EnterFolder(dir); });
}

Answered<std::string> TProtoSFTP::CurrentDirectory() {
  RequireSession();
  const std::string folder = FromWire(cwd_);
  SetAnswer(257, CurrentFolderLine(folder));
  return {folder, answer_};
}

FtpReply TProtoSFTP::PathCommand(sftp::RequestKind kind,
                                 std::string (*encode)(uint32_t, std::string_view),
                                 const char* verb, const std::string& name, sftp::Action action,
                                 TCmdType type) {
  return Run([&] {
    const std::string path = PathOf(name);
    StatusCall(kind, [&](uint32_t id) { return encode(id, path); },
               std::string(verb) + " " + FromWire(path), action, /*raise=*/true);
    if (OnSuccess) OnSuccess(type);
    return answer_;
  });
}

FtpReply TProtoSFTP::DeleteFile(const std::string& file_name) {
  return PathCommand(RequestKind::Remove, sftp::EncodeRemove, "REMOVE", file_name, Action::Delete,
                     TCmdType::cmdDelete);
}

FtpReply TProtoSFTP::MakeDirectory(const std::string& dir) {
  // A new folder gets the server's default rights: no attributes are sent.
  return PathCommand(
      RequestKind::Mkdir, [](uint32_t id, std::string_view path) { return sftp::EncodeMkdir(id, path); },
      "MKDIR", dir, Action::MakeDir, TCmdType::cmdMakeDir);
}

FtpReply TProtoSFTP::RemoveDirectory(const std::string& dir) {
  return PathCommand(RequestKind::Rmdir, sftp::EncodeRmdir, "RMDIR", dir, Action::RemoveDir,
                     TCmdType::cmdRemoveDir);
}

sftp::Outcome TProtoSFTP::Rename(const std::string& from, const std::string& to, bool raise) {
  const std::string old_path = PathOf(from);
  const std::string new_path = PathOf(to);
  const std::string trace = FromWire(old_path) + " " + FromWire(new_path);
  // RENAME refuses a target that exists on many servers; the extension replaces it, as RNTO
  // does on an FTP server.
  if (offered_.posix_rename) {
    return StatusCall(
        RequestKind::PosixRename,
        [&](uint32_t id) { return sftp::EncodePosixRename(id, old_path, new_path); },
        "POSIX-RENAME " + trace, Action::Rename, raise);
  }
  return StatusCall(RequestKind::Rename,
                    [&](uint32_t id) { return sftp::EncodeRename(id, old_path, new_path); },
                    "RENAME " + trace, Action::Rename, raise);
}

FtpReply TProtoSFTP::RenameFile(const std::string& old_name, const std::string& new_name) {
  return Run([&] {
    Rename(old_name, new_name, /*raise=*/true);
    if (OnSuccess) OnSuccess(TCmdType::cmdRename);
    return answer_;
  });
}

FtpReply TProtoSFTP::SetTransferType(int mode) {
  if (mode != tmAscii && mode != tmImage && mode != tmLocal8) return answer_;
  RequireSession();
  if (mode == tmAscii && !ascii_noted_) {
    ascii_noted_ = true;
    if (OnNotice) OnNotice("SFTP moves files as they are: Ascii has no effect");
  }
  TransferType = mode;
  SetAnswer(200, mode == tmAscii ? "200 Type set to A" : mode == tmImage ? "200 Type set to I"
                                                                         : "200 Type set to L 8");
  if (OnSuccess) OnSuccess(TCmdType::cmdOther);
  return answer_;
}

FtpReply TProtoSFTP::RunCommand(const std::string& command) {
  // No FTP server is there to take it; refused at once, with the reply an FTP server gives a
  // command it does not know.
  const std::string line = "502 FTP commands cannot be sent over SFTP: " + CommandForTrace(command);
  SetAnswer(502, line);
  throw FTPException(line + "\r\n", 502);
}

template <typename Pick>
Answered<std::optional<int64_t>> TProtoSFTP::AttributeOf(const std::string& name, Pick pick,
                                                         const char* what) {
  return Run([&]() -> Answered<std::optional<int64_t>> {
    FtpReply refused;
    const std::optional<sftp::FileAttributes> attributes =
        StatOf(PathOf(name), /*raise=*/false, &refused);
    if (!attributes) {
      answer_ = refused;
      return {std::nullopt, refused};
    }
    // The value and the 213 line SIZE or MDTM would have answered; nothing when not sent.
    const std::optional<std::pair<int64_t, std::string>> value = pick(*attributes);
    if (!value) {
      SetAnswer(550, "550 " + name + ": the server gives no " + what);
      return {std::nullopt, answer_};
    }
    SetAnswer(213, "213 " + value->second);
    return {value->first, answer_};
  });
}

Answered<std::optional<int64_t>> TProtoSFTP::RemoteFileSize(const std::string& name) {
  return AttributeOf(
      name,
      [](const sftp::FileAttributes& attributes) -> std::optional<std::pair<int64_t, std::string>> {
        if (!attributes.size) return std::nullopt;
        return std::make_pair(static_cast<int64_t>(*attributes.size),
                              std::to_string(*attributes.size));
      },
      "size");
}

Answered<std::optional<int64_t>> TProtoSFTP::RemoteModificationTime(const std::string& name) {
  return AttributeOf(
      name,
      [](const sftp::FileAttributes& attributes) -> std::optional<std::pair<int64_t, std::string>> {
        if (!attributes.times) return std::nullopt;
        return std::make_pair(static_cast<int64_t>(attributes.times->mtime),
                              FormatFtpTime(attributes.times->mtime));
      },
      "time");
}

std::vector<Answered<std::optional<int64_t>>> TProtoSFTP::RemoteModificationTimes(
    const std::vector<std::string>& names) {
  std::vector<Answered<std::optional<int64_t>>> times;
  for (const std::string& name : names) times.push_back(RemoteModificationTime(name));
  return times;
}

Answered<bool> TProtoSFTP::SetRemoteModificationTime(const std::string& name, int64_t seconds) {
  return Run([&]() -> Answered<bool> {
    const std::string path = PathOf(name);
    FtpReply refused;
    const std::optional<sftp::FileAttributes> now = StatOf(path, /*raise=*/false, &refused);
    if (!now) {
      answer_ = refused;
      return {false, refused};
    }
    if (seconds < 0 || seconds > UINT32_MAX) {
      SetAnswer(501, "501 The time cannot be set over SFTP: " + std::to_string(seconds));
      return {false, answer_};
    }
    // SETSTAT sets both times or neither: the access time stays what it was.
    sftp::FileAttributes times;
    times.times = sftp::FileTimes{now->times ? now->times->atime : static_cast<uint32_t>(seconds),
                                  static_cast<uint32_t>(seconds)};
    const sftp::Outcome outcome = StatusCall(
        RequestKind::Setstat, [&](uint32_t id) { return sftp::EncodeSetstat(id, path, times); },
        "SETSTAT " + FromWire(path) + " mtime " + std::to_string(seconds), Action::FileStatus,
        /*raise=*/false);
    return {outcome.Succeeded(), answer_};
  });
}

Answered<bool> TProtoSFTP::TryDeleteFile(const std::string& name) {
  return Run([&]() -> Answered<bool> {
    const std::string path = PathOf(name);
    const sftp::Outcome outcome =
        StatusCall(RequestKind::Remove, [&](uint32_t id) { return sftp::EncodeRemove(id, path); },
                   "REMOVE " + FromWire(path), Action::Delete, /*raise=*/false);
    return {outcome.Succeeded(), answer_};
  });
}

Answered<bool> TProtoSFTP::TryRenameFile(const std::string& old_name, const std::string& new_name) {
  return Run([&]() -> Answered<bool> {
    const sftp::Outcome outcome = Rename(old_name, new_name, /*raise=*/false);
    return {outcome.Succeeded(), answer_};
  });
}

Answered<bool> TProtoSFTP::TryRenameFileWithTime(const std::string& old_name,
                                                 const std::string& new_name, int64_t seconds,
                                                 Answered<bool>& time_set) {
  time_set = SetRemoteModificationTime(old_name, seconds);
  return TryRenameFile(old_name, new_name);
}

}  // namespace tarnex
