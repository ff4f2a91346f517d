// Local file times and folder listings for mput and mirror.
#include "platform/file_times.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "platform/local_folder.h"
#include "platform/text_encoding.h"
#include "tests/support/temp_dir.h"

namespace tarnex::platform {
namespace {

TEST(FileTimes, SetAndReadToTheSecondUnderScriptNames) {
  testing::TempDir dir;
  const std::string japanese = Utf8ToCp932("報告.txt");  // the script's bytes
  std::ofstream(dir.path() / "報告.txt") << "x";
  const std::string name = dir / japanese;
  for (int64_t seconds : {int64_t{0}, int64_t{1'796'722'200}, int64_t{4'102'444'800}}) {
    ASSERT_TRUE(SetModificationTime(name, seconds));
    EXPECT_EQ(ModificationTime(name), seconds);
  }
  EXPECT_FALSE(SetModificationTime(dir / "missing", 5));
  EXPECT_EQ(ModificationTime(dir / "missing"), std::nullopt);
}

TEST(LocalFolder, ListsEntriesAsTheyAreAndLeavesOutNamesTheScriptCannotWrite) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "a b.txt") << "12345";
  std::ofstream(dir.path() / "表.txt") << "1";
  std::ofstream(dir.path() / "é.txt") << "1";  // Shift-JIS has no é
  std::filesystem::create_directory(dir.path() / "sub");
  std::filesystem::create_symlink("a b.txt", dir.path() / "link");
  ASSERT_TRUE(SetModificationTime(dir / "a b.txt", 1'000'000'000));

  const auto listing = ListLocalFolder(dir.path().string());
  ASSERT_TRUE(listing);
  auto find = [&](const std::string& name) {
    return std::find_if(listing->entries.begin(), listing->entries.end(),
                        [&](const LocalEntry& e) { return e.name == name; });
  };
  ASSERT_EQ(listing->entries.size(), 4u);
  EXPECT_EQ(find("a b.txt")->kind, LocalKind::File);
  EXPECT_EQ(find("a b.txt")->size, 5);
  EXPECT_EQ(find("a b.txt")->modified, 1'000'000'000);
  EXPECT_EQ(find(Utf8ToCp932("表.txt"))->kind, LocalKind::File);
  EXPECT_EQ(find("sub")->kind, LocalKind::Folder);
  EXPECT_EQ(find("link")->kind, LocalKind::Link);
  EXPECT_EQ(find("link")->link_target, "a b.txt");
  EXPECT_EQ(listing->unnamed, std::vector<std::string>{"é.txt"});
  {
    ScopedTextEncoding utf8(TextEncoding::Utf8);  // a UTF-8 script can name every file
    EXPECT_EQ(ListLocalFolder(dir.path().string())->entries.size(), 5u);
  }
  EXPECT_EQ(ListLocalFolder(dir / "missing"), std::nullopt);
  EXPECT_EQ(LocalEntryOf(dir / "link")->kind, LocalKind::Link);  // not followed
}

TEST(LocalFolder, MakesAndRemovesEmptyFoldersOnly) {
  testing::TempDir dir;
  const std::string folder = dir / Utf8ToCp932("新しい");
  EXPECT_TRUE(MakeLocalFolder(folder));
  EXPECT_FALSE(MakeLocalFolder(folder));
  std::ofstream(dir.path() / "新しい" / "f") << "x";
  EXPECT_FALSE(RemoveLocalFolder(folder));
  std::filesystem::remove(dir.path() / "新しい" / "f");
  EXPECT_TRUE(RemoveLocalFolder(folder));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "新しい"));
}

}  // namespace
}  // namespace tarnex::platform
