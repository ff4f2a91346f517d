#include "app/journal_stream.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

#include "text/string_helpers.h"

namespace tarnex::app {

std::optional<StreamId> ParseJournalStream(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto device = WholeNumber<uint64_t>(text.substr(0, colon));
  const auto inode = WholeNumber<uint64_t>(text.substr(colon + 1));
  if (!device || !inode) return std::nullopt;
  return StreamId{static_cast<dev_t>(*device), static_cast<ino_t>(*inode)};
}

bool IsJournalStream(int fd) {
  const char* named = std::getenv("JOURNAL_STREAM");
  if (named == nullptr) return false;
  const std::optional<StreamId> journal = ParseJournalStream(named);
  struct stat info {};
  if (!journal || ::fstat(fd, &info) != 0) return false;
  return StreamId{info.st_dev, info.st_ino} == *journal;
}

}  // namespace tarnex::app
