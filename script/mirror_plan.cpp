#include "script/mirror_plan.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>

#include "settings/options_store.h"
#include "text/sjis.h"
#include "text/string_helpers.h"

namespace tarnex::script {
namespace {

constexpr int kLinkHops = 8;  // a chain of links longer than this is not followed

// The folder part and the name of a path below the root.
std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// `target` read from `folder`, with "." and ".." worked out; nothing when it leaves the root.
std::optional<std::string> ResolvePath(const std::string& folder, std::string_view target) {
  if (target.empty() || target.front() == '/') return std::nullopt;
  std::vector<std::string> parts;
  std::string rest = folder.empty() ? std::string(target) : folder + "/" + std::string(target);
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t slash = std::min(rest.find('/', start), rest.size());
    const std::string part = rest.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string path;
  for (const std::string& part : parts) path = JoinPath(path, part);
  return path;
}

const DirectoryEntry* FindEntry(const FolderTree& tree, const std::string& path) {
  const auto [folder, name] = SplitLast(path);
  const auto listed = tree.folders.find(folder);
  if (listed == tree.folders.end()) return nullptr;
  for (const DirectoryEntry& entry : listed->second) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// The regular file a link leads to, through at most kLinkHops links.
const DirectoryEntry* LinkedFile(const FolderTree& tree, const std::string& folder,
                                 const DirectoryEntry& link) {
  std::string from = folder;
  const DirectoryEntry* at = &link;
  for (int hop = 0; hop < kLinkHops && at->kind == EntryKind::Link; ++hop) {
    const std::optional<std::string> path = ResolvePath(from, at->link_target);
    if (!path) return nullptr;
    at = FindEntry(tree, *path);
    if (at == nullptr) return nullptr;
    from = SplitLast(*path).first;
  }
  return at->kind == EntryKind::File ? at : nullptr;
}

// The entries of a listing that take part, by name.
std::vector<const DirectoryEntry*> Sorted(const std::vector<DirectoryEntry>& entries) {
  std::vector<const DirectoryEntry*> sorted;
  for (const DirectoryEntry& entry : entries) {
    if (entry.kind != EntryKind::FolderItself) sorted.push_back(&entry);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const DirectoryEntry* a, const DirectoryEntry* b) { return a->name < b->name; });
  return sorted;
}

int64_t Truncated(int64_t seconds, TimePrecision precision) {
  const int64_t unit = precision == TimePrecision::Day      ? 86400
                       : precision == TimePrecision::Minute ? 60
                                                            : 1;
  return seconds >= 0 ? seconds / unit : -((-seconds + unit - 1) / unit);
}

class Planner {
 public:
  Planner(const FolderTree& source, const FolderTree& destination, const MirrorRules& rules)
      : source_(source), destination_(destination), rules_(rules) {}

  std::vector<MirrorStep> Plan() {
    PlanFolder("");
    return std::move(steps_);
  }

 private:
  void Add(StepKind kind, const std::string& path, const DirectoryEntry* source = nullptr,
           std::string reason = {}) {
    steps_.push_back(
        MirrorStep{kind, path, source ? *source : DirectoryEntry{}, std::move(reason)});
  }

  // A folder that was not listed, and why: a failure, or left alone on purpose.
  void AddLeftOut(const std::string& path, const FolderTree::LeftOut& left_out) {
    Add(left_out.failure ? StepKind::Blocked : StepKind::Skipped, path, nullptr, left_out.reason);
  }

  // The destination's entries of `folder`: nothing when it was not listed.
  const std::vector<DirectoryEntry>* DestinationListing(const std::string& folder) const {
    const auto listed = destination_.folders.find(folder);
    return listed == destination_.folders.end() ? nullptr : &listed->second;
  }

  void PlanFolder(const std::string& folder) {
    const auto listed = source_.folders.find(folder);
    if (listed == source_.folders.end()) return;
    const std::vector<DirectoryEntry>* there = DestinationListing(folder);
    std::map<std::string, const DirectoryEntry*> existing;
    if (there != nullptr) {
      for (const DirectoryEntry* entry : Sorted(*there)) existing[entry->name] = entry;
    }
    std::vector<std::string> subfolders;
    for (const DirectoryEntry* entry : Sorted(listed->second)) {
      const std::string path = JoinPath(folder, entry->name);
      const auto found = existing.find(entry->name);
      const DirectoryEntry* counterpart = found == existing.end() ? nullptr : found->second;
      if (counterpart != nullptr) existing.erase(found);
      if (entry->kind == EntryKind::File) {
        PlanFile(path, *entry, counterpart);
      } else if (entry->kind == EntryKind::Folder) {
        if (PrepareFolder(path, counterpart)) subfolders.push_back(path);
      } else if (entry->kind == EntryKind::Link) {
        Add(StepKind::Skipped, path, nullptr, "a link to no file inside the source");
      } else {
        Add(StepKind::Skipped, path, nullptr, "neither a file nor a folder");
      }
    }
    if (rules_.delete_extra) {
      for (const auto& [name, entry] : existing) DeleteEntry(JoinPath(folder, name), *entry);
    }
    for (const std::string& path : subfolders) PlanFolder(path);
  }

