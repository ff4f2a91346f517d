#include "documents/script_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "documents/file_dialog.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "text/texts.h"

namespace tarnex::documents {
namespace {

TEST(ScriptFileTest, ExtensionIsTakenFromTheFileNameOnly) {
  struct Case {
    const char* path;
    const char* extension;
    bool enciphered;
  } cases[] = {
      {"a.fcx", ".fcx", true},   {"a.FcX", ".FcX", true},      {"/x/y/A.FCX", ".FCX", true},
      {"a.fcs", ".fcs", false},  {"a.txt", ".txt", false},     {"a", "", false},
      {"/dir.fcx/a", "", false}, {"dir.fcx/a.b", ".b", false}, {"a.fcx.bak", ".bak", false},
      {"a.", ".", false},        {".fcx", ".fcx", true},       {"\x95\x5C.fcx", ".fcx", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(IsEncipheredName(c.path), c.enciphered) << c.path;
  }
}

TEST(ScriptFileTest, LoneCrAndLfBecomeCrLf) {
  struct Case {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"", ""},
      {"a", "a"},
      {"a\r\nb", "a\r\nb"},
      {"a\nb\rc\r\n", "a\r\nb\r\nc\r\n"},
      {"\n\r", "\r\n\r\n"},
      {"\r\n\r\n", "\r\n\r\n"},
      {"a\r", "a\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeLineBreaks(c.bytes), c.text) << c.bytes;
}

TEST(ScriptFileTest, EncipheredTextHasOneRecordPerEditorLine) {
  const LineCipher first([](int) { return 0; }, [] { return 0u; });  // every line at 'Q'
  struct Case {
    std::string text;
    std::string file;
  } cases[] = {
      {"", ""},
      {"A", "Q10\r\n"},
      {"A\r\n", "Q10\r\n"},  // a final line break makes no empty record
      {"A\r\n\r\nA", "Q10\r\nQ\r\nQ10\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScriptFileFromText(c.text, true, first), c.file) << c.text;
    EXPECT_EQ(ScriptFileFromText(c.text, false, first), c.text);
  }
}

TEST(ScriptFileTest, EncipheredFileReadsBackAsEditorText) {
  struct Case {
    std::string file;
    std::string text;
  } cases[] = {
      {"", ""},
      {"Q10\r\n", "A\r\n"},
      {"Q10", "A"},
      {"\r\n", "\r\n"},
      {"Q10\nQ\rKb4", "A\r\n\r\n\xFF"},  // any line end, digits in either case
  };
  for (const Case& c : cases) EXPECT_EQ(ScriptTextFromFile(c.file, true), c.text) << c.file;
  EXPECT_THROW(ScriptTextFromFile("Q10\r\nk10\r\n", true), EConvertError);
}

TEST(ScriptFileTest, TooLargeTextIsRefused) {
  EXPECT_EQ(ScriptTextFromFile("12345", false, 5), "12345");
  try {
    ScriptTextFromFile("123456", false, 5);
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), texts::TextTooLarge());
  }
  // Line ends count as the editor holds them.
  EXPECT_THROW(ScriptTextFromFile("a\nb", false, 3), Exception);
  EXPECT_EQ(ScriptTextFromFile("Q10\r\nQ10", true, 4), "A\r\nA");
  EXPECT_THROW(ScriptTextFromFile("Q10\r\nQ10", true, 3), Exception);

  tarnex::testing::TempDir dir;
  const std::string big = dir / "big.fcs";
  platform::WriteFileBytes(big, std::string(1000, 'x'));
  EXPECT_EQ(ReadScriptFile(big, 1000).size(), 1000u);
  EXPECT_THROW(ReadScriptFile(big, 999), Exception);
  EXPECT_THROW(ReadScriptFile(big, 100), Exception);  // refused before reading
}

TEST(ScriptFileTest, MissingFileRaisesTheFileError) {
  tarnex::testing::TempDir dir;
  const std::string path = dir / "none.fcs";
  try {
    ReadScriptFile(path);
    ADD_FAILURE();
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Message(), platform::FileOpenErrorText(path));
  }
}

TEST(FileDialogTest, FiltersAndDefaultExtensions) {
  FileDialog open = MakeOpenScriptDialog();
  EXPECT_EQ(open.filter,
            "FTP Command Script( *. fcs )|*.fcs|"
            "\x88\xc3\x8d\x86\x89\xbb Script( *. fcx )|*.fcx");
  EXPECT_EQ(MakeSaveScriptDialog().filter,
            "FTP Command Script( *.fcs )|*.fcs|"
            "\x88\xc3\x8d\x86\x89\xbb Script( *.fcx )|*.fcx");
  ASSERT_EQ(open.Filters().size(), 2u);
  EXPECT_EQ(open.Filters()[1].description, "\x88\xc3\x8d\x86\x89\xbb Script( *. fcx )");
  EXPECT_EQ(open.Filters()[1].pattern, "*.fcx");
  EXPECT_EQ(open.default_extension, "fcs");
  EXPECT_EQ(open.filter_index, 1);

  struct Step {
    int index;
    const char* extension;
  } steps[] = {{2, "fcx"}, {3, "fcx"}, {1, "fcs"}, {2, "fcx"}};
  for (const Step& step : steps) {
    open.TypeChange(step.index);
    EXPECT_EQ(open.default_extension, step.extension) << step.index;
    EXPECT_EQ(open.filter_index, step.index);
  }

  struct Name {
    const char* typed;
    const char* completed;
  } names[] = {{"/d/a", "/d/a.fcx"},     {"/d/a.fcs", "/d/a.fcs"}, {"/d/a.txt", "/d/a.txt"},
               {"/d.x/a", "/d.x/a.fcx"}, {"/d/", "/d/"},           {"", ""}};
  for (const Name& name : names) EXPECT_EQ(open.CompleteName(name.typed), name.completed);
}

}  // namespace
}  // namespace tarnex::documents
