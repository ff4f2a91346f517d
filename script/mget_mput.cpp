// mget PATTERN and mput PATTERN: the files of one folder that match, downloaded or uploaded.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ftpproto/ftp_types.h"
#include "ftpproto/machine_listing.h"
#include "script/engine.h"
#include "script/file_jobs.h"
#include "script/many_files.h"
#include "script/mirror_plan.h"
#include "script/shown_name.h"
#include "text/string_helpers.h"
#include "text/wildcard.h"

namespace tarnex::script {
namespace {

using detail::DownloadJob;
using detail::ManyFiles;
using detail::Shown;
using detail::UploadJob;

// "reports/*.csv" gives the folder "reports" and the pattern "*.csv".
std::pair<std::string, std::string> SplitPattern(const std::string& pattern) {
  const size_t slash = pattern.rfind('/');
  if (slash == std::string::npos) return {"", pattern};
  return {pattern.substr(0, slash), pattern.substr(slash + 1)};
}

// The regular files of one listed folder whose names match `pattern` (hidden ones by any
// pattern with `hidden_too`), by name; links are followed within the folder only, and a
// matching link that leads to no file there is logged.
std::vector<DirectoryEntry> MatchingFiles(ManyFiles& run, std::vector<DirectoryEntry> entries,
                                          const std::string& pattern, bool hidden_too) {
  FolderTree tree;
  tree.folders[""] = std::move(entries);
  FollowLinks(tree);
  std::vector<DirectoryEntry> files;
  for (DirectoryEntry& entry : tree.folders[""]) {
    if (!MatchesWildcard(pattern, entry.name, hidden_too)) continue;
    if (entry.kind == EntryKind::File) {
      files.push_back(std::move(entry));
    } else if (entry.kind == EntryKind::Link) {
      run.Note("skipped the link " + Shown(entry.name) + ": it leads to no file here");
    }
  }
  std::sort(files.begin(), files.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  if (files.empty()) {
    run.Note("no file matches " + Shown(pattern));
    run.FailAsAWhole();
  }
  return files;
}

// mget [--all] [--parallel N] PATTERN: "--all" (mget only) lists the remote folder with its
// hidden files where that takes asking, and lets the pattern match them; "--parallel N" moves
// the files on N sessions at once; "--" ends the options.
struct PatternArguments {
  bool all = false;
  int parallel = 0;  // 0: the stored Parallel
  std::string pattern;
  std::string error;
};

PatternArguments ParsePatternArguments(const std::string& command, bool download,
                                       std::string args) {
  PatternArguments parsed;
  for (;;) {
    std::string word = NextArgument(args);
    if (download && word == "--all" && !parsed.all) {
      parsed.all = true;
    } else if (word == "--parallel" && parsed.parallel == 0) {
      const std::string count = NextArgument(args);
      const std::optional<int> connections = ParallelCount(count);
      if (!connections) {
        parsed.error = ParallelCountError(command, count);
        return parsed;
      }
      parsed.parallel = *connections;
    } else {
      parsed.pattern = word == "--" ? NextArgument(args) : word;
      return parsed;
    }
  }
}

// mget and mput: every matching file of one folder, a Get or Put each. Files land in, or go
// to, the current folder of the other side.
int32_t TransferMatching(ScriptEngine& engine, const char* command, bool download,
                         std::string args) {
  const auto [all, parallel, pattern, error] =
      ParsePatternArguments(command, download, std::move(args));
  if (!error.empty()) {
    engine.AddLog(error);
    return 999;
  }
  ManyFiles run(engine, command, all ? ListScope::WithHidden : ListScope::Visible);
  if (pattern.empty()) {
    run.Note("give a pattern of file names, such as *.csv");
    return 999;
  }
  const auto [folder, names] = SplitPattern(pattern);
  std::optional<std::vector<DirectoryEntry>> entries =
      download ? run.ListRemote(folder) : run.ListLocal(folder);
  if (!entries) {
    run.Failed();
    return run.Finish();
  }
  const std::vector<DirectoryEntry> files = MatchingFiles(run, std::move(*entries), names, all);
  run.BeginParallel(parallel != 0 ? parallel : engine.Settings().Parallel, files.size());
  for (const DirectoryEntry& file : files) {
    if (run.Stopped()) break;
    const std::string source = JoinPath(folder, file.name);
    run.Move(download ? DownloadJob(source, file.name, file.size, std::nullopt)
                      : UploadJob(source, file.name, std::nullopt, false));
  }
  return run.Finish();
}

}  // namespace

int32_t ScriptEngine::DoMget(std::string args) {
  return TransferMatching(*this, "mget", true, std::move(args));
}

int32_t ScriptEngine::DoMput(std::string args) {
  return TransferMatching(*this, "mput", false, std::move(args));
}

}  // namespace tarnex::script