  void PlanFile(const std::string& path, const DirectoryEntry& file, const DirectoryEntry* there) {
    if (there != nullptr && there->kind == EntryKind::File) {
      const bool same = IsUpToDate(file, *there, rules_.destination_keeps_times);
      Add(same ? StepKind::UpToDate : StepKind::Transfer, path, &file);
      return;
    }
    if (there != nullptr) {
      if (!rules_.delete_extra) return Add(StepKind::Blocked, path, nullptr, InTheWay(there->kind));
      if (!DeleteEntry(path, *there)) return;
    }
    Add(StepKind::Transfer, path, &file);
  }

  // Makes way for the source's folder `path`; false when its contents are not to be planned.
  bool PrepareFolder(const std::string& path, const DirectoryEntry* there) {
    const auto left_out = source_.left_out.find(path);
    if (left_out != source_.left_out.end()) {
      AddLeftOut(path, left_out->second);
      return false;
    }
    if (there != nullptr && there->kind == EntryKind::Folder) {
      const auto unlisted = destination_.left_out.find(path);
      if (unlisted == destination_.left_out.end()) return true;
      AddLeftOut(path, unlisted->second);
      return false;
    }
    if (there != nullptr) {
      if (!rules_.delete_extra) {
        Add(StepKind::Blocked, path, nullptr, InTheWay(there->kind));
        return false;
      }
      if (!DeleteEntry(path, *there)) return false;
    }
    Add(StepKind::MakeFolder, path);
    return true;
  }

  // Deletes a destination entry, a folder with everything in it; false when that cannot be
  // planned (a folder whose listing is missing is never removed blindly).
  bool DeleteEntry(const std::string& path, const DirectoryEntry& entry) {
    if (entry.kind != EntryKind::Folder) {
      Add(StepKind::DeleteFile, path);
      return true;
    }
    const std::vector<DirectoryEntry>* inside = DestinationListing(path);
    if (inside == nullptr) {
      const auto unlisted = destination_.left_out.find(path);
      AddLeftOut(path, unlisted != destination_.left_out.end()
                           ? unlisted->second
                           : FolderTree::LeftOut{"not listed, so not deleted", true});
      return false;
    }
    Add(StepKind::ClearFolder, path);
    bool emptied = true;
    for (const DirectoryEntry* item : Sorted(*inside)) {
      emptied = DeleteEntry(JoinPath(path, item->name), *item) && emptied;
    }
    if (emptied) Add(StepKind::DeleteFolder, path);
    return emptied;
  }

