// mget, mput and mirror: many files in one command. Every file is moved by the client as a
// Get or Put moves one (its own command line in the log, the client's lines, progress, the
// time-out, the safe download); a last line sums the command up. A failing file does not
// stop the command; the result flag is false when any file failed.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "platform/message_loop.h"
#include "platform/replacement_file.h"
#include "platform/text_encoding.h"
#include "script/engine.h"
#include "script/mirror_plan.h"
#include "script/parallel_transfers.h"
#include "text/printable.h"
#include "text/string_helpers.h"
#include "text/wildcard.h"

namespace tarnex::script {
namespace {

// Deeper than this a mirror does not go: a server may present a folder inside itself.
constexpr int kMaxDepth = 100;

// A name or path as a log line shows it: quoted when it holds a blank, and its control
// characters, which a hostile server may put into a name to steer a terminal, as "\x1b". What
// goes to the server and to the disk is the name as it is.
std::string Shown(std::string_view name) {
  return QuotedArgument(EscapeControlCharacters(name));
}

DirectoryEntry FromLocal(const platform::LocalEntry& local) {
  DirectoryEntry entry;
  entry.name = local.name;
  switch (local.kind) {
    case platform::LocalKind::File:
      entry.kind = EntryKind::File;
      break;
    case platform::LocalKind::Folder:
      entry.kind = EntryKind::Folder;
      break;
    case platform::LocalKind::Link:
      entry.kind = EntryKind::Link;
      break;
    case platform::LocalKind::Other:
      entry.kind = EntryKind::Other;
      break;
  }
  entry.size = local.size;
  entry.modified = local.modified;
  entry.precision = TimePrecision::Second;
  entry.link_target = local.link_target;
  return entry;
}

// "reports/*.csv" gives the folder "reports" and the pattern "*.csv".
std::pair<std::string, std::string> SplitPattern(const std::string& pattern) {
  const size_t slash = pattern.rfind('/');
  if (slash == std::string::npos) return {"", pattern};
  return {pattern.substr(0, slash), pattern.substr(slash + 1)};
}

// Whether `path` lies inside one of `folders` (or, with `or_at`, is one of them).
bool IsInside(const std::set<std::string>& folders, const std::string& path, bool or_at) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (folders.count(path.substr(0, slash)) != 0) return true;
  }
  return or_at && folders.count(path) != 0;
}

bool IsDeletion(StepKind kind) {
  return kind == StepKind::DeleteFile || kind == StepKind::ClearFolder ||
         kind == StepKind::DeleteFolder;
}

// Get of a file a listing named: its line, the download held to the listed size, the remote
// time given to the local file. The local name is the server's, so it must not lead elsewhere:
// a link, folder or device in its place is refused here, and one that comes in the meantime by
// the download itself; what the link leads to stays untouched.
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

// Put: its line, the upload, and (when given) the local time kept on the server. With
// `via_temporary` the bytes go to a hidden name beside the target, which takes the target's
// name once complete: an upload cut short never leaves a partial file under it.
FileOutcome UploadFile(const FileMove& move, const std::string& local, const std::string& remote,
                       std::optional<int64_t> modified, bool via_temporary) {
  move.log("Put " + Shown(local) + " " + Shown(remote));
  const int64_t size = platform::LocalEntryOf(local).value_or(platform::LocalEntry{}).size;
  const std::string target = via_temporary ? UploadTemporaryName(remote) : remote;
  int32_t result = move.ftp.Upload(local, target);
  if (via_temporary && result <= 400) result = move.ftp.ReplaceRemoteFile(target, remote);
  if (result > 400) {
    bool removed = false;
    if (via_temporary) move.ftp.TryDelete(target, removed);  // what came of it, if anything
    return FileOutcome{false, 0, result};
  }
  if (modified) move.ftp.SetModificationTime(remote, *modified);  // a refusal is logged only
  return FileOutcome{true, size, 0};
}

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

