// The script in the editor keeps every byte it was opened with, refuses to save what CP932
// cannot hold, and the program's own file dialogs pick the format by their file type.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <string>

#include "documents/script_document.h"
#include "documents/script_file.h"
#include "tests/ui/ui_test_support.h"
#include "ui/status_panels.h"
#include "ui/window_hosts.h"

namespace tarnex::ui::testing {
namespace {

using namespace std::string_literals;

TEST(MemoEditorTest, AnEditElsewhereLeavesTheOtherLinesBytes) {
  QPlainTextEdit memo;
  MemoEditor editor(memo);
  editor.SetText("Get \xFF\x81.txt\r\nRem x\r\nPut \x87\x90");
  SetCaretLine(memo, 1);
  memo.moveCursor(QTextCursor::EndOfBlock);
  memo.insertPlainText(QStringLiteral(" 表"));
  EXPECT_EQ(editor.Text(), "Get \xFF\x81.txt\r\nRem x \x95\x5C\r\nPut \x87\x90");
}

TEST(ChosenFilterIndexTest, TakesTheFilterWithOrWithoutItsPattern) {
  const auto save = documents::MakeSaveScriptDialog().Filters();
  EXPECT_EQ(ChosenFilterIndex(save, QStringLiteral("暗号化 Script( *.fcx ) (*.fcx)")), 2);
  EXPECT_EQ(ChosenFilterIndex(save, QStringLiteral(" 暗号化  Script( *.fcx )")), 2);
  EXPECT_EQ(ChosenFilterIndex(save, QStringLiteral("FTP Command Script( *.fcs )")), 1);
  EXPECT_EQ(ChosenFilterIndex(save, QStringLiteral("*.fcx")), 0);
}

class ScriptFilesTest : public FormsTest {
 protected:
  void Type(const QString& text) {
    Main().Batmemo->selectAll();
    Main().Batmemo->insertPlainText(text);
  }
};

// Opened and saved without an edit, as plain and as enciphered script (whose every record
// ends with a line break).
TEST_F(ScriptFilesTest, SavingUneditedWritesTheBytesThatWereOpened) {
  const std::string script = "Get \x80\xFD\x81.txt\r\nRem \x95\x5C\xED\x40\x87\x90\r\n\0\t\x1B"s;
  for (const char* leaf : {"odd.fcs", "odd.fcx"}) {
    SCOPED_TRACE(leaf);
    MakeForms();
    const std::string path = dir / leaf;
    const bool enciphered = documents::IsEncipheredName(path);
    WriteFile(path, documents::ScriptFileFromText(script, enciphered, documents::LineCipher()));
    dialogs.picks = {path};
    Main().Open1->trigger();
    ASSERT_EQ(Main().Document().ScriptName(), path);
    WriteFile(path, "");
    Main().Save1->trigger();
    EXPECT_EQ(documents::ReadScriptFile(path), enciphered ? script + "\r\n" : script);
    EXPECT_TRUE(dialogs.boxes.empty());
    forms.reset();
  }
}

TEST_F(ScriptFilesTest, ACharacterCp932CannotHoldIsRefusedBeforeAnythingIsWritten) {
  MakeForms();
  const std::string path = dir / "job.fcs";
  Main().Document().SaveScript(path);
  Type(QStringLiteral("Rem \u301C\n\nPut caf\u00E9.txt \U0001F600"));

  Main().Save1->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "Tarnex");
  EXPECT_EQ(dialogs.Texts()[0].rfind("3 行目の文字 U+00E9 は", 0), 0u) << dialogs.Texts()[0];
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(Main().Stbar->Text(0), platform::Utf8ToCp932("変更"));

  Type(QStringLiteral("Rem \u301C"));  // what an input method types for a wave dash
  Main().Save1->trigger();
  EXPECT_EQ(ReadFile(path), "Rem \x81\x60");
  EXPECT_FALSE(Main().Batmemo->document()->isModified());
}

// The program's own dialogs, driven as a user drives them: the file type picked in the combo
// box, a name typed without an extension, Enter.
class RealFileDialogTest : public ScriptFilesTest {
 protected:
  void MakeRealForms() {
    forms = std::make_unique<TarnexForms>(store, qt_dialogs);
    forms->Start({QStringLiteral("tarnex")});
  }

  // Triggers `menu` while a timer fills in the dialog that opens. A modal window still up
  // after the time limit is closed, so that the test never waits for ever.
  void PickInDialog(QAction* menu, int type, const QString& name) {
    QElapsedTimer clock;
    clock.start();
    bool acted = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QFileDialog*>(modal); box != nullptr && !acted) {
        acted = true;
        Fill(*box, type, name);
      } else if (modal != nullptr && clock.elapsed() > 10000) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        modal->close();
      }
    });
    driver.start(20);
    menu->trigger();
    EXPECT_TRUE(acted) << "no file dialog appeared";
  }

  static void Fill(QFileDialog& box, int type, const QString& name) {
    auto* types = box.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    auto* file_name = box.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(types, nullptr) << "not the non-native dialog";
    ASSERT_NE(file_name, nullptr);
    ASSERT_GE(types->count(), type);
    while (types->currentIndex() < type - 1) QTest::keyClick(types, Qt::Key_Down);
    file_name->setText(name);
    QTest::keyClick(file_name, Qt::Key_Return);
  }

  QtUserDialogs qt_dialogs;
};

TEST_F(RealFileDialogTest, SaveAsWithTheEncipheredTypeWritesAnFcx) {
  MakeRealForms();
  Type(QStringLiteral("Rem 表\nBye"));
  Main().Document().SaveDialog1().file_name = dir / "placeholder";

  PickInDialog(Main().SaveAs1, 2, QStringLiteral("job"));

  const std::string fcx = dir / "job.fcx";
  EXPECT_EQ(Main().Document().ScriptName(), fcx);
  const std::string bytes = ReadFile(fcx);
  EXPECT_EQ(documents::ScriptTextFromFile(bytes, /*enciphered=*/true), "Rem \x95\x5C\r\nBye\r\n");
  EXPECT_EQ(bytes.find("Rem"), std::string::npos);
}

TEST_F(RealFileDialogTest, OpenWithTheEncipheredTypeOpensTheFcx) {
  WriteFile(dir / "job.fcx",
            documents::ScriptFileFromText("Rem secret", true, documents::LineCipher()));
  WriteFile(dir / "job.fcs", "Rem plain");
  MakeRealForms();
  Main().Document().OpenDialog1().file_name = dir / "placeholder";

  PickInDialog(Main().Open1, 2, QStringLiteral("job"));

  EXPECT_EQ(Main().Document().ScriptName(), dir / "job.fcx");
  EXPECT_EQ(Main().Editor().Text(), "Rem secret\r\n");
}

}  // namespace
}  // namespace tarnex::ui::testing
