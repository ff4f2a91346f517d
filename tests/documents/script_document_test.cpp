#include "documents/script_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "documents/document_texts.h"
#include "documents/recall_menu.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/documents/fake_document_host.h"
#include "tests/support/temp_dir.h"
#include "text/lines.h"
#include "text/texts.h"

namespace tarnex::documents {
namespace {

using platform::MessageResult;

const std::string kModified = "\x95\xcf\x8d\x58";  // "変更"
const std::string kScript = "open host\r\nRem \x95\x5C\x8e\xa6\r\nclose";

class ScriptDocumentTest : public ::testing::Test {
 protected:
  ScriptDocumentTest() : recall_("RecallMenu1"), doc_(editor_, window_, &recall_) {}

  std::string Path(const std::string& leaf) { return dir_ / leaf; }
  std::string Write(const std::string& leaf, const std::string& bytes) {
    platform::WriteFileBytes(Path(leaf), bytes);
    return Path(leaf);
  }
  static std::string Read(const std::string& path) { return platform::ReadFileBytes(path); }
  bool Exists(const std::string& leaf) { return std::filesystem::exists(Path(leaf)); }

  // The user edits the text, as the editor reports it.
  void Type(const std::string& text) {
    editor_.Type(text);
    doc_.BatmemoChange();
  }

