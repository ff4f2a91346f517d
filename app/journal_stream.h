// Whether a stream of ours is connected to the journal: systemd names the stream it gave a
// service in JOURNAL_STREAM ("device:inode"); the service's output may have been redirected
// since, so the stream itself must be that one.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

namespace tarnex::app {

struct StreamId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const StreamId&) const = default;
};

// "DEVICE:INODE" in decimal, as systemd writes it; nothing for any other text.
std::optional<StreamId> ParseJournalStream(std::string_view text);

// True when `fd` is the stream JOURNAL_STREAM names.
bool IsJournalStream(int fd);

}  // namespace tarnex::app
