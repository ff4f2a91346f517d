// What mget and mirror know of a remote folder's entry, from the attributes of an SFTP NAME
// entry: the same DirectoryEntry an MLSD line gives on the FTP path.
#pragma once

#include "ftpproto/machine_listing.h"
#include "sftp/sftp_replies.h"

namespace tarnex {

// The kind from the file type bits (a regular file, a folder, a link, anything else Other;
// no permissions at all: Other), the size, the modification time to the second. "." and ".."
// are FolderItself, as MLSD's cdir and pdir.
DirectoryEntry EntryOfName(const sftp::NameEntry& entry);

}  // namespace tarnex
