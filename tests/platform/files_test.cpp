#include "platform/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text_encoding.h"

namespace tarnex::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnex-files-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Cp932Path(const std::string& utf8_leaf) {
    return Utf8ToCp932((dir_ / utf8_leaf).string());
  }
  fs::path dir_;
};

TEST_F(FilesTest, ShiftJisNamesReachTheFileSystemAsUtf8) {
  std::string name = Cp932Path("表ソ能.txt");
  WriteFileBytes(name, std::string("a\0b\r\n", 5));
  EXPECT_TRUE(fs::exists(dir_ / "表ソ能.txt"));
  EXPECT_TRUE(FileExists(name));
  EXPECT_EQ(ReadFileBytes(name), std::string("a\0b\r\n", 5));
  EXPECT_TRUE(DeleteFile(name));
  EXPECT_FALSE(FileExists(name));
  EXPECT_FALSE(DeleteFile(name));
}

TEST_F(FilesTest, AUtf8RunsNamesAreUsedAsTheyAre) {
  ScopedTextEncoding utf8(TextEncoding::Utf8);
  // é and € have no CP932 form; 表 would be changed by a CP932 reading.
  const std::string name = (dir_ / "café € 表.txt").string();
  WriteFileBytes(name, "x");
  EXPECT_TRUE(fs::exists(dir_ / "café € 表.txt"));
  EXPECT_TRUE(DeleteFile(name));
  try {
    ReadFileBytes(name);
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + name + " は開けません");  // the whole text in UTF-8
  }
}

TEST_F(FilesTest, InvalidCp932NamesAreUsedAsRawBytes) {
  std::string name = (dir_ / "x").string() + "\x81";
  WriteFileBytes(name, "z");
  EXPECT_TRUE(fs::exists(fs::path(name)));
  EXPECT_EQ(ReadFileBytes(name), "z");
}

TEST_F(FilesTest, ErrorsNameTheFile) {
  std::string missing = Cp932Path("none/a.txt");
  try {
    ReadFileBytes(missing);
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), Utf8ToCp932("ファイル ") + missing + Utf8ToCp932(" は開けません"));
  }
  try {
    WriteFileBytes(missing, "x");
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Message(), Utf8ToCp932("ファイル ") + missing + Utf8ToCp932(" を作成できません"));
  }
  EXPECT_THROW(File::OpenRead(Utf8ToCp932(dir_.string())), EFileError);  // a directory
  EXPECT_FALSE(FileExists(Utf8ToCp932(dir_.string())));
  EXPECT_FALSE(DeleteFile(Utf8ToCp932(dir_.string())));
}

TEST_F(FilesTest, WriteLinesEndsEveryLineWithCrLf) {
  std::string name = Cp932Path("list.txt");
  WriteLines(name, {"a", "", "b"});
  EXPECT_EQ(ReadFileBytes(name), "a\r\n\r\nb\r\n");
  WriteLines(name, {});
  EXPECT_EQ(ReadFileBytes(name), "");
}

TEST_F(FilesTest, WritingToAFullDeviceFails) {
  if (!fs::exists("/dev/full")) GTEST_SKIP();
  File file = File::Create("/dev/full");
  EXPECT_THROW(file.Write(std::string(70000, 'x')), EFileError);
}

TEST_F(FilesTest, SetCurrentDirFollowsShiftJisNames) {
  fs::create_directories(dir_ / "日本");
  auto before = fs::current_path();
  EXPECT_TRUE(SetCurrentDir(Cp932Path("日本")));
  EXPECT_EQ(fs::current_path(), dir_ / "日本");
  EXPECT_FALSE(SetCurrentDir(Cp932Path("missing")));
  EXPECT_FALSE(SetCurrentDir(""));
  fs::current_path(before);
}

}  // namespace
}  // namespace tarnex::platform
