// One file of mget, mput or mirror, moved as a Get or Put moves one, as a job that any session
// may run (the engine's own or a parallel one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "script/parallel_transfers.h"

namespace tarnex::script::detail {

// Get of a file a listing named: its line, the download held to the listed size, the remote
// time given to the local file. The local name is the server's, so it must not lead elsewhere:
// a link, folder or device in its place is refused here, and one that comes in the meantime by
// the download itself; what the link leads to stays untouched.
FileJob DownloadJob(std::string remote, std::string local, std::optional<int64_t> listed_size,
                    std::optional<int64_t> modified);

// Put: its line, the upload, and (when given) the local time kept on the server. With
// `via_temporary` the bytes go to a hidden name beside the target, which takes the target's
// name once complete: an upload cut short never leaves a partial file under it.
FileJob UploadJob(std::string local, std::string remote, std::optional<int64_t> modified,
                  bool via_temporary);

}  // namespace tarnex::script::detail
