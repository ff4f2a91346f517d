// mirror: makes a destination folder tree hold the source's, one side the server and the other
// the local folders: both sides walked, the plan made (script/mirror_plan.h), its steps
// carried out, with --delete what the source lacks deleted.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ftpproto/ftp_types.h"
#include "ftpproto/machine_listing.h"
#include "script/engine.h"
#include "script/many_files.h"
#include "script/mirror_plan.h"
#include "script/mirror_sides.h"
#include "script/shown_name.h"

namespace tarnex::script {
namespace {

using detail::MakeSide;
using detail::ManyFiles;
using detail::MirrorSide;
using detail::Shown;

// Deeper than this a mirror does not go: a server may present a folder inside itself.
constexpr int kMaxDepth = 100;

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
