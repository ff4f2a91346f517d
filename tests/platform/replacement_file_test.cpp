#include "platform/replacement_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/background_close.h"
#include "platform/errors.h"

namespace tarnex::platform {
namespace {

namespace fs = std::filesystem;

class ReplacementFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnex-replace-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& leaf) const { return (dir_ / leaf).string(); }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Everything in the folder but the names given: no temporary file may be left.
  size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }
  fs::path dir_;
};

TEST_F(ReplacementFileTest, TheOldFileStaysUntilCommitAndKeepsItsPermissions) {
  const std::string target = Path("a.bin");
  std::ofstream(target) << "old";
  ::chmod(target.c_str(), 0640);
  {
    ReplacementFile file = ReplacementFile::Create(target);
    file.Output().Write("new bytes");
    EXPECT_EQ(Bytes(target), "old");  // written aside, not over the old file
    EXPECT_EQ(Entries(), 2u);
    file.Commit();
  }
  EXPECT_EQ(Bytes(target), "new bytes");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacementFileTest, UncommittedLeavesTheTargetAsItWasAndNothingElse) {
  const std::string old_target = Path("kept.bin");
  std::ofstream(old_target) << "the user's bytes";
  for (const std::string& target : {old_target, Path("new.bin")}) {
    SCOPED_TRACE(target);
    ReplacementFile file = ReplacementFile::Create(target);
    file.Output().Write("half a download");
    EXPECT_TRUE(fs::exists(file.TemporaryPath()));
  }
  EXPECT_EQ(Bytes(old_target), "the user's bytes");
  EXPECT_FALSE(fs::exists(Path("new.bin")));
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(ReplacementFileTest, OldFilesSmallAndBigAreReplacedWhole) {
  // A big old file (16 MiB and more) is let go on the closing thread after the rename.
  for (const size_t old_size : {size_t{3}, (size_t{16} << 20) + 1}) {
    SCOPED_TRACE(old_size);
    const std::string target = Path("replaced.bin");
    std::ofstream(target, std::ios::binary) << std::string(old_size, 'o');
    ReplacementFile file = ReplacementFile::Create(target);
    file.Output().Write("new bytes");
    EXPECT_EQ(fs::file_size(target), old_size);
    file.Commit();
    EXPECT_EQ(Bytes(target), "new bytes");
    EXPECT_EQ(Entries(), 1u);
  }
  WaitForBackgroundCloses();
}

TEST(BackgroundClose, TheDescriptorIsClosedByTheTimeTheWaitReturns) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);  // a read that would wait fails instead
  CloseInBackground(ends[1]);
  WaitForBackgroundCloses();
  char byte;
  EXPECT_EQ(::read(ends[0], &byte, 1), 0);  // the end of the stream: the writing end is gone
  ::close(ends[0]);
}

TEST_F(ReplacementFileTest, ALinkStaysALinkAndADeviceIsWrittenInPlace) {
  const std::string real = Path("real.bin");
  const std::string link = Path("link.bin");
  std::ofstream(real) << "old";
  fs::create_symlink(real, link);
  ReplacementFile through_link = ReplacementFile::Create(link);
  through_link.Output().Write("new");
  through_link.Commit();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Bytes(real), "new");

  ReplacementFile device = ReplacementFile::Create("/dev/null");
  EXPECT_TRUE(device.TemporaryPath().empty());
  device.Output().Write("gone");
  device.Commit();
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(ReplacementFileTest, ANameFromAServerIsNeverFollowedOutOfItsFolder) {
  const std::string outside = Path("outside.txt");
  std::ofstream(outside) << "the user's file";
  fs::create_symlink(outside, Path("link.txt"));
  fs::create_directory(Path("folder.txt"));
  ::mkfifo(Path("fifo.txt").c_str(), 0600);
  const std::pair<std::string, std::string> refused[] = {
      {"link.txt", "a link is in the way"},
      {"folder.txt", "a folder is in the way"},
      {"fifo.txt", "something that is no file is in the way"},
      {"/dev/null", "something that is no file is in the way"},
  };
  for (const auto& [leaf, reason] : refused) {
    const std::string target = leaf.front() == '/' ? leaf : Path(leaf);
    SCOPED_TRACE(target);
    try {
      ReplacementFile::Create(target, TargetName::FromServer);
      ADD_FAILURE() << "created";
    } catch (const EFileError& error) {
      EXPECT_EQ(error.Message(), target + ": " + reason);
    }
    EXPECT_THROW(ReplacementFile::CreateContinuing(target, 1, TargetName::FromServer), EFileError);
  }
  EXPECT_EQ(Bytes(outside), "the user's file");
  EXPECT_EQ(Entries(), 4u);  // nothing new beside them
  // A regular file of that name is replaced as ever.
  ReplacementFile file = ReplacementFile::Create(outside, TargetName::FromServer);
  file.Output().Write("new");
  file.Commit();
  EXPECT_EQ(Bytes(outside), "new");
}

TEST_F(ReplacementFileTest, AFolderThatCannotBeWrittenFailsWithTheTargetsName) {
  const std::string target = Path("missing-folder/a.bin");
  try {
    ReplacementFile::Create(target);
    FAIL() << "created";
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Message(), FileCreateErrorText(target));
  }
}

}  // namespace
}  // namespace tarnex::platform