// What one command of many files shares: the log, the tally, the listings of either side.
class ManyFiles {
 public:
  ManyFiles(ScriptEngine& engine, std::string command, ListScope scope = ListScope::Visible)
      : engine_(engine),
        command_(std::move(command)),
        scope_(scope),
        started_ms_(platform::MonotonicMs()) {}

  TLowFTP& Ftp() { return engine_.FTP; }
  // A line of the command's own: in the order of the files when they go beside one another.
  void Log(const std::string& line) {
    if (parallel_) return parallel_->log.Add(line);
    engine_.AddLog(line);
  }
  void Note(const std::string& text) { Log(command_ + ": " + text); }
  // The run was stopped (the window closes): no further file is begun.
  bool Stopped() const { return !engine_.FRunning; }

  void Failed(int32_t code = 999) {
    ++tally.failed;
    if (code > 400) failure_code_ = code;
  }

  // The entries of a remote folder that may be used: names that could lead elsewhere and
  // lines not understood are logged and left out. Nothing when it cannot be listed.
  std::optional<std::vector<DirectoryEntry>> ListRemote(const std::string& folder) {
    std::vector<DirectoryEntry> entries;
    std::vector<std::string> not_understood;
    if (Ftp().ListEntries(folder, entries, not_understood, scope_) > 400) return std::nullopt;
    for (const std::string& line : not_understood)
      Note("listing line not understood: " + EscapeControlCharacters(line));
    return SafeEntries(std::move(entries), folder);
  }

  std::optional<std::vector<DirectoryEntry>> ListLocal(const std::string& folder) {
    std::optional<platform::LocalListing> listing = platform::ListLocalFolder(folder);
    if (!listing) {
      Note("cannot read the local folder " + Shown(folder.empty() ? "." : folder));
      return std::nullopt;
    }
    for (const std::string& native : listing->unnamed) {
      Note("skipped " + EscapeControlCharacters(platform::Utf8ToCp932(native)) +
           ": the name cannot be written in the script's encoding");
    }
    std::vector<DirectoryEntry> entries;
    for (const platform::LocalEntry& local : listing->entries) entries.push_back(FromLocal(local));
    return SafeEntries(std::move(entries), folder);
  }

  // Moves one file: at once on the engine's session, its lines logged as they come, or, once
  // BeginParallel has opened sessions of their own, queued for them.
  void Move(FileJob job) {
    if (!parallel_) {
      const FileMove move{Ftp(), [this](const std::string& line) { Log(line); }, command_};
      return Apply(job(move));
    }
    const size_t place = parallel_->log.Reserve();
    parallel_->waiting.insert(place);
    parallel_->sessions->Submit({place, std::move(job)});
    ++parallel_->files;
    Collect();
  }

  // From here on the files go on `connections` sessions besides the engine's (no more than
  // there are files), when that is more than one; else one after another, as always. A
  // session that cannot be opened is named, and the others go on without it.
  void BeginParallel(int connections, size_t files) {
    const int count = static_cast<int>(std::min<size_t>(connections, files));
    if (count < 2 || Stopped()) return;
    std::optional<SessionProfile> profile = Ftp().ProfileForAnotherSession();
    if (!profile) {
      Note("the remote current folder is not known, so the files go one at a time");
      return;
    }
    auto sessions = std::make_unique<ParallelSessions>(
        *profile, count,
        ParallelSessions::Options{command_, SendWaitSeconds(), platform::CurrentTextEncoding()});
    auto& loop = platform::MessageLoop::Current();
    while (!sessions->Settled()) {
      if (Stopped()) sessions->Stop();
      loop.WaitAndProcess(kWaitSliceMs);
    }
    for (const std::string& line : sessions->TakeOpenFailures()) Log(line);
    if (sessions->OpenCount() == 0 || Stopped()) {
      if (!Stopped()) Note("no parallel connection could be opened, so the files go one at a time");
      return;
    }
    parallel_ = std::make_unique<Parallel>(*this, std::move(sessions));
  }

