// The facade's operations for mget, mput and mirror: folder listings as entries, and the
// sizes and times of remote files. Each is one supervised step that never raises; apart from
// the listing's success line they log only their failures, so that a mirror of many files
// logs its transfers and not the questions it asked on the way.
#include <chrono>
#include <exception>

#include "ftpclient/low_ftp.h"
#include "ftpclient/session_protocol.h"
#include "ftpproto/proto_ftp.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/scope_guard.h"

namespace tarnex {
namespace {

int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// "total 42" heads a UNIX listing and names no entry.
bool IsTotalLine(const std::string& line) {
  return line.starts_with("total ");
}

// "." and ".." of a "LIST -a": the listed folder and its parent, no entries of it.
bool IsFolderOrParentName(const DirectoryEntry& entry) {
  return entry.kind == EntryKind::Folder && (entry.name == "." || entry.name == "..");
}

}  // namespace

int32_t TLowFTP::SupervisedStep(const std::string& before, const std::string& after,
                                const std::function<int32_t()>& call) {
  int32_t result;
  try {
    DebugLog(before);
    Touch();
    FTimer.SetEnabled(true);
    result = call();
    DebugLog(after);
  } catch (...) {
    result = FailureResult(std::current_exception());
  }
  FTimer.SetEnabled(false);
  return result;
}

int32_t TLowFTP::ListEntries(const std::string& folder, std::vector<DirectoryEntry>& entries,
                             std::vector<std::string>& not_understood, ListScope scope) {
  if (SftpInUse()) {
    // SFTP names each entry with its attributes: nothing to parse, nothing not understood.
    return SupervisedStep("ListEntries Send " + folder, "ListEntries End ", [&] {
      return int32_t{FSftp->ListEntries(folder, entries).code};
    });
  }
  std::vector<std::string> lines;
  bool machine = false;
  bool listed = false;
  const int32_t result = SupervisedStep("ListEntries Send " + folder, "ListEntries End ", [&] {
    machine = HasFeature(FFtp->KnownFeatures(), "MLST");
    FFtp->OnListItem = [&lines](const std::string& line) { lines.push_back(line); };
    ScopeExit detach([this] { FFtp->OnListItem = nullptr; });
    const FtpReply reply = machine          ? FFtp->MachineListDirectory(folder)
                           : folder.empty() ? FFtp->ListDirectory(scope)
                                            : ListInFolder(folder, scope);
    listed = true;
    return int32_t{reply.code};
  });
  if (!listed) return result;
  const bool hidden_asked = !machine && scope == ListScope::WithHidden;
  const int64_t now = UtcNow();
  for (const std::string& line : lines) {
    std::optional<DirectoryEntry> entry =
        machine ? ParseMlsdLine(line) : ParseUnixListLine(line, now);
    if (entry) {
      if (hidden_asked && IsFolderOrParentName(*entry)) entry->kind = EntryKind::FolderItself;
      entries.push_back(std::move(*entry));
    } else if (!line.empty() && !IsTotalLine(line)) {
      not_understood.push_back(line);
    }
  }
  if (hidden_asked && entries.empty()) return CheckEmptyHiddenListing(folder, result);
  return result;
}

int32_t TLowFTP::CheckEmptyHiddenListing(const std::string& folder, int32_t result) {
  // A server that lists hidden entries when asked names at least "." and ".." as a rule; one
  // that took "-a" for a name lists nothing. An empty folder is told apart by LIST alone.
  std::vector<DirectoryEntry> visible;
  std::vector<std::string> not_understood;
  const int32_t plain = ListEntries(folder, visible, not_understood, ListScope::Visible);
  if (plain > 400) return plain;
  if (visible.empty()) return result;
  WriteLog("LIST -a named nothing in " + (folder.empty() ? std::string(".") : folder) +
           " where LIST names entries: the server does not take -a, so that listing is not used");
  return 999;
}

FtpReply TLowFTP::ListInFolder(const std::string& folder, ListScope scope) {
  // LIST takes no path safely (servers read options and patterns into it), so the listing is
  // made inside the folder, and the session goes back to where it was.
  const std::string home = FFtp->CurrentDirectory().value;
  FFtp->EnterDirectory(folder);
  std::exception_ptr failure;
  try {
    FFtp->ListDirectory(scope);
  } catch (const EAbortError&) {
    // Given up on: the way back would wait again, past the time-out. The session is closed
    // rather than left in a folder that later steps would take for the one they started in.
    FFtp->CloseWithoutQuit();
    throw;
  } catch (...) {
    failure = std::current_exception();
  }
  const FtpReply back = FFtp->EnterDirectory(home);
  if (failure) std::rethrow_exception(failure);
  return back;
}

int32_t TLowFTP::ModificationTime(const std::string& file, std::optional<int64_t>& value) {
  return SupervisedStep("MDTM Send " + file, "MDTM End ", [&] {
    Answered<std::optional<int64_t>> time = OnSession([&](auto& session) { return session.RemoteModificationTime(file); });
    value = time.value;
    return int32_t{time.reply.code};
  });
}

int32_t TLowFTP::ModificationTimes(const std::vector<std::string>& files,
                                   std::vector<RemoteTime>& times) {
  times.clear();
  return SupervisedStep("MDTM Send " + std::to_string(files.size()) + " files", "MDTM End ", [&] {
    int32_t last = 0;
    for (auto& time :
         OnSession([&](auto& session) { return session.RemoteModificationTimes(files); })) {
      last = time.reply.code;
      times.push_back({time.value, last});
    }
    return last;
  });
}

int32_t TLowFTP::FileSize(const std::string& file, std::optional<int64_t>& value) {
  return SupervisedStep("SIZE Send " + file, "SIZE End ", [&] {
    Answered<std::optional<int64_t>> size = OnSession([&](auto& session) { return session.RemoteFileSize(file); });
    value = size.value;
    return int32_t{size.reply.code};
  });
}

int32_t TLowFTP::SetModificationTime(const std::string& file, int64_t seconds) {
  return SupervisedStep("MFMT Send " + file, "MFMT End ", [&] {
    const Answered<bool> set = OnSession([&](auto& session) { return session.SetRemoteModificationTime(file, seconds); });
    if (!set.value) throw Refusal(set.reply.line);
    return int32_t{set.reply.code};
  });
}

int32_t TLowFTP::TryDelete(const std::string& path, bool& deleted) {
  return SupervisedStep("TryDelete Send " + path, "TryDelete End ", [&] {
    const Answered<bool> deletion = OnSession([&](auto& session) { return session.TryDeleteFile(path); });
    deleted = deletion.value;
    return int32_t{deletion.reply.code};
  });
}

int32_t TLowFTP::ReplaceRemoteFile(const std::string& uploaded, const std::string& target,
                                   std::optional<int64_t> modified) {
  return SupervisedStep("ReplaceRemoteFile Send " + target, "ReplaceRemoteFile End ", [&] {
    const auto rename = [&] {
      return OnSession([&](auto& session) { return session.TryRenameFile(uploaded, target); });
    };
    // The time goes to the upload before it takes its name (a rename keeps it): over FTP in
    // the same round trip as the rename.
    const auto first_rename = [&] {
      if (!modified) return rename();
      Answered<bool> time_set{false, {}};
      Answered<bool> renamed = OnSession([&](auto& session) {
        return session.TryRenameFileWithTime(uploaded, target, *modified, time_set);
      });
      if (!time_set.value) FailureResult(std::make_exception_ptr(Refusal(time_set.reply.line)));
      return renamed;
    };
    const Answered<bool> renamed = first_rename();
    if (renamed.value) return int32_t{renamed.reply.code};
    // Deleted only once the new file is complete beside it: the name is never that of a
    // partial file, only missing for a moment.
    if (!OnSession([&](auto& session) { return session.TryDeleteFile(target); }).value) {
      throw Refusal(renamed.reply.line);
    }
    const Answered<bool> again = rename();
    if (!again.value) throw Refusal(again.reply.line);
    return int32_t{again.reply.code};
  });
}

std::optional<SessionProfile> TLowFTP::ProfileForAnotherSession() {
  SessionProfile profile;
  const int32_t result = SupervisedStep("PWD Send", "PWD End", [&] {
    Answered<std::string> folder = OnSession([](auto& session) { return session.CurrentDirectory(); });
    profile.folder = std::move(folder.value);
    return int32_t{folder.reply.code};
  });
  if (result > 400) return std::nullopt;
  profile.protocol = sftp_in_use_ ? RemoteProtocol::Sftp : RemoteProtocol::Ftp;
  profile.host = FHostName;
  profile.proxy = FProxyHost;
  profile.port = FPortNumber;
  profile.user = OnSession([](auto& session) { return session.UserID; });
  profile.password = OnSession([](auto& session) { return session.Password; });
  profile.passive = FFtp->Passive;
  profile.remote_encoding = remote_encoding_;
  profile.tls = FFtp->Tls;
  profile.tls_ca_file = FFtp->TlsCaFile;
  profile.tls_fingerprint = FFtp->TlsFingerprint;
  profile.ssh = ssh_options_;
  profile.sftp_remote_encoding = sftp_encoding_;
  profile.wait_timeout = wait_timeout_;
  profile.debug = debugmode_;
  profile.transfer_type = OnSession([](auto& session) { return session.TransferType; });
  return profile;
}

int32_t TLowFTP::OpenLike(const SessionProfile& profile) {
  // The host as that session's Open left it: an address, never a URL that chooses anew (an
  // ftps:// Open's TLS is in the profile's mode).
  UseServer(profile.host, profile.proxy, profile.port, profile.protocol, /*implicit_tls=*/false);
  SetWaitTimeout(profile.wait_timeout);
  set_debugmode(profile.debug);
  SetPassive(profile.passive);
  SetRemoteEncoding(profile.remote_encoding);
  SetTlsMode(profile.tls);
  SetTlsTrust(profile.tls_ca_file, profile.tls_fingerprint);
  SetSshOptions(profile.ssh);
  SetSftpRemoteEncoding(profile.sftp_remote_encoding);
  int32_t result = Connect(profile.user, profile.password);
  if (result > 400) return result;
  // One CWD to the whole path and one TYPE, once for the session, not once per file.
  result = SupervisedStep("EnterFolder Send " + profile.folder, "EnterFolder End", [&] {
    return int32_t{OnSession([&](auto& session) { return session.EnterDirectory(profile.folder); }).code};
  });
  if (result > 400) return result;
  if (profile.transfer_type == OnSession([](auto& session) { return session.TransferType; })) {
    return result;
  }
  return SupervisedStep("ModeChange", "ModeChange End", [&] {
    return int32_t{
        OnSession([&](auto& session) { return session.SetTransferType(profile.transfer_type); }).code};
  });
}

bool TLowFTP::ServerOffers(const std::string& feature) {
  // What SFTP's attributes give every server: sizes, times, and times set on a file.
  if (SftpInUse()) return feature == "SIZE" || feature == "MDTM" || feature == "MFMT";
  bool offered = false;
  SupervisedStep("FEAT Send", "FEAT End", [&] {
    offered = HasFeature(FFtp->KnownFeatures(), feature);
    return int32_t{0};  // only a failure to ask tells anything, and it raises
  });
  return offered;
}

}  // namespace tarnex
