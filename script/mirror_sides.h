// The two sides of a mirror behind one interface: the server (RemoteSide) and the local
// folders (LocalSide), both in mirror_sides.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftpproto/machine_listing.h"
#include "script/mirror_plan.h"

namespace tarnex::script::detail {

class ManyFiles;

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
                      const DirectoryEntry& source);
  // The line of a dry run, or false when the step is to be made.
  bool DryRunLine(const std::string& line);

  ManyFiles& run_;
  const bool dry_run_;
};

// The server's side (`remote`) or the local one.
std::unique_ptr<MirrorSide> MakeSide(bool remote, ManyFiles& run, bool dry_run);

}  // namespace tarnex::script::detail