  // The command fails although no file did:  // The command fails although no file did: a pattern that matched nothing, as a shell's
  // glob or another client's mget fails then, so that a job notices an empty delivery.
  void FailAsAWhole() { failed_as_a_whole_ = true; }

  // The summary line; the command's result.
  int32_t Finish(bool dry_run = false) {
    EndParallel();
    if (Stopped()) Note("stopped");
    Log(SummaryLine(command_, tally, dry_run, platform::MonotonicMs() - started_ms_));
    if (tally.failed == 0 && !failed_as_a_whole_ && !Stopped()) return 200;
    return failure_code_ > 400 ? failure_code_ : 999;
  }

  TransferTally tally;

 private:
  static constexpr int kWaitSliceMs = 100;
  static constexpr int64_t kProgressEveryMs = 200;

  // The files on sessions of their own: their lines in the order of the plan, the engine's
  // own session logging into that order too until they are all done.
  struct Parallel {
    Parallel(ManyFiles& run, std::unique_ptr<ParallelSessions> opened)
        : log([&run](const std::string& line) { run.engine_.AddLog(line); }),
          sessions(std::move(opened)),
          ftp(run.Ftp()),
          engine_logging(ftp.OnLogging) {
      ftp.OnLogging = [&run](TLowFTP&, const std::string& line) { run.Log(line); };
    }
    ~Parallel() { ftp.OnLogging = engine_logging; }
    Parallel(const Parallel&) = delete;
    Parallel& operator=(const Parallel&) = delete;

    OrderedLog log;
    std::unique_ptr<ParallelSessions> sessions;
    TLowFTP& ftp;
    TLowFTP::TLoggingEvent engine_logging;
    std::set<size_t> waiting;  // places whose file has not come back
    size_t files = 0;
    size_t done = 0;
    int64_t bytes_done = 0;
    int64_t shown_ms = 0;
  };

  void Apply(const FileOutcome& outcome) {
    if (outcome.failure != 0) return Failed(outcome.failure);
    if (!outcome.transferred) return;
    ++tally.transferred;
    tally.bytes += outcome.bytes;
  }

  int SendWaitSeconds() const {
    const settings::LiveSettings& settings = engine_.Settings();
    return settings.cb_wait ? std::max(settings.sp_Wsec, 0) : 0;
  }

  // Takes in the files that came back: counted, their lines in their places, their finished
  // transfers told to whoever follows the engine's session (the runner's counts), progress.
  void Collect() {
    for (ParallelSessions::Result& result : parallel_->sessions->TakeResults()) {
      parallel_->waiting.erase(result.place);
      ++parallel_->done;
      Apply(result.outcome);
      if (result.finished) {
        parallel_->bytes_done += result.finished->bytes;
        TLowFTP::TProgressEvent& event =
            result.finished->download ? Ftp().Onretrievefinished : Ftp().Ontransferfinished;
        if (event) event(Ftp(), result.finished->bytes, result.finished->milliseconds);
      }
      parallel_->log.Fill(result.place, std::move(result.lines));
      parallel_->shown_ms = 0;
    }
    ShowProgress();
  }

  // Status panel 3 (and the progress window's caption): files done of those handed out, and
  // the bytes moved, of every session together.
  void ShowProgress() {
    const int64_t now = platform::MonotonicMs();
    if (now - parallel_->shown_ms < kProgressEveryMs) return;
    parallel_->shown_ms = now;
    engine_.ShowProgress(command_ + " " + std::to_string(parallel_->done) + "/" +
                         std::to_string(parallel_->files) + " files, " +
                         std::to_string(parallel_->bytes_done +
                                        parallel_->sessions->BytesInProgress()) +
                         " bytes");
  }

