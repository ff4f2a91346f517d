// The file a download writes. The bytes go into a hidden temporary file beside the target,
// which replaces the target only when Commit() is called; a download that fails (or a file
// that goes out of scope uncommitted) leaves the target exactly as it was and no temporary
// file behind. A target the user named that exists and is not a regular file (a device, a
// FIFO) cannot be replaced and is written directly, as before; a link to a file replaces the
// file it leads to. A name a server chose is never followed anywhere: see TargetName.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace tarnex::platform {

// Who chose the target's name. The user's name is written where it leads; a name from a
// server (a listing's, or the remote file's own) must not lead out of the folder it lands in,
// so a link, a device, a FIFO or a folder in its place refuses the download, and the file
// outside stays untouched.
enum class TargetName { ChosenByUser, FromServer };

// What stands where a name from a server is to be written, when that is no regular file: "a
// link is in the way", "a folder is in the way" or "something that is no file is in the way".
// Nothing when the name is free or a regular file.
std::optional<std::string> InTheWayOfServerName(std::string_view cp932_name);

class ReplacementFile {
 public:
  // Raises EFileError "ファイル %s を作成できません" (naming the target) when neither the
  // temporary file nor, for a special file, the target itself can be opened for writing; for
  // a name from a server, EFileError "<name>: a link is in the way" (or a folder, or something
  // that is no file) when such an entry holds the name.
  static ReplacementFile Create(std::string_view cp932_name,
                                TargetName chosen = TargetName::ChosenByUser);
  // The same for a download that goes on where an earlier one stopped: the new file starts as
  // a copy of the target's first `offset` bytes, and the bytes that come are added to it. The
  // target must be a regular file of at least that size (else the create error is raised).
  static ReplacementFile CreateContinuing(std::string_view cp932_name, int64_t offset,
                                          TargetName chosen = TargetName::ChosenByUser);
  ReplacementFile(ReplacementFile&& other) noexcept;
  ReplacementFile& operator=(ReplacementFile&&) = delete;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile();

  // Where the bytes go (write errors name the target).
  File& Output() { return file_; }
  // The data is on disk and the target is replaced by it, with the permission bits the old
  // file had. Raises the write error naming the target when that cannot be done; the target
  // is then unchanged.
  void Commit();
  // The temporary file's path; empty when the target is written directly.
  const std::string& TemporaryPath() const { return temp_path_; }

 private:
  ReplacementFile(File file, std::string target_path, std::string temp_path, int slot);
  void Discard() noexcept;

  File file_;
  std::string target_path_;  // native
  std::string temp_path_;    // native; empty when writing directly
  int signal_slot_ = -1;
};

}  // namespace tarnex::platform