  tarnex::testing::TempDir dir_;
  testing::FakeEditor editor_;
  testing::FakeWindow window_;
  TCustomMenuControl recall_;
  ScriptDocument doc_;
};

TEST_F(ScriptDocumentTest, NewNamesTheDocumentAndEnablesTheMenus) {
  EXPECT_EQ(doc_.ScriptName(), "");
  doc_.New();
  EXPECT_EQ(doc_.ScriptName(), "newfile");
  EXPECT_EQ(window_.caption, "Tarnex -newfile");
  EXPECT_EQ(window_.menus_enabled, 1);
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(ScriptDocumentTest, EditsShowTheMarker) {
  doc_.New();
  doc_.BatmemoChange();  // a change the program made leaves the marker alone
  EXPECT_EQ(window_.marker, "");
  Type("x");
  EXPECT_EQ(window_.marker, kModified);
  EXPECT_EQ(texts::Modified(), kModified);
}

// Every answer to the question, on a named and on an unnamed document.
TEST_F(ScriptDocumentTest, QuerySaveFollowsTheAnswer) {
  struct Case {
    const char* what;
    bool named;
    MessageResult answer;
    std::optional<std::string> save_as;  // the Save-as dialog's pick
    bool still_modified;
    const char* name_after;
    bool written;
  } cases[] = {
      {"yes, named", true, MessageResult::Yes, std::nullopt, false, "a.fcs", true},
      {"yes, unnamed", false, MessageResult::Yes, "b.fcs", false, "b.fcs", true},
      {"yes, save as cancelled", false, MessageResult::Yes, std::nullopt, true, "newfile", false},
      {"no", true, MessageResult::No, std::nullopt, false, "a.fcs", false},
      {"cancel", true, MessageResult::Cancel, std::nullopt, true, "a.fcs", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tarnex::testing::TempDir dir;
    testing::FakeEditor editor;
    testing::FakeWindow window;
    ScriptDocument doc(editor, window, nullptr);
    doc.New();
    if (c.named) doc.SaveScript(dir / "a.fcs");
    platform::DeleteFile(dir / "a.fcs");
    editor.Type(kScript);
    doc.BatmemoChange();
    window.answers.push_back(c.answer);
    window.picks.push_back(c.save_as ? std::optional(dir / *c.save_as) : std::nullopt);

    doc.QuerySave();

    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, texts::ConfirmSaveScript());
    EXPECT_EQ(window.boxes[0].caption, "Tarnex");
    EXPECT_EQ(window.boxes[0].buttons, platform::MessageButtons::YesNoCancel);
    EXPECT_EQ(editor.modified, c.still_modified);
    EXPECT_EQ(window.marker, c.still_modified || c.answer == MessageResult::No ? kModified : "");
    const std::string name_after =
        std::string(c.name_after) == "newfile" ? "newfile" : dir / c.name_after;
    EXPECT_EQ(doc.ScriptName(), name_after);
    EXPECT_EQ(editor.text, kScript);
    if (c.written) {
      EXPECT_EQ(platform::ReadFileBytes(name_after), kScript);
    } else {
      EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.fcs"));
    }
    // Without changes there is no question.
    doc.QuerySave();
    EXPECT_EQ(window.boxes.size(), c.still_modified ? 2u : 1u);
  }
}

TEST_F(ScriptDocumentTest, NewWithChangesAnsweredNoOrCancel) {
  doc_.New();
  Type(kScript);
  window_.answers = {MessageResult::Cancel};
  doc_.New();
  EXPECT_EQ(editor_.text, kScript);
  EXPECT_TRUE(editor_.modified);
  EXPECT_EQ(window_.marker, kModified);
  EXPECT_EQ(doc_.ScriptName(), "newfile");

  doc_.SaveScript(Path("kept.fcs"));
  Type("changed");
  window_.answers = {MessageResult::No};
  doc_.New();
  EXPECT_EQ(editor_.text, "");
  EXPECT_FALSE(editor_.modified);
  EXPECT_EQ(window_.marker, "");
  EXPECT_EQ(doc_.ScriptName(), "newfile");
  EXPECT_EQ(window_.caption, "Tarnex -newfile");
  EXPECT_EQ(Read(Path("kept.fcs")), kScript);
}

TEST_F(ScriptDocumentTest, LoadScriptOpensAndRemembersTheFile) {
  doc_.New();
  const std::string path = Write("s.fcs", "a\nb\rc");
  doc_.LoadScript(path);
  EXPECT_EQ(editor_.text, "a\r\nb\r\nc");
  EXPECT_FALSE(editor_.modified);
  EXPECT_EQ(window_.marker, "");
  EXPECT_EQ(doc_.ScriptName(), path);
  EXPECT_EQ(window_.caption, "Tarnex -" + path);
  EXPECT_EQ(window_.menus_enabled, 2);
  EXPECT_EQ(recall_.Items().Texts(), std::vector<std::string>{path});
}

TEST_F(ScriptDocumentTest, LoadScriptKeepsUnsavedChangesOnCancel) {
  const std::string first = Write("first.fcs", "one");
  const std::string second = Write("second.fcs", "two");
  doc_.LoadScript(first);
  Type("edited");
  window_.answers = {MessageResult::Cancel};
  doc_.LoadScript(second);
  EXPECT_EQ(editor_.text, "edited");
  EXPECT_TRUE(editor_.modified);
  EXPECT_EQ(window_.marker, kModified);
  EXPECT_EQ(doc_.ScriptName(), first);
  EXPECT_EQ(recall_.Items().Texts(), std::vector<std::string>{first});
}

TEST_F(ScriptDocumentTest, LoadScriptOfAMissingFileDoesNothing) {
  doc_.New();
  Type("text");
  window_.answers = {MessageResult::No};
  doc_.LoadScript(Path("missing.fcs"));
  EXPECT_EQ(editor_.text, "text");
  EXPECT_EQ(doc_.ScriptName(), "newfile");
  EXPECT_EQ(recall_.Items().Count(), 0);
  doc_.LoadScript(dir_.path().string());  // a directory is no script either
  EXPECT_EQ(doc_.ScriptName(), "newfile");
}

TEST_F(ScriptDocumentTest, UnreadableScriptsChangeNothing) {
  const std::string good = Write("good.fcx", "Q10\r\n");
  doc_.LoadScript(good);
  ASSERT_EQ(editor_.text, "A\r\n");
  struct Case {
    const char* leaf;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"marker.fcx", "Q10\r\nq10\r\n", NotACipherMarker("q")},
      {"pair.fcx", "Q10\r\nQ1G\r\n", texts::NotAnInteger("$1G")},
      {"plain.FCX", "open host\r\n", NotACipherMarker("o")},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.leaf, c.bytes);
    try {
      doc_.LoadScript(path);
      ADD_FAILURE() << c.leaf;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), c.message);
    }
    EXPECT_EQ(editor_.text, "A\r\n") << c.leaf;
    EXPECT_EQ(doc_.ScriptName(), good);
    EXPECT_EQ(window_.caption, "Tarnex -" + good);
    EXPECT_EQ(recall_.Items().Texts(), std::vector<std::string>{good});
  }
  editor_.max_text_bytes = 2;
  const std::string big = Write("big.fcs", "abc");
  try {
    doc_.LoadScript(big);
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), texts::TextTooLarge());
  }
  EXPECT_EQ(doc_.ScriptName(), good);
}