  // Waits for every file handed out (messages flowing; a stop aborts them), then moves those
  // that no session took on the engine's own, and lets the engine's session log as before.
  void EndParallel() {
    if (!parallel_) return;
    ParallelSessions& sessions = *parallel_->sessions;
    sessions.Close();
    auto& loop = platform::MessageLoop::Current();
    bool stop_sent = false;
    while (!sessions.AllEnded()) {
      if (Stopped() && !stop_sent) {
        sessions.Stop();
        stop_sent = true;
      }
      loop.WaitAndProcess(kWaitSliceMs);
      Collect();
    }
    Collect();
    for (const std::string& line : sessions.TakeOpenFailures()) Log(line);
    for (ParallelSessions::Job& job : sessions.TakeUnstarted()) MoveLeftOver(job);
    for (size_t place : parallel_->waiting) {
      Failed();  // a session took it and never said how it went
      parallel_->log.Fill(place, {});
    }
    parallel_.reset();
  }

  // A file no parallel session took (they ended first): on the engine's session, its lines in
  // its place. Not begun once the run is stopped.
  void MoveLeftOver(ParallelSessions::Job& job) {
    parallel_->waiting.erase(job.place);
    std::vector<std::string> lines;
    if (!Stopped()) {
      const auto collect = [&lines](const std::string& line) { lines.push_back(line); };
      Ftp().OnLogging = [&collect](TLowFTP&, const std::string& line) { collect(line); };
      Apply(job.move(FileMove{Ftp(), collect, command_}));
      Ftp().OnLogging = [this](TLowFTP&, const std::string& line) { Log(line); };
    }
    parallel_->log.Fill(job.place, std::move(lines));
  }

  // A name that could lead out of the folder is left out, and so is a name listed again: one
  // path is one entry, and a walk never comes to the same folder twice through it.
  std::vector<DirectoryEntry> SafeEntries(std::vector<DirectoryEntry> entries,
                                          const std::string& folder) {
    std::vector<DirectoryEntry> safe;
    std::set<std::string> names;
    const std::string shown_folder = Shown(folder.empty() ? "." : folder);
    for (DirectoryEntry& entry : entries) {
      if (entry.kind == EntryKind::FolderItself) continue;
      if (!IsSafeEntryName(entry.name)) {
        Note("skipped the name " + Shown(entry.name) + " in " + shown_folder +
             ": it could lead out of the folder");
        continue;
      }
      if (!names.insert(entry.name).second) {
        Note("skipped the name " + Shown(entry.name) + " in " + shown_folder +
             ": the listing names it twice");
        continue;
      }
      safe.push_back(std::move(entry));
    }
    return safe;
  }

  ScriptEngine& engine_;
  std::string command_;
  ListScope scope_;  // of every remote listing
  int64_t started_ms_;
  int32_t failure_code_ = 0;
  bool failed_as_a_whole_ = false;
  std::unique_ptr<Parallel> parallel_;  // last: it may log through the members above
};

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

// The regular files of a listed folder, by name.
std::map<std::string, const DirectoryEntry*> FilesOf(const FolderTree& tree,
                                                     const std::string& folder) {
  std::map<std::string, const DirectoryEntry*> files;
  const auto listed = tree.folders.find(folder);
  if (listed == tree.folders.end()) return files;
  for (const DirectoryEntry& entry : listed->second) {
    if (entry.kind == EntryKind::File) files.emplace(entry.name, &entry);
  }
  return files;
}

// One side of a mirror, the server or the local folders: what the mirror asks of a source
// (its listings, the times it knows) and of a destination (its folders, the files it
// receives, what it deletes), so that the mirror never asks which side is which. In a dry run
// a destination logs what it would do.
class MirrorSide {
 public:
  MirrorSide(ManyFiles& run, bool dry_run) : run_(run), dry_run_(dry_run) {}
  virtual ~MirrorSide() = default;