  const FolderTree& source_;
  const FolderTree& destination_;
  const MirrorRules& rules_;
  std::vector<MirrorStep> steps_;
};

// A count of folders: digits only, from 1 up to what an int holds.
std::optional<int> FolderCount(std::string_view text) {
  const std::optional<int> count = WholeNumber<int>(text);
  if (!count || *count < 1) return std::nullopt;
  return count;
}

}  // namespace

const char* InTheWay(EntryKind kind) {
  switch (kind) {
    case EntryKind::Folder:
      return "a folder is in the way";
    case EntryKind::File:
      return "a file is in the way";
    case EntryKind::Link:
      return "a link is in the way";
    default:
      return "something that is no file is in the way";
  }
}

MirrorArguments ParseMirrorArguments(std::string args) {
  MirrorArguments parsed;
  bool options = true;
  std::vector<std::string> paths;
  while (paths.size() < 2) {
    std::string word = NextArgument(args);
    if (word.empty()) break;
    if (options && word == "--") {
      options = false;
    } else if (options && word == "-R") {
      parsed.reverse = true;
    } else if (options && word == "--delete") {
      parsed.delete_extra = true;
    } else if (options && word == "--dry-run") {
      parsed.dry_run = true;
    } else if (options && word == "--all") {
      parsed.all = true;
    } else if (options && word == "--max-folders") {
      const std::string count = NextArgument(args);
      const std::optional<int> max_folders = FolderCount(count);
      if (!max_folders) {
        parsed.error =
            "mirror: --max-folders takes a whole number from 1 up, not " + QuotedArgument(count);
        return parsed;
      }
      parsed.max_folders = *max_folders;
    } else if (options && word == "--parallel") {
      const std::string count = NextArgument(args);
      const std::optional<int> connections = ParallelCount(count);
      if (!connections) {
        parsed.error = ParallelCountError("mirror", count);
        return parsed;
      }
      parsed.parallel = *connections;
    } else if (options && word.size() > 1 && word.front() == '-') {
      parsed.error =
          "mirror: unknown option " + word +
          " (give -R, --delete, --dry-run, --all, --max-folders N or --parallel N)";
      return parsed;
    } else {
      options = false;
      paths.push_back(std::move(word));
    }
  }
  if (paths.size() < 2) {
    parsed.error = "mirror: give a source and a destination folder";
    return parsed;
  }
  parsed.source = std::move(paths[0]);
  parsed.destination = std::move(paths[1]);
  return parsed;
}

std::optional<int> ParallelCount(std::string_view text) {
  const std::optional<int> count = WholeNumber<int>(text);
  const settings::SpinRange& range = settings::kParallelRange;
  if (!count || *count != range.Clamp(*count)) return std::nullopt;
  return count;
}

std::string ParallelCountError(std::string_view command, std::string_view text) {
  return std::string(command) + ": --parallel takes a number of connections from " +
         std::to_string(settings::kParallelRange.min) + " to " +
         std::to_string(settings::kParallelRange.max) + ", not " + QuotedArgument(text);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty() || folder == ".") return std::string(name);
  if (name.empty()) return std::string(folder);
  std::string path(folder);
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string QuotedArgument(std::string_view argument) {
  if (!argument.empty() && argument.find(' ') == std::string_view::npos)
    return std::string(argument);
  return "\"" + std::string(argument) + "\"";
}

std::string UploadTemporaryName(std::string_view path) {
  constexpr size_t kMaxBaseBytes = 200;  // room for the dot and the suffix in 255 bytes
  const size_t slash = path.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? "" : path.substr(0, slash + 1);
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t cut = 0;
  while (cut < name.size() && cut + CharLengthAt(name, cut) <= kMaxBaseBytes) {
    cut += CharLengthAt(name, cut);
  }
  return std::string(folder) + "." + std::string(name.substr(0, cut)) + ".tarnex-part";
}

void FollowLinks(FolderTree& tree) {
  // Decided on the tree as listed, then applied, so that no link sees another one followed.
  std::vector<std::pair<DirectoryEntry*, DirectoryEntry>> followed;
  for (auto& [folder, entries] : tree.folders) {
    for (DirectoryEntry& entry : entries) {
      if (entry.kind != EntryKind::Link) continue;
      if (const DirectoryEntry* file = LinkedFile(tree, folder, entry)) {
        DirectoryEntry as_file = *file;
        as_file.name = entry.name;
        followed.emplace_back(&entry, std::move(as_file));
      }
    }
  }
  for (auto& [entry, as_file] : followed) *entry = std::move(as_file);
}

bool IsUpToDate(const DirectoryEntry& source, const DirectoryEntry& destination,
                bool destination_keeps_times) {
  if (!source.size || !destination.size || *source.size != *destination.size) return false;
  if (!source.modified || !destination.modified) return true;
  const TimePrecision precision = std::min(source.precision, destination.precision);
  if (precision == TimePrecision::None) return true;
  const int64_t from = Truncated(*source.modified, precision);
  const int64_t there = Truncated(*destination.modified, precision);
  return destination_keeps_times ? from == there : there >= from;
}

std::vector<MirrorStep> PlanMirror(const FolderTree& source, const FolderTree& destination,
                                   const MirrorRules& rules) {
  return Planner(source, destination, rules).Plan();
}

std::string SummaryLine(std::string_view command, const TransferTally& tally, bool dry_run,
                        int64_t elapsed_ms) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(elapsed_ms) / 1000.0);
  std::string line(command);
  line += dry_run ? " (dry run): " + std::to_string(tally.transferred) + " to transfer, "
                  : ": " + std::to_string(tally.transferred) + " transferred, ";
  line +=
      std::to_string(tally.bytes) + " bytes, " + std::to_string(tally.up_to_date) + " up to date, ";
  if (tally.deleted > 0) {
    line += std::to_string(tally.deleted) + (dry_run ? " to delete, " : " deleted, ");
  }
  line += std::to_string(tally.failed) + " failed (" + seconds + " s)";
  return line;
}

}  // namespace tarnex::script
