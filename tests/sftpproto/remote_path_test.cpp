#include "sftpproto/remote_path.h"

#include <gtest/gtest.h>

#include "sftpproto/name_entries.h"

namespace tarnex {
namespace {

TEST(RemotePath, NamesBecomePathsFromTheFolder) {
  struct Case {
    const char* folder;
    const char* name;
    const char* path;
  };
  const Case cases[] = {
      {"/home/u", "a.txt", "/home/u/a.txt"}, {"/home/u/", "a.txt", "/home/u/a.txt"},
      {"/", "a", "/a"},                       {"/home/u", "/etc/x", "/etc/x"},
      {"/home/u", "", "/home/u"},             {"/home/u", "../b", "/home/u/../b"},
      {"", "rel", "rel"},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinRemotePath(c.folder, c.name), c.path) << c.name;
}

TEST(RemotePath, HiddenNamesShowOnlyWhenAskedAndTheFolderItselfNever) {
  EXPECT_TRUE(ShowsInListing("a", ListScope::Visible));
  EXPECT_FALSE(ShowsInListing(".profile", ListScope::Visible));
  EXPECT_TRUE(ShowsInListing(".profile", ListScope::WithHidden));
  for (const char* itself : {".", ".."}) {
    EXPECT_FALSE(ShowsInListing(itself, ListScope::WithHidden));
  }
  EXPECT_EQ(CurrentFolderLine("/a \"b\""), "257 \"/a \"\"b\"\"\" is the current directory");
}

TEST(NameEntries, KindSizeAndTimeComeFromTheAttributes) {
  struct Case {
    const char* name;
    std::optional<uint32_t> permissions;
    EntryKind kind;
  };
  const Case cases[] = {
      {"f", 0100644, EntryKind::File},        {"d", 0040755, EntryKind::Folder},
      {"l", 0120777, EntryKind::Link},        {"p", 0010644, EntryKind::Other},
      {"unknown", std::nullopt, EntryKind::Other}, {"..", 0040755, EntryKind::FolderItself},
  };
  for (const Case& c : cases) {
    sftp::NameEntry entry;
    entry.filename = c.name;
    entry.attributes.permissions = c.permissions;
    entry.attributes.size = 42;
    entry.attributes.times = sftp::FileTimes{1, 1700000000};
    const DirectoryEntry listed = EntryOfName(entry);
    EXPECT_EQ(listed.kind, c.kind) << c.name;
    EXPECT_EQ(listed.name, c.name);
    EXPECT_EQ(listed.size, 42);
    EXPECT_EQ(listed.modified, 1700000000);
    EXPECT_EQ(listed.precision, TimePrecision::Second);
  }
  const DirectoryEntry bare = EntryOfName(sftp::NameEntry{"x", "", {}});
  EXPECT_FALSE(bare.size);
  EXPECT_FALSE(bare.modified);
  EXPECT_EQ(bare.precision, TimePrecision::None);
}

}  // namespace
}  // namespace tarnex
