#include "script/mirror_sides.h"

#include <map>

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
