// The face the facade needs of a protocol component. TProtoFTP (FTP, FTPS) and TProtoSFTP (SFTP
// over OpenSSH's client) both have it: the same operations under the same names, answering with
// the same replies and raising the same failures, so that each frame of the facade (supervision,
// trace, log lines, results) is written once for both.
#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "ftpproto/proto_ftp.h"
#include "sftpproto/proto_sftp.h"

namespace tarnex {

template <typename P>
concept SessionProtocol = requires(P p, const P& c, const std::string& name, int mode,
                                   int64_t seconds, const DownloadOptions& options,
                                   Answered<bool>& answered,
                                   const std::vector<std::string>& names) {
  { c.Connected() } -> std::same_as<bool>;
  { p.LogIn() } -> std::same_as<FtpReply>;
  { p.Quit() } -> std::same_as<FtpReply>;
  p.GiveUp();
  p.Cancel();
  p.Abort();
  p.CloseWithoutQuit();
  { p.RunCommand(name) } -> std::same_as<FtpReply>;
  { p.ChangeDirectory(name) } -> std::same_as<FtpReply>;
  { p.EnterDirectory(name) } -> std::same_as<FtpReply>;
  { p.CurrentDirectory() } -> std::same_as<Answered<std::string>>;
  { p.DeleteFile(name) } -> std::same_as<FtpReply>;
  { p.MakeDirectory(name) } -> std::same_as<FtpReply>;
  { p.RemoveDirectory(name) } -> std::same_as<FtpReply>;
  { p.RenameFile(name, name) } -> std::same_as<FtpReply>;
  { p.SetTransferType(mode) } -> std::same_as<FtpReply>;
  { p.ListDirectory(ListScope::Visible) } -> std::same_as<FtpReply>;
  { p.DownloadFile(name, name, options) } -> std::same_as<FtpReply>;
  { p.UploadFile(name, name) } -> std::same_as<FtpReply>;
  { p.AppendFile(name, name) } -> std::same_as<FtpReply>;
  { p.ResumeDownloadFile(name, name) } -> std::same_as<Answered<ResumeOutcome>>;
  { p.ResumeUploadFile(name, name) } -> std::same_as<Answered<ResumeOutcome>>;
  { p.RemoteFileSize(name) } -> std::same_as<Answered<std::optional<int64_t>>>;
  { p.RemoteModificationTime(name) } -> std::same_as<Answered<std::optional<int64_t>>>;
  { p.SetRemoteModificationTime(name, seconds) } -> std::same_as<Answered<bool>>;
  {
    p.RemoteModificationTimes(names)
  } -> std::same_as<std::vector<Answered<std::optional<int64_t>>>>;
  { p.TryDeleteFile(name) } -> std::same_as<Answered<bool>>;
  { p.TryRenameFile(name, name) } -> std::same_as<Answered<bool>>;
  { p.TryRenameFileWithTime(name, name, seconds, answered) } -> std::same_as<Answered<bool>>;
  { c.DataBytesReceived() } -> std::same_as<int64_t>;
  { c.DataBytesSent() } -> std::same_as<int64_t>;
  { c.ListInProgress() } -> std::same_as<bool>;
  { c.ReplyCode() } -> std::same_as<int16_t>;
  { c.LastReply() } -> std::same_as<const std::string&>;
  { c.Answer() } -> std::same_as<const FtpReply&>;
  p.BytesTotal;
  p.TransferType;
  p.UserID;
  p.Password;
  p.OnSuccess;
  p.OnConnect;
  p.OnPacketRecvd;
  p.OnPacketSent;
  p.OnListItem;
  p.OnNotice;
  p.OnDialogue;
  p.OnSwallowedError;
};

static_assert(SessionProtocol<TProtoFTP>);
static_assert(SessionProtocol<TProtoSFTP>);

template <typename Call>
decltype(auto) TLowFTP::OnSession(Call&& call) {
  return sftp_in_use_ ? call(*FSftp) : call(*FFtp);
}

template <typename Call>
decltype(auto) TLowFTP::OnSession(Call&& call) const {
  return sftp_in_use_ ? call(std::as_const(*FSftp)) : call(std::as_const(*FFtp));
}

}  // namespace tarnex