TEST_F(ScriptDocumentTest, SaveOfAnUnnamedDocumentAsksForAName) {
  doc_.New();
  Type(kScript);
  window_.picks = {std::nullopt};
  doc_.Save();
  ASSERT_EQ(window_.save_requests.size(), 1u);
  EXPECT_EQ(window_.save_requests[0].filter, SaveFilter());
  EXPECT_EQ(window_.save_requests[0].default_extension, "fcs");
  EXPECT_EQ(doc_.ScriptName(), "newfile");
  EXPECT_TRUE(editor_.modified);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

  window_.picks = {Path("named.fcs")};
  doc_.Save();
  EXPECT_EQ(doc_.ScriptName(), Path("named.fcs"));
  EXPECT_EQ(window_.caption, "Tarnex -" + Path("named.fcs"));
  EXPECT_EQ(Read(Path("named.fcs")), kScript);
  EXPECT_FALSE(editor_.modified);
  EXPECT_EQ(window_.marker, "");

  // Named now: Save writes without asking, and saving never touches the recall list.
  Type("second");
  doc_.Save();
  EXPECT_EQ(window_.save_requests.size(), 2u);
  EXPECT_EQ(Read(Path("named.fcs")), "second");
  EXPECT_EQ(recall_.Items().Count(), 0);
}

TEST_F(ScriptDocumentTest, FailedSaveKeepsTheUnsavedState) {
  doc_.New();
  Type(kScript);
  const std::string path = Path("no-such-dir/a.fcs");
  try {
    doc_.SaveScript(path);
    ADD_FAILURE();
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Message(), platform::FileCreateErrorText(path));
  }
  EXPECT_TRUE(editor_.modified);
  EXPECT_EQ(window_.marker, kModified);
  EXPECT_EQ(doc_.ScriptName(), "newfile");
}

