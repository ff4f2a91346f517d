// Where reget and reput go on, the same over FTP and SFTP: from what is there on the receiving
// side and the size of the file on the sending side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnex {

// The local side of a resumed download: the name written to (a name the server chose when the
// script gave none) and the size already there. A name the server chose is not followed
// through a link, not even to read its size: anything but a regular file counts as nothing.
struct ResumedDownloadTarget {
  std::string local;
  bool name_from_server = false;
  int64_t have = 0;
};
ResumedDownloadTarget ResumedDownloadTargetOf(const std::string& remote_file,
                                              const std::string& local_file,
                                              bool name_from_server);

// What a resumed transfer does, given the bytes the receiving side has and the sending side's
// size (nothing when unknown): all of it, nothing (complete already), or the rest from `have`.
// A receiving side larger than the sending one cannot be resumed: Exception "Cannot resume:
// the local (remote) file is larger than the remote (local) one (N > M bytes)".
enum class ResumeStep { Whole, Complete, Rest };
ResumeStep PlanResumedDownload(int64_t have, std::optional<int64_t> remote_size);
ResumeStep PlanResumedUpload(std::optional<int64_t> remote_size, int64_t local_size);

}  // namespace tarnex