  virtual std::optional<std::vector<DirectoryEntry>> List(const std::string& folder) = 0;
  // A root that cannot be listed (the local side has named it already).
  virtual void NoteUnlisted(const std::string&) {}
  // A destination root that is not there yet: made, not reported as unreadable.
  virtual bool Absent(const std::string&) const { return false; }
  // Where the listing gave times to the minute or day only, or no size, the side asks for
  // more: of every file of `tree` when it is the source (`source` null), else of the files
  // that the size alone would call up to date. `root` is the tree's folder.
  virtual void RefineTimes(FolderTree&, const FolderTree*, const std::string&) {}
  // Whether the files it receives keep the source's times.
  virtual bool KeepsTimes() = 0;
  // Receives `from`, the other side's file `source`, as `to`.
  virtual void Receive(const std::string& from, const std::string& to, const DirectoryEntry& source,
                       bool keep_time) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool DeleteFolder(const std::string& path) = 0;
  // A folder that is to go, first asked to go as a file: true when it was a link shown as a
  // folder, and went (what it leads to stays untouched).
  virtual bool DeleteAsLink(const std::string&) { return false; }

 protected:
  // The line of a transfer a dry run does not make, counted as if made.
  void DryRunTransfer(const char* verb, const std::string& from, const std::string& to,
                      const DirectoryEntry& source) {
    run_.Log(std::string("(dry run) ") + verb + Shown(from) + " " + Shown(to));
    ++run_.tally.transferred;
    run_.tally.bytes += source.size.value_or(0);
  }
  // The line of a dry run, or false when the step is to be made.
  bool DryRunLine(const std::string& line) {
    if (dry_run_) run_.Log("(dry run) " + line);
    return dry_run_;
  }

  ManyFiles& run_;
  const bool dry_run_;
};

class RemoteSide final : public MirrorSide {
 public:
  using MirrorSide::MirrorSide;

  std::optional<std::vector<DirectoryEntry>> List(const std::string& folder) override {
    return run_.ListRemote(folder);
  }
  void NoteUnlisted(const std::string& root) override {
    run_.Note(Shown(root) + ": could not be listed");
  }
  void RefineTimes(FolderTree& tree, const FolderTree* source, const std::string& root) override {
    bool mdtm_refused = false;
    for (auto& [folder, entries] : tree.folders) {
      const std::map<std::string, const DirectoryEntry*> source_files =
          source == nullptr ? std::map<std::string, const DirectoryEntry*>()
                            : FilesOf(*source, folder);
      for (DirectoryEntry& entry : entries) {
        if (run_.Stopped()) return;
        if (entry.kind != EntryKind::File) continue;
        if (source != nullptr) {
          const auto counterpart = source_files.find(entry.name);
          if (counterpart == source_files.end()) continue;
          if (entry.size && counterpart->second->size != entry.size) continue;
        }
        const std::string path = JoinPath(root, JoinPath(folder, entry.name));
        if (!entry.size) run_.Ftp().FileSize(path, entry.size);
        if (entry.precision == TimePrecision::Second || mdtm_refused) continue;
        std::optional<int64_t> time;
        const int32_t code = run_.Ftp().ModificationTime(path, time);
        if (time) {
          entry.modified = time;
          entry.precision = TimePrecision::Second;
        } else if (code >= 500 && code <= 502) {
          mdtm_refused = true;  // the server has no MDTM: the listing's times must do
        }
      }
    }
  }
  bool KeepsTimes() override { return run_.Ftp().ServerOffers("MFMT"); }
  void Receive(const std::string& from, const std::string& to, const DirectoryEntry& source,
               bool keep_time) override {
    if (dry_run_) return DryRunTransfer("Put ", from, to, source);
    run_.Move(UploadJob(from, to, keep_time ? source.modified : std::nullopt, true));
  }
  bool MakeFolder(const std::string& path) override {
    if (DryRunLine("md " + Shown(path))) return true;
    run_.Log("md " + Shown(path));
    return run_.Ftp().MakeDir(path) <= 400;
  }
  bool DeleteFile(const std::string& path) override {
    if (DryRunLine("Del " + Shown(path))) return true;
    run_.Log("Del " + Shown(path));
    return run_.Ftp().Delete(path) <= 400;
  }
  bool DeleteFolder(const std::string& path) override {
    if (DryRunLine("rd " + Shown(path))) return true;
    run_.Log("rd " + Shown(path));
    return run_.Ftp().RemoveDir(path) <= 400;
  }
  bool DeleteAsLink(const std::string& path) override {
    if (dry_run_) return false;
    bool deleted = false;
    run_.Ftp().TryDelete(path, deleted);
    if (deleted) run_.Log("Del " + Shown(path) + " (a link, not followed)");
    return deleted;
  }
};

