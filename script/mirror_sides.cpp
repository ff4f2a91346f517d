#include "script/mirror_sides.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "ftpclient/low_ftp.h"
#include "platform/files.h"
#include "platform/local_folder.h"
#include "script/file_jobs.h"
#include "script/many_files.h"
#include "script/shown_name.h"

namespace tarnex::script::detail {
namespace {

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

class RemoteSide final : public MirrorSide {
 public:
  using MirrorSide::MirrorSide;

  // MDTM asked in one write for this many files: few enough for any server's input buffer.
  static constexpr size_t kTimesAtOnce = 32;

  std::optional<std::vector<DirectoryEntry>> List(const std::string& folder) override {
    return run_.ListRemote(folder);
  }
  void NoteUnlisted(const std::string& root) override {
    run_.Note(Shown(root) + ": could not be listed");
  }
  void RefineTimes(FolderTree& tree, const FolderTree* source, const std::string& root) override {
    std::vector<std::pair<DirectoryEntry*, std::string>> untimed;  // and their paths
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
        if (entry.precision != TimePrecision::Second) untimed.emplace_back(&entry, path);
      }
    }
    AskTimes(untimed);
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

 private:
  // MDTM of each file, a batch of them per round trip, until the server says it has none. The
  // first goes alone: a server without MDTM is asked once, not for a whole batch.
  void AskTimes(const std::vector<std::pair<DirectoryEntry*, std::string>>& untimed) {
    for (size_t first = 0, end = 0; first < untimed.size(); first = end) {
      if (run_.Stopped()) return;
      end = std::min(untimed.size(), first == 0 ? 1 : first + kTimesAtOnce);
      std::vector<std::string> paths;
      for (size_t n = first; n < end; ++n) paths.push_back(untimed[n].second);
      std::vector<TLowFTP::RemoteTime> times;
      run_.Ftp().ModificationTimes(paths, times);
      for (size_t n = 0; n < times.size(); ++n) {
        if (times[n].code >= 500 && times[n].code <= 502) return;  // no MDTM: the listing's times
        if (!times[n].seconds) continue;
        untimed[first + n].first->modified = times[n].seconds;
        untimed[first + n].first->precision = TimePrecision::Second;
      }
    }
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

}  // namespace

void MirrorSide::DryRunTransfer(const char* verb, const std::string& from, const std::string& to,
                                const DirectoryEntry& source) {
  run_.Log(std::string("(dry run) ") + verb + Shown(from) + " " + Shown(to));
  ++run_.tally.transferred;
  run_.tally.bytes += source.size.value_or(0);
}

bool MirrorSide::DryRunLine(const std::string& line) {
  if (dry_run_) run_.Log("(dry run) " + line);
  return dry_run_;
}

std::unique_ptr<MirrorSide> MakeSide(bool remote, ManyFiles& run, bool dry_run) {
  if (remote) return std::make_unique<RemoteSide>(run, dry_run);
  return std::make_unique<LocalSide>(run, dry_run);
}

}  // namespace tarnex::script::detail
