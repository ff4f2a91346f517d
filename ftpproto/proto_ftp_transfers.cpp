// Listings and transfers: each opens a data connection of its own (PASV or PORT), sends its
// command on the control connection, moves the data and reads the closing reply.
#include <exception>

#include "ftpproto/resume_plan.h"
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
  const ResumedDownloadTarget target =
      ResumedDownloadTargetOf(remote_file, local_file, options.name_from_server);
  if (PlanResumedDownload(target.have, std::nullopt) == ResumeStep::Whole) {
    DownloadOptions whole = options;
    whole.name_from_server = target.name_from_server;
    return {ResumeOutcome::Transferred, DownloadFile(remote_file, local_file, whole)};
  }
  Answered<std::optional<int64_t>> size = RemoteFileSize(remote_file);
  if (PlanResumedDownload(target.have, size.value) == ResumeStep::Complete) {
    return {ResumeOutcome::AlreadyComplete, std::move(size.reply)};
  }
  const platform::TargetName chosen = target.name_from_server ? platform::TargetName::FromServer
                                                              : platform::TargetName::ChosenByUser;
  RetrieveOperation rest(remote_file, target.local, TransferSpan{target.have, size.value, chosen});
  return {ResumeOutcome::Transferred, RunDataOperation(rest)};
}

Answered<TProtoFTP::ResumeOutcome> TProtoFTP::ResumeUploadFile(const std::string& local_file,
                                                               const std::string& remote_file) {
  control_.CheckConnection();
  RequireBinaryForResume();
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
  StoreOperation rest(local_file, remote, /*append=*/true, *size.value);
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
