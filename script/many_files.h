// What mget, mput and mirror share: one command of many files, each moved as a Get or Put moves
// one (its own command line in the log, the client's lines, progress, the time-out, the safe
// download), beside one another on parallel sessions when asked; a last line sums the command
// up. A failing file does not stop the command; the result flag is false when any file failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "ftpproto/ftp_types.h"
#include "ftpproto/machine_listing.h"
#include "script/engine.h"
#include "script/mirror_plan.h"
#include "script/parallel_transfers.h"

namespace tarnex::script::detail {

// What one command of many files shares: the log, the tally, the listings of either side.
class ManyFiles {
 public:
  ManyFiles(ScriptEngine& engine, std::string command, ListScope scope = ListScope::Visible);
  ~ManyFiles();

  TLowFTP& Ftp() { return engine_.FTP; }
  // A line of the command's own: in the order of the files when they go beside one another.
  void Log(const std::string& line);
  void Note(const std::string& text) { Log(command_ + ": " + text); }
  // The run was stopped (the window closes): no further file is begun.
  bool Stopped() const { return !engine_.FRunning; }

  void Failed(int32_t code = 999) {
    ++tally.failed;
    if (code > 400) failure_code_ = code;
  }

  // The entries of a remote folder that may be used: names that could lead elsewhere and
  // lines not understood are logged and left out. Nothing when it cannot be listed.
  std::optional<std::vector<DirectoryEntry>> ListRemote(const std::string& folder);
  std::optional<std::vector<DirectoryEntry>> ListLocal(const std::string& folder);

  // Moves one file: at once on the engine's session, its lines logged as they come, or, once
  // BeginParallel has opened sessions of their own, queued for them.
  void Move(FileJob job);

  // From here on the files go on `connections` sessions besides the engine's (no more than
  // there are files), when that is more than one; else one after another, as always. A
  // session that cannot be opened is named, and the others go on without it.
  void BeginParallel(int connections, size_t files);

  // The command fails although no file did: a pattern that matched nothing, as a shell's
  // glob or another client's mget fails then, so that a job notices an empty delivery.
  void FailAsAWhole() { failed_as_a_whole_ = true; }

  // The summary line; the command's result.
  int32_t Finish(bool dry_run = false);

  TransferTally tally;

 private:
  // The files on sessions of their own (many_files.cpp).
  struct Parallel;

  void Apply(const FileOutcome& outcome);
  int SendWaitSeconds() const;
  void Collect();
  void ShowProgress();
  void EndParallel();
  void MoveLeftOver(ParallelSessions::Job& job);
  std::vector<DirectoryEntry> SafeEntries(std::vector<DirectoryEntry> entries,
                                          const std::string& folder);

  ScriptEngine& engine_;
  std::string command_;
  ListScope scope_;  // of every remote listing
  int64_t started_ms_;
  int32_t failure_code_ = 0;
  bool failed_as_a_whole_ = false;
  std::unique_ptr<Parallel> parallel_;  // last: it may log through the members above
};

}  // namespace tarnex::script::detail
