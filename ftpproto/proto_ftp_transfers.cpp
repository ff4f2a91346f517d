// Listings and transfers: each opens a data connection of its own (PASV or PORT), sends its
// command on the control connection, moves the data and reads the closing reply.
#include <exception>

#include "ftpproto/data_operations.h"
#include "ftpproto/reply_parsing.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "text/string_helpers.h"

namespace tarnex {

FtpReply TProtoFTP::ListDirectory(ListScope scope) {
  ListOperation listing(scope == ListScope::WithHidden ? "LIST -a" : "LIST");
  return RunDataOperation(listing);
}

FtpReply TProtoFTP::UploadFile(const std::string& local_file, const std::string& remote_file) {
  StoreOperation upload(local_file, remote_file, /*append=*/false);
  return RunDataOperation(upload);
}

FtpReply TProtoFTP::DownloadFile(const std::string& remote_file, const std::string& local_file,
                                 const DownloadOptions& options) {
  TransferSpan span;
  span.expected_total = options.listed_size;
  if (options.name_from_server) span.local_name = platform::TargetName::FromServer;
  RetrieveOperation download(remote_file, local_file, span);
  return RunDataOperation(download);
}

FtpReply TProtoFTP::AppendFile(const std::string& local_file, const std::string& remote_file) {
  StoreOperation append(local_file, remote_file, /*append=*/true);
  return RunDataOperation(append);
}

Answered<TProtoFTP::ResumeOutcome> TProtoFTP::ResumeDownloadFile(const std::string& remote_file,
                                                                 const std::string& local_file,
                                                                 const DownloadOptions& options) {
  control_.CheckConnection();
  RequireBinaryForResume();
  std::string local = local_file;
  platform::TargetName chosen = options.name_from_server ? platform::TargetName::FromServer
                                                         : platform::TargetName::ChosenByUser;
  if (local.empty()) {
    local = LocalNameForDownload(remote_file).value_or("");
    chosen = platform::TargetName::FromServer;
  }
  // A name the server chose is not followed through a link, not even to read its size.
  const std::optional<platform::LocalEntry> there = platform::LocalEntryOf(local);
  const bool regular = there && there->kind == platform::LocalKind::File;
  const int64_t have =
      chosen == platform::TargetName::FromServer
          ? (regular ? there->size : 0)
          : (platform::FileExists(local) ? platform::File::OpenRead(local).Size() : 0);
  if (have <= 0) {
    // Nothing (or nothing yet) to go on from.
    DownloadOptions whole = options;
    whole.name_from_server = chosen == platform::TargetName::FromServer;
    return {ResumeOutcome::Transferred, DownloadFile(remote_file, local_file, whole)};
  }
  Answered<std::optional<int64_t>> size = RemoteFileSize(remote_file);
  const std::optional<int64_t> remote_size = size.value;
  if (remote_size && have == *remote_size) {
    return {ResumeOutcome::AlreadyComplete, std::move(size.reply)};
  }
  if (remote_size && have > *remote_size) {
    throw Exception("Cannot resume: the local file is larger than the remote one (" +
                    std::to_string(have) + " > " + std::to_string(*remote_size) + " bytes)");
  }
  RetrieveOperation rest(remote_file, local, TransferSpan{have, remote_size, chosen});
  return {ResumeOutcome::Transferred, RunDataOperation(rest)};
}

Answered<TProtoFTP::ResumeOutcome> TProtoFTP::ResumeUploadFile(const std::string& local_file,
                                                               const std::string& remote_file) {
  control_.CheckConnection();
  RequireBinaryForResume();
  const std::string remote = remote_file.empty() ? FileNamePart(local_file) : remote_file;
  const int64_t local_size = platform::File::OpenRead(local_file).Size();
  Answered<std::optional<int64_t>> size = RemoteFileSize(remote);
  const std::optional<int64_t> remote_size = size.value;
  if (!remote_size || *remote_size == 0) {
    // No such file there yet: all of it.
    return {ResumeOutcome::Transferred, UploadFile(local_file, remote)};
  }
  if (*remote_size == local_size) return {ResumeOutcome::AlreadyComplete, std::move(size.reply)};
  if (*remote_size > local_size) {
    throw Exception("Cannot resume: the remote file is larger than the local one (" +
                    std::to_string(*remote_size) + " > " + std::to_string(local_size) + " bytes)");
  }
  StoreOperation rest(local_file, remote, /*append=*/true, *remote_size);
  return {ResumeOutcome::Transferred, RunDataOperation(rest)};
}

int64_t TProtoFTP::DataBytesReceived() const {
  return data_connection_ ? data_connection_->BytesReceived : 0;
}

int64_t TProtoFTP::DataBytesSent() const {
  return data_connection_ ? data_connection_->BytesSent : 0;
}

void TProtoFTP::SendAbort() {
  // ABOR's reply and the transfer's closing reply, which the cancelled wait did not read, are
  // owed from now on: the next command reads them first, for as long as its supervision allows,
  // and a server that does not send them loses the connection rather than have them taken for
  // the answers to later commands. Nothing waits for them here: the time-out has been used up
  // by the wait that was cancelled.
  try {
    answer_.code = 0;  // the transfer has no answer now
    SendCommand("ABOR", /*settle_first=*/false);
  } catch (...) {
    // The transfer's own failure is what the caller hears about.
    control_.NoteSwallowed("ABOR");
  }
  control_.Canceled = false;
}

bool TProtoFTP::WithDataConnection(bool receives, const std::function<bool()>& move) {
  DiscardWaitingInput();
  data_connection_ = std::make_unique<TAsyncSock>();
  data_connection_->OnSwallowedError = [this](TAsyncSock&, const std::string& text) {
    if (OnSwallowedError) OnSwallowedError(text);
  };

  bool succeeded = false;
  std::exception_ptr failure;
  try {
    succeeded = move();
  } catch (...) {
    failure = std::current_exception();
  }
  data_connection_.reset();
  if (receives && control_.Canceled) {
    control_.Canceled = false;
    SendAbort();
  }
  if (failure) std::rethrow_exception(failure);
  return succeeded;
}

}  // namespace tarnex