// A text with a character that CP932 cannot hold is refused on every way to a file, before a
// name is asked for: nothing is written and the changes stay unsaved.
TEST_F(ScriptDocumentTest, UnsavableTextIsRefusedOnEveryWayToAFile) {
  struct Case {
    const char* what;
    bool named;
    void (ScriptDocument::*save)();
    size_t boxes;  // with the question of QuerySave
  } cases[] = {
      {"save, named", true, &ScriptDocument::Save, 1},
      {"save, unnamed", false, &ScriptDocument::Save, 1},
      {"query save, yes", true, &ScriptDocument::QuerySave, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tarnex::testing::TempDir dir;
    testing::FakeEditor editor;
    testing::FakeWindow window;
    ScriptDocument doc(editor, window, nullptr);
    doc.New();
    if (c.named) doc.SaveScript(dir / "a.fcs");
    editor.Type("Rem ?");
    editor.unsavable = UnsavableCharacter{12, 0x1F600};
    window.answers = {MessageResult::Yes};

    (doc.*c.save)();

    ASSERT_EQ(window.boxes.size(), c.boxes);
    EXPECT_EQ(platform::Cp932ToUtf8(window.boxes.back().text).rfind("12 行目の文字 U+1F600 は", 0),
              0u);
    EXPECT_EQ(window.boxes.back().caption, "Tarnex");
    EXPECT_TRUE(window.save_requests.empty());
    EXPECT_TRUE(editor.modified);
    EXPECT_EQ(doc.ScriptName(), c.named ? dir / "a.fcs" : "newfile");
    EXPECT_EQ(c.named ? Read(dir / "a.fcs") : "", "");
  }
}

TEST_F(ScriptDocumentTest, FormatFollowsTheExtensionAlone) {
  doc_.New();
  Type(kScript);
  struct Case {
    const char* leaf;
    bool enciphered;
  } cases[] = {{"a.FcX", true},  {"b.fcx", true}, {"c.fcs", false},
               {"d.txt", false}, {"e", false},    {"f.fcx.fcs", false}};
  for (const Case& c : cases) {
    // Whatever filter was chosen in the dialog.
    doc_.SaveDialog1().TypeChange(c.enciphered ? 1 : 2);
    doc_.SaveScript(Path(c.leaf));
    const std::string bytes = Read(Path(c.leaf));
    if (c.enciphered) {
      const std::vector<std::string> records = SplitLines(bytes);
      ASSERT_EQ(records.size(), 3u) << c.leaf;
      EXPECT_EQ(records[1].size(), 1 + 2 * std::string("Rem \x95\x5C\x8e\xa6").size());
      EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    } else {
      EXPECT_EQ(bytes, kScript) << c.leaf;
    }
    doc_.LoadScript(Path(c.leaf));
    EXPECT_EQ(editor_.text, c.enciphered ? kScript + "\r\n" : kScript) << c.leaf;
    editor_.text = kScript;
  }
}

TEST_F(ScriptDocumentTest, SameTextSavedTwiceGivesDifferentFilesThatOpenAlike) {
  doc_.New();
  std::string text;
  for (int i = 0; i < 20; ++i) text += "put file" + std::to_string(i) + ".txt\r\n";
  Type(text);
  doc_.SaveScript(Path("one.fcx"));
  doc_.SaveScript(Path("two.fcx"));
  EXPECT_NE(Read(Path("one.fcx")), Read(Path("two.fcx")));
  for (const char* leaf : {"one.fcx", "two.fcx"}) {
    editor_.text.clear();
    doc_.LoadScript(Path(leaf));
    EXPECT_EQ(editor_.text, text);
  }
}

TEST_F(ScriptDocumentTest, InjectedCipherWritesKnownRecords) {
  ScriptDocument doc(editor_, window_, nullptr,
                     LineCipher([](int) { return 1; }, [] { return 0u; }));  // 'K'
  doc.New();
  Type("\xFF\r\n\r\nA");
  doc.SaveScript(Path("k.fcx"));
  EXPECT_EQ(Read(Path("k.fcx")), "KB4\r\nK\r\nK0A\r\n");  // 'A' ^ 'K' = 0x0A
}

TEST_F(ScriptDocumentTest, EmptyEditorAndEmptyFiles) {
  doc_.New();
  for (const char* leaf : {"empty.fcs", "empty.fcx"}) {
    doc_.SaveScript(Path(leaf));
    EXPECT_EQ(std::filesystem::file_size(Path(leaf)), 0u) << leaf;
    editor_.text = "old";
    doc_.LoadScript(Path(leaf));
    EXPECT_EQ(editor_.text, "") << leaf;
    EXPECT_EQ(doc_.ScriptName(), Path(leaf));
  }
}

TEST_F(ScriptDocumentTest, OpenRunsTheOpenDialog) {
  const std::string path = Write("o.fcs", "x");
  window_.picks = {std::nullopt, path};
  doc_.Open();
  EXPECT_EQ(doc_.ScriptName(), "");
  doc_.Open();
  EXPECT_EQ(doc_.ScriptName(), path);
  ASSERT_EQ(window_.open_requests.size(), 2u);
  EXPECT_EQ(window_.open_requests[0].filter, OpenFilter());
  EXPECT_EQ(window_.open_requests[0].default_extension, "fcs");
}

// The main window's wiring: picking a recall entry opens its script.
TEST_F(ScriptDocumentTest, PickingARecallEntryOpensItOrLeavesItDisabled) {
  TCustomMenuControl recall("RecallMenu1");
  recall.SelectErase = true;
  ScriptDocument doc(editor_, window_, &recall);
  recall.OnSelected = [&](TCustomMenuControl&, const std::string& path) { doc.LoadScript(path); };
  const std::string a = Write("a.fcs", "A");
  const std::string b = Write("b.fcs", "B");
  doc.LoadScript(a);
  doc.LoadScript(b);
  std::filesystem::remove(a);

  recall.ItemClick(1);  // a, deleted
  EXPECT_EQ(doc.ScriptName(), b);
  EXPECT_EQ(recall.Items().Texts(), (std::vector<std::string>{b, a}));
  EXPECT_FALSE(recall.MenuItems()[1].enabled);

  recall.ItemClick(0);  // b: opens, stays at the top, and a is enabled again
  EXPECT_EQ(doc.ScriptName(), b);
  EXPECT_TRUE(recall.MenuItems()[0].enabled);
  EXPECT_TRUE(recall.MenuItems()[1].enabled);
}

}  // namespace
}  // namespace tarnex::documents
