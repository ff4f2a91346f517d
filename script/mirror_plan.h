// The pure part of mget, mput and mirror: their arguments, what a mirror has to do given the
// listings of both sides, and the line that sums a command up. Paths below a mirror's roots
// are written with "/" ("" is the root itself, "a/b" a folder two levels down); names are in
// the script's encoding.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftpproto/machine_listing.h"

namespace tarnex::script {

// How many folders a walk of one side lists at most, unless --max-folders says otherwise: a
// server may present a tree without end.
inline constexpr int kDefaultMaxFolders = 10000;

// mirror [-R] [--delete] [--dry-run] [--all] [--max-folders N] [--parallel N] SOURCE
// DESTINATION. Options
// come before the two paths ("--" ends them); `error` is the line that explains a wrong use,
// empty when it is right.
struct MirrorArguments {
  bool reverse = false;  // -R: from the local SOURCE to the remote DESTINATION
  bool delete_extra = false;
  bool dry_run = false;
  bool all = false;  // --all: remote hidden entries too, by "LIST -a" where there is no MLSD
  int max_folders = kDefaultMaxFolders;  // folders listed at most on either side
  int parallel = 0;  // sessions that move the files at once; 0: not given (the stored Parallel)
  std::string source;
  std::string destination;
  std::string error;
};
MirrorArguments ParseMirrorArguments(std::string args);

// The N of "--parallel N": a whole number of sessions from 1 to 16; nothing for anything else.
std::optional<int> ParallelCount(std::string_view text);
// The line that refuses "--parallel `text`" of `command`.
std::string ParallelCountError(std::string_view command, std::string_view text);

// "a" and "b" give "a/b"; an empty folder or "." gives the name alone; a folder ending in "/"
// gets no second one.
std::string JoinPath(std::string_view folder, std::string_view name);

// An argument as a script line would write it: in double quotes when it holds a blank or is
// empty.
std::string QuotedArgument(std::string_view argument);

// The hidden name beside `path` that an upload goes to before it takes the name:
// "a/.b.txt.tarnex-part" for "a/b.txt" (a long name is cut at a character boundary).
std::string UploadTemporaryName(std::string_view path);

// What stands at the destination where a file is to go: "a link is in the way", "a folder is
// in the way", "a file is in the way" or "something that is no file is in the way".
const char* InTheWay(EntryKind kind);

// One side of a mirror: the entries of every folder that was listed, and the folders that
// were not, with the reason. Nothing inside a folder that was not listed is changed.
struct FolderTree {
  struct LeftOut {
    std::string reason;
    bool failure = true;  // it should have been listed and could not be; else left on purpose
  };
  std::map<std::string, std::vector<DirectoryEntry>> folders;
  std::map<std::string, LeftOut> left_out{};
};

// Turns every link whose target is a regular file inside the tree into that file (the name
// stays the link's, size and time become the target's). A target that is absolute, leaves
// the root on the way ("../x" at the top), or is no file of a listed folder is not followed:
// the link stays a link.
void FollowLinks(FolderTree& tree);

// When the destination's file is the source's: the same size, and a time equal to the
// source's as far as both are known (to the second, minute or day). Where the destination
// cannot be given times (a server without MFMT), a copy that is not older counts as equal.
// Unknown sizes are never equal; unknown times do not count.
bool IsUpToDate(const DirectoryEntry& source, const DirectoryEntry& destination,
                bool destination_keeps_times);

struct MirrorRules {
  bool delete_extra = false;
  bool destination_keeps_times = true;
};

enum class StepKind {
  MakeFolder,    // at the destination
  Transfer,      // the source's file to the destination
  UpToDate,      // nothing to do for this file
  DeleteFile,    // at the destination (a file, link or other entry the source lacks)
  ClearFolder,   // a destination folder is to go: the steps for what is in it follow
  DeleteFolder,  // at the destination, once everything in it was deleted
  Blocked,       // cannot be done; a failure
  Skipped,       // left alone on purpose
};

struct MirrorStep {
  StepKind kind;
  std::string path;
  DirectoryEntry source;  // Transfer and UpToDate: the source's file
  std::string reason;     // Blocked and Skipped
};

// What makes the destination hold the source: folder by folder from the root down, each
// folder made before what goes into it, everything inside a folder deleted before it.
std::vector<MirrorStep> PlanMirror(const FolderTree& source, const FolderTree& destination,
                                   const MirrorRules& rules);

struct TransferTally {
  int transferred = 0;
  int64_t bytes = 0;
  int up_to_date = 0;
  int deleted = 0;
  int failed = 0;
};

// "mirror: 3 transferred, 12288 bytes, 5 up to date, 0 failed (0.42 s)", with the deletions
// when there were any; a dry run says what it would do.
std::string SummaryLine(std::string_view command, const TransferTally& tally, bool dry_run,
                        int64_t elapsed_ms);

}  // namespace tarnex::script