class LocalSide final : public MirrorSide {
 public:
  using MirrorSide::MirrorSide;

  std::optional<std::vector<DirectoryEntry>> List(const std::string& folder) override {
    return run_.ListLocal(folder);  // a folder that cannot be read is named there
  }
  bool Absent(const std::string& root) const override { return !platform::LocalEntryOf(root); }
  bool KeepsTimes() override { return true; }
  void Receive(const std::string& from, const std::string& to, const DirectoryEntry& source,
               bool) override {
    if (dry_run_) return DryRunTransfer("Get ", from, to, source);
    run_.Move(DownloadJob(from, to, source.size, source.modified));
  }
  bool MakeFolder(const std::string& path) override {
    if (DryRunLine("local folder create: " + Shown(path))) return true;
    const bool made = platform::MakeLocalFolder(path);
    run_.Log(std::string(made ? "local folder create complete: " : "local folder create fail: ") +
             Shown(path));
    return made;
  }
  bool DeleteFile(const std::string& path) override {
    if (DryRunLine("ldel " + Shown(path))) return true;
    run_.Log("ldel " + Shown(path));
    const bool deleted = platform::DeleteFile(path);
    run_.Log(deleted ? "local file delete complete." : "local file delete fail");
    return deleted;
  }
  bool DeleteFolder(const std::string& path) override {
    if (DryRunLine("local folder delete: " + Shown(path))) return true;
    const bool deleted = platform::RemoveLocalFolder(path);
    run_.Log(
        std::string(deleted ? "local folder delete complete: " : "local folder delete fail: ") +
        Shown(path));
    return deleted;
  }
};

std::unique_ptr<MirrorSide> MakeSide(bool remote, ManyFiles& run, bool dry_run) {
  if (remote) return std::make_unique<RemoteSide>(run, dry_run);
  return std::make_unique<LocalSide>(run, dry_run);
}

// Both sides of a mirror and the steps between them.
class Mirror {
 public:
  Mirror(ManyFiles& run, const MirrorArguments& arguments)
      : run_(run),
        a_(arguments),
        source_(MakeSide(!arguments.reverse, run, arguments.dry_run)),
        destination_(MakeSide(arguments.reverse, run, arguments.dry_run)) {}

  void Run() {
    FolderTree source;
    FolderTree destination;
    if (!ListSource(source) || run_.Stopped()) return;
    if (!ListDestination(source, destination) || run_.Stopped()) return;
    MirrorRules rules;
    rules.delete_extra = a_.delete_extra;
    rules.destination_keeps_times = destination_->KeepsTimes();
    keeps_times_ = rules.destination_keeps_times;
    // A link takes its target's size and time: those of a remote file once MDTM has told
    // them, and a local link is followed before its counterpart's time is asked for.
    source_->RefineTimes(source, nullptr, a_.source);
    FollowLinks(source);
    destination_->RefineTimes(destination, &source, a_.destination);
    const std::vector<MirrorStep> steps = PlanMirror(source, destination, rules);
    if (!a_.dry_run) {
      run_.BeginParallel(a_.parallel, std::count_if(steps.begin(), steps.end(), [](const auto& s) {
                           return s.kind == StepKind::Transfer;
                         }));
    }
    for (const MirrorStep& step : steps) {
      if (run_.Stopped()) return;
      Execute(step);
    }
  }

 private:
  // Every folder of the source, from the root down. False when the root cannot be listed.
  bool ListSource(FolderTree& tree) {
    std::optional<std::vector<DirectoryEntry>> root = source_->List(JoinPath(a_.source, ""));
    if (!root) {
      source_->NoteUnlisted(a_.source);
      run_.Failed();
      return false;
    }
    tree.folders[""] = std::move(*root);
    ListBelowRoot(tree, *source_, a_.source, "could not be listed", nullptr);
    return true;
  }

