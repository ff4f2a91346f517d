#include "script/file_jobs.h"

#include "ftpclient/low_ftp.h"
#include "ftpproto/ftp_types.h"
#include "platform/file_times.h"
#include "platform/local_folder.h"
#include "platform/replacement_file.h"
#include "script/mirror_plan.h"
#include "script/shown_name.h"

namespace tarnex::script::detail {
namespace {

// What a DownloadJob does (file_jobs.h).
FileOutcome DownloadFile(const FileMove& move, const std::string& remote, const std::string& local,
                         std::optional<int64_t> listed_size, std::optional<int64_t> modified) {
  if (const std::optional<std::string> in_the_way = platform::InTheWayOfServerName(local)) {
    move.Note(Shown(local) + ": " + *in_the_way);
    return FileOutcome{false, 0, 999};
  }
  move.log("Get " + Shown(remote) + " " + Shown(local));
  const int32_t result = move.ftp.Download(
      remote, local, DownloadOptions{.listed_size = listed_size, .name_from_server = true});
  if (result > 400) return FileOutcome{false, 0, result};
  FileOutcome outcome{true, 0, 0};
  if (auto done = platform::LocalEntryOf(local)) outcome.bytes = done->size;
  if (modified && !platform::SetModificationTime(local, *modified)) {
    move.Note("cannot set the modification time of " + Shown(local));
  }
  return outcome;
}

// What an UploadJob does (file_jobs.h).
FileOutcome UploadFile(const FileMove& move, const std::string& local, const std::string& remote,
                       std::optional<int64_t> modified, bool via_temporary) {
  move.log("Put " + Shown(local) + " " + Shown(remote));
  const int64_t size = platform::LocalEntryOf(local).value_or(platform::LocalEntry{}).size;
  const std::string target = via_temporary ? UploadTemporaryName(remote) : remote;
  int32_t result = move.ftp.Upload(local, target);
  // The time is set with the rename, in the same round trip (a refusal is logged only).
  if (via_temporary && result <= 400) result = move.ftp.ReplaceRemoteFile(target, remote, modified);
  if (result > 400) {
    bool removed = false;
    if (via_temporary) move.ftp.TryDelete(target, removed);  // what came of it, if anything
    return FileOutcome{false, 0, result};
  }
  if (modified && !via_temporary) move.ftp.SetModificationTime(remote, *modified);
  return FileOutcome{true, size, 0};
}

}  // namespace

FileJob DownloadJob(std::string remote, std::string local, std::optional<int64_t> listed_size,
                    std::optional<int64_t> modified) {
  return [=](const FileMove& move) {
    return DownloadFile(move, remote, local, listed_size, modified);
  };
}

FileJob UploadJob(std::string local, std::string remote, std::optional<int64_t> modified,
                  bool via_temporary) {
  return [=](const FileMove& move) {
    return UploadFile(move, local, remote, modified, via_temporary);
  };
}

}  // namespace tarnex::script::detail
