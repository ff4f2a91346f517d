#include "app/run_summary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/line_prefix.h"
#include "app/translation.h"
#include "platform/scope_guard.h"

namespace tarnex::app {
namespace {

nlohmann::ordered_json Count(const TransferCount& count) {
  return {{"files", count.files}, {"bytes", count.bytes}};
}

// Read by setting it, and set back at once; nothing else runs meanwhile.
mode_t CurrentUmask() {
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return mask;
}

}  // namespace

std::string SummaryJson(const RunSummary& summary) {
  nlohmann::ordered_json failures = nlohmann::ordered_json::array();
  for (const CommandFailure& failure : summary.failures) {
    failures.push_back(
        {{"line", failure.line}, {"command", failure.command}, {"reply", failure.reply}});
  }
  const nlohmann::ordered_json json = {
      {"script", summary.script},
      {"start", IsoLocalTime(summary.start)},
      {"end", IsoLocalTime(summary.end)},
      {"exit_status", summary.exit_status},
      {"lines_run", summary.lines_run},
      {"commands", {{"run", summary.commands_run}, {"failed", summary.failures.size()}}},
      {"failures", failures},
      {"downloaded", Count(summary.downloaded)},
      {"uploaded", Count(summary.uploaded)},
      {"warnings", summary.warnings},
      {"error", summary.error.empty() ? nlohmann::ordered_json(nullptr)
                                      : nlohmann::ordered_json(summary.error)},
  };
  // Lines come from servers and files: a byte that is no UTF-8 must not cost the summary.
  return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string WriteFileWhole(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  const auto failed = [&path](int error) {
    return Format(Tr("cannot write %s: %s"), path.c_str(), SystemErrorText(error).c_str());
  };
  if (fd < 0) return failed(errno);
  ScopeExit remove_temporary([&temporary] { std::remove(temporary.c_str()); });
  bool written = true;
  int error = 0;
  for (size_t done = 0; done < text.size() && written;) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (!written) error = n < 0 ? errno : ENOSPC;
    done += written ? static_cast<size_t>(n) : 0;
  }
  // mkstemp makes it private; a summary holds nothing secret (passwords never reach the log).
  ::fchmod(fd, 0644 & ~CurrentUmask());
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) return failed(error);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return failed(errno);
  remove_temporary.Dismiss();
  return {};
}

}  // namespace tarnex::app