  // The destination's folders that the plan needs: those the source has too, and with
  // --delete those it lacks. A missing root is made. False when that fails.
  bool ListDestination(const FolderTree& source, FolderTree& tree) {
    std::optional<std::vector<DirectoryEntry>> root;
    if (!destination_->Absent(a_.destination))
      root = destination_->List(JoinPath(a_.destination, ""));
    if (!root) {
      if (!destination_->MakeFolder(a_.destination)) {
        run_.Failed();
        return false;
      }
      root.emplace();
    }
    tree.folders[""] = std::move(*root);
    ListBelowRoot(tree, *destination_, a_.destination, "its destination could not be listed",
                  &source);
    return true;
  }

  // Lists the folders below the root of `tree` (listed already), level by level: every one
  // for the source, those the plan looks into for the destination (`source` given). A folder
  // not listed goes to left_out with the reason, so that nothing inside it is changed: one
  // whose listing failed or ended uncleanly (`unreadable`), one too deep, one met before, and
  // all that remain when --max-folders folders have been listed, which fails the mirror.
  void ListBelowRoot(FolderTree& tree, MirrorSide& side, const std::string& root,
                     const char* unreadable, const FolderTree* source) {
    std::deque<std::string> pending;
    std::set<std::string> entered{""};
    std::map<std::string, std::string> uniques;  // a folder's "unique" fact: where it was met
    int listed = 1;
    FindSubfolders(tree, "", source, uniques, pending);
    while (!pending.empty() && !run_.Stopped()) {
      if (listed >= a_.max_folders) return StopWalk(tree, root, pending);
      const std::string folder = std::move(pending.front());
      pending.pop_front();
      // Names lead nowhere else and are listed once, so a path is one folder; whatever a
      // server says, no path is listed twice.
      if (!entered.insert(folder).second) continue;
      ++listed;
      std::optional<std::vector<DirectoryEntry>> entries = side.List(JoinPath(root, folder));
      if (!entries) {
        tree.left_out[folder] = {unreadable, true};
        continue;
      }
      tree.folders[folder] = std::move(*entries);
      FindSubfolders(tree, folder, source, uniques, pending);
    }
  }

  // The folders of a listed folder that are to be listed go to `pending`; those that are not
  // go to left_out: too deep, or the folder of another name met before (the server's "unique"
  // fact, as for a link it shows as a folder), which is not followed round or twice.
  void FindSubfolders(FolderTree& tree, const std::string& folder, const FolderTree* source,
                      std::map<std::string, std::string>& uniques,
                      std::deque<std::string>& pending) {
    for (const DirectoryEntry& entry : tree.folders[folder]) {
      if (entry.kind != EntryKind::Folder) continue;
      const std::string path = JoinPath(folder, entry.name);
      if (source != nullptr && !NeededAtDestination(*source, path)) continue;
      if (std::count(path.begin(), path.end(), '/') + 1 >= kMaxDepth) {
        tree.left_out[path] = {"deeper than " + std::to_string(kMaxDepth) + " folders", true};
        continue;
      }
      if (!entry.unique.empty()) {
        const auto [first, added] = uniques.emplace(entry.unique, path);
        if (!added) {
          tree.left_out[path] = {IsInside({first->second}, path, false)
                                     ? "the same folder as one that holds it"
                                     : "the same folder as " + Shown(first->second),
                                 false};
          continue;
        }
      }
      pending.push_back(path);
    }
  }

  // A destination folder the plan looks into: one the source has, or with --delete one it
  // lacks (a source folder left out leaves its counterpart alone).
  bool NeededAtDestination(const FolderTree& source, const std::string& path) const {
    return source.folders.count(path) != 0 || (a_.delete_extra && source.left_out.count(path) == 0);
  }

