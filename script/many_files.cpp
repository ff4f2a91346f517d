#include "script/many_files.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/local_folder.h"
#include "platform/message_loop.h"
#include "platform/text_encoding.h"
#include "script/shown_name.h"
#include "settings/live_settings.h"
#include "text/printable.h"

namespace tarnex::script::detail {
namespace {

constexpr int kWaitSliceMs = 100;
constexpr int64_t kProgressEveryMs = 200;

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

}  // namespace

// The files on sessions of their own: their lines in the order of the plan, the engine's
// own session logging into that order too until they are all done.
struct ManyFiles::Parallel {
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

ManyFiles::ManyFiles(ScriptEngine& engine, std::string command, ListScope scope)
    : engine_(engine),
      command_(std::move(command)),
      scope_(scope),
      started_ms_(platform::MonotonicMs()) {}

ManyFiles::~ManyFiles() = default;

void ManyFiles::Log(const std::string& line) {
  if (parallel_) return parallel_->log.Add(line);
  engine_.AddLog(line);
}

std::optional<std::vector<DirectoryEntry>> ManyFiles::ListRemote(const std::string& folder) {
  std::vector<DirectoryEntry> entries;
  std::vector<std::string> not_understood;
  if (Ftp().ListEntries(folder, entries, not_understood, scope_) > 400) return std::nullopt;
  for (const std::string& line : not_understood)
    Note("listing line not understood: " + EscapeControlCharacters(line));
  return SafeEntries(std::move(entries), folder);
}

std::optional<std::vector<DirectoryEntry>> ManyFiles::ListLocal(const std::string& folder) {
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

void ManyFiles::Move(FileJob job) {
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

void ManyFiles::BeginParallel(int connections, size_t files) {
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

int32_t ManyFiles::Finish(bool dry_run) {
  EndParallel();
  if (Stopped()) Note("stopped");
  Log(SummaryLine(command_, tally, dry_run, platform::MonotonicMs() - started_ms_));
  if (tally.failed == 0 && !failed_as_a_whole_ && !Stopped()) return 200;
  return failure_code_ > 400 ? failure_code_ : 999;
}

void ManyFiles::Apply(const FileOutcome& outcome) {
  if (outcome.failure != 0) return Failed(outcome.failure);
  if (!outcome.transferred) return;
  ++tally.transferred;
  tally.bytes += outcome.bytes;
}

int ManyFiles::SendWaitSeconds() const {
  const settings::LiveSettings& settings = engine_.Settings();
  return settings.cb_wait ? std::max(settings.sp_Wsec, 0) : 0;
}

// Takes in the files that came back: counted, their lines in their places, their finished
// transfers told to whoever follows the engine's session (the runner's counts), progress.
void ManyFiles::Collect() {
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
void ManyFiles::ShowProgress() {
  const int64_t now = platform::MonotonicMs();
  if (now - parallel_->shown_ms < kProgressEveryMs) return;
  parallel_->shown_ms = now;
  engine_.ShowProgress(
      command_ + " " + std::to_string(parallel_->done) + "/" + std::to_string(parallel_->files) +
      " files, " + std::to_string(parallel_->bytes_done + parallel_->sessions->BytesInProgress()) +
      " bytes");
}

// Waits for every file handed out (messages flowing; a stop aborts them), then moves those
// that no session took on the engine's own, and lets the engine's session log as before.
void ManyFiles::EndParallel() {
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
void ManyFiles::MoveLeftOver(ParallelSessions::Job& job) {
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
std::vector<DirectoryEntry> ManyFiles::SafeEntries(std::vector<DirectoryEntry> entries,
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

}  // namespace tarnex::script::detail
