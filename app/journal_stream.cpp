#include "app/journal_stream.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>

namespace tarnex::app {
namespace {

std::optional<uint64_t> Decimal(std::string_view text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<StreamId> ParseJournalStream(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto device = Decimal(text.substr(0, colon));
  const auto inode = Decimal(text.substr(colon + 1));
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
