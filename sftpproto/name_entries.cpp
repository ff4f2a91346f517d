#include "sftpproto/name_entries.h"

namespace tarnex {

DirectoryEntry EntryOfName(const sftp::NameEntry& entry) {
  DirectoryEntry out;
  out.name = entry.filename;
  const sftp::FileAttributes& attributes = entry.attributes;
  if (entry.filename == "." || entry.filename == "..") {
    out.kind = EntryKind::FolderItself;
  } else if (attributes.permissions) {
    switch (*attributes.permissions & sftp::kFileTypeMask) {
      case sftp::kTypeFile:
        out.kind = EntryKind::File;
        break;
      case sftp::kTypeFolder:
        out.kind = EntryKind::Folder;
        break;
      case sftp::kTypeLink:
        out.kind = EntryKind::Link;
        break;
      default:
        out.kind = EntryKind::Other;
        break;
    }
  }
  if (attributes.size) out.size = static_cast<int64_t>(*attributes.size);
  if (attributes.times) {
    out.modified = attributes.times->mtime;
    out.precision = TimePrecision::Second;
  }
  return out;
}

}  // namespace tarnex