  // --max-folders ends a walk: the folders found and not listed stay unread, and the mirror
  // fails.
  void StopWalk(FolderTree& tree, const std::string& root,
                const std::deque<std::string>& unlisted) {
    run_.Note(Shown(root) + ": the walk stopped at " + std::to_string(a_.max_folders) +
              " folders (--max-folders); nothing in the folders not listed is changed");
    run_.Failed();
    for (const std::string& path : unlisted) {
      tree.left_out.try_emplace(path, FolderTree::LeftOut{"not listed (--max-folders)", false});
    }
  }

  std::string SourcePath(const std::string& path) const { return JoinPath(a_.source, path); }
  std::string DestinationPath(const std::string& path) const {
    return JoinPath(a_.destination, path);
  }

  void Execute(const MirrorStep& step) {
    // A folder that went as a link leaves nothing in it to delete (what comes after, such as
    // a file of the same name, still comes).
    if (IsDeletion(step.kind) && IsInside(gone_, step.path, true)) return;
    if (IsInside(unmade_, step.path, false)) {
      // The folder it goes into could not be made; that failure is logged already.
      if (step.kind == StepKind::Transfer) run_.Failed();
      if (step.kind == StepKind::MakeFolder) unmade_.insert(step.path);
      return;
    }
    switch (step.kind) {
      case StepKind::MakeFolder:
        if (!destination_->MakeFolder(DestinationPath(step.path))) {
          run_.Failed();
          unmade_.insert(step.path);
        }
        break;
      case StepKind::Transfer:
        Transfer(step);
        break;
      case StepKind::UpToDate:
        ++run_.tally.up_to_date;
        break;
      case StepKind::DeleteFile:
        DeleteFile(DestinationPath(step.path));
        break;
      case StepKind::ClearFolder:
        ClearFolder(step.path);
        break;
      case StepKind::DeleteFolder:
        DeleteFolder(DestinationPath(step.path));
        break;
      case StepKind::Blocked:
        run_.Note(Shown(step.path) + ": " + step.reason);
        run_.Failed();
        break;
      case StepKind::Skipped:
        run_.Note("skipped " + Shown(step.path) + ": " + step.reason);
        break;
    }
  }

  void Transfer(const MirrorStep& step) {
    destination_->Receive(SourcePath(step.path), DestinationPath(step.path), step.source,
                          keeps_times_);
  }

  void DeleteFile(const std::string& path) {
    if (destination_->DeleteFile(path)) {
      ++run_.tally.deleted;
    } else {
      run_.Failed();
    }
  }

  // A remote folder that is to go is first asked to go as a file: when the server takes
  // that, it was a link shown as a folder, and what it leads to stays untouched.
  void ClearFolder(const std::string& path) {
    if (!destination_->DeleteAsLink(DestinationPath(path))) return;
    ++run_.tally.deleted;
    gone_.insert(path);
  }

  void DeleteFolder(const std::string& path) {
    if (destination_->DeleteFolder(path)) {
      ++run_.tally.deleted;
    } else {
      run_.Failed();
    }
  }

  ManyFiles& run_;
  const MirrorArguments& a_;
  const std::unique_ptr<MirrorSide> source_;
  const std::unique_ptr<MirrorSide> destination_;
  bool keeps_times_ = true;
  std::set<std::string> gone_;    // destination folders deleted as links: nothing inside
  std::set<std::string> unmade_;  // destination folders that could not be made
};

}  // namespace

namespace {

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
  const auto [all, parallel, pattern, error] = ParsePatternArguments(command, download, std::move(args));
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

int32_t ScriptEngine::DoMirror(std::string args) {
  MirrorArguments arguments = ParseMirrorArguments(std::move(args));
  if (!arguments.error.empty()) {
    AddLog(arguments.error);
    return 999;
  }
  if (arguments.parallel == 0) arguments.parallel = settings_.Parallel;
  ManyFiles run(*this, "mirror", arguments.all ? ListScope::WithHidden : ListScope::Visible);
  Mirror(run, arguments).Run();
  return run.Finish(arguments.dry_run);
}

}  // namespace tarnex::script
