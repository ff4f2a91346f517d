// The main window's menus: captions, shortcuts, initial states, and the handlers that are one
// step each (edit menu, log menu, options, version, help).
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>

#include "platform/files.h"
#include "ui/about_box.h"
#include "ui/help_window.h"
#include "ui/log_memo.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/slot_guard.h"
#include "ui/user_dialogs.h"

namespace tarnex::ui {

QAction* TTarnexfm::AddItem(QMenu* menu, const char* name, const char* caption,
                            const QKeySequence& shortcut, void (TTarnexfm::*handler)()) {
  auto* item = new QAction(QString::fromUtf8(caption), this);
  item->setObjectName(QString::fromLatin1(name));
  item->setShortcut(shortcut);
  if (handler != nullptr) {
    connect(item, &QAction::triggered, this, Guarded([this, handler] { (this->*handler)(); }));
  }
  menu->addAction(item);
  menu_items_.push_back(item);
  return item;
}

void TTarnexfm::AddSeparator(QMenu* menu, const char* name) {
  QAction* separator = menu->addSeparator();
  separator->setObjectName(QString::fromLatin1(name));
  menu_items_.push_back(separator);
}

void TTarnexfm::BuildMenus() {
  BuildFileMenu();
  BuildOtherMenus();
  BuildDebugMenu();
  for (QMenu* menu : {file1, Edit1, Log1, Help1, Debug1}) menu_items_.push_back(menu->menuAction());
  menu_items_.push_back(N6->menuAction());
  // Until a document exists there is nothing to save, run or edit.
  for (QAction* item : {Save1, SaveAs1, Run1, Step1, Edit1->menuAction(), Debug1->menuAction()}) {
    item->setEnabled(false);
  }
  for (QAction* item : Debug1->actions()) item->setEnabled(false);
}

void TTarnexfm::BuildFileMenu() {
  file1 = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ"));
  file1->setObjectName(QStringLiteral("file1"));
  Newfile1 =
      AddItem(file1, "Newfile1", "新しいファイル &N", QKeySequence(Qt::CTRL | Qt::Key_N), nullptr);
  Open1 = AddItem(file1, "Open1", "開く &O", QKeySequence(Qt::CTRL | Qt::Key_O), nullptr);
  N6 = file1->addMenu(QStringLiteral("開き直す"));
  N6->setObjectName(QStringLiteral("N6"));
  N6->menuAction()->setObjectName(QStringLiteral("N6"));
  Save1 = AddItem(file1, "Save1", "上書き保存 &S", QKeySequence(Qt::CTRL | Qt::Key_S), nullptr);
  SaveAs1 =
      AddItem(file1, "SaveAs1", "名前を変えて保存 &A", QKeySequence(Qt::CTRL | Qt::Key_A), nullptr);
  AddSeparator(file1, "N1");
  Option1 = AddItem(file1, "Option1", "設定", QKeySequence(), &TTarnexfm::Option1Click);
  ConnectOption1 =
      AddItem(file1, "ConnectOption1", "接続設定", QKeySequence(), &TTarnexfm::ConnectOption1Click);
  AddSeparator(file1, "N3");
  Run1 = AddItem(file1, "Run1", "実  行", QKeySequence(Qt::Key_F9), &TTarnexfm::Run1Click);
  Step1 = AddItem(file1, "Step1", "Step実行", QKeySequence(Qt::Key_F8), &TTarnexfm::Step1Click);
  AddSeparator(file1, "N2");
  exit1 = AddItem(file1, "exit1", "終了 &Q", QKeySequence(Qt::CTRL | Qt::Key_Q),
                  &TTarnexfm::exit1Click);
  // The document's own commands.
  connect(Newfile1, &QAction::triggered, this, Guarded([this] { document_->New(); }));
  connect(Open1, &QAction::triggered, this, Guarded([this] { document_->Open(); }));
  connect(Save1, &QAction::triggered, this, Guarded([this] { document_->Save(); }));
  connect(SaveAs1, &QAction::triggered, this, Guarded([this] { document_->SaveAs(); }));
}

void TTarnexfm::BuildOtherMenus() {
  Edit1 = menuBar()->addMenu(QStringLiteral("編集"));
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Cut1 = AddItem(Edit1, "Cut1", "ｶｯﾄ", QKeySequence(), &TTarnexfm::Cut1Click);
  Copy1 = AddItem(Edit1, "Copy1", "ｺﾋﾟｰ", QKeySequence(), &TTarnexfm::Copy1Click);
  Peast1 = AddItem(Edit1, "Peast1", "ﾍﾟｰｽﾄ", QKeySequence(), &TTarnexfm::Peast1Click);
  Delete1 = AddItem(Edit1, "Delete1", "削除", QKeySequence(), &TTarnexfm::Delete1Click);
  All1 = AddItem(Edit1, "All1", "全て選択", QKeySequence(), &TTarnexfm::All1Click);

  Log1 = menuBar()->addMenu(QStringLiteral("ﾛｸﾞ"));
  Log1->setObjectName(QStringLiteral("Log1"));
  LogfileSave1 =
      AddItem(Log1, "LogfileSave1", "ﾌｧｲﾙに保存", QKeySequence(), &TTarnexfm::LogfileSave1Click);
  LogClear1 = AddItem(Log1, "LogClear1", "ｸﾘｱｰ", QKeySequence(), &TTarnexfm::LogClear1Click);

  Help1 = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ"));
  Help1->setObjectName(QStringLiteral("Help1"));
  Contets1 = AddItem(Help1, "Contets1", "目次", QKeySequence(), &TTarnexfm::Contets1Click);
  AddSeparator(Help1, "N4");
  Version1 =
      AddItem(Help1, "Version1", "バージョン情報", QKeySequence(), &TTarnexfm::Version1Click);
}

void TTarnexfm::Cut1Click() {
  Batmemo->cut();
}
void TTarnexfm::Copy1Click() {
  Batmemo->copy();
}
void TTarnexfm::Peast1Click() {
  Batmemo->paste();
}
void TTarnexfm::Delete1Click() {
  Batmemo->textCursor().removeSelectedText();
}
void TTarnexfm::All1Click() {
  Batmemo->selectAll();
}

void TTarnexfm::LogfileSave1Click() {
  if (!dialogs_.RunSaveDialog(this, SaveDialog2, false)) return;
  // Written first: a log that could not be saved is not cleared.
  platform::WriteLines(SaveDialog2.file_name, Logmemo->Lines());
  Logmemo->ClearLines();
}

void TTarnexfm::LogClear1Click() {
  Logmemo->ClearLines();
}

void TTarnexfm::Option1Click() {
  if (options_ != nullptr) dialogs_.RunModal(*options_);
}

void TTarnexfm::Version1Click() {
  if (about_ == nullptr) return;
  about_->VersionText = kVersion;
  dialogs_.RunModal(*about_);
}

void TTarnexfm::Contets1Click() {
  if (help_ == nullptr) help_ = new THelpWindow(this);
  help_->ShowContents();
}

void TTarnexfm::exit1Click() {
  close();
}

}  // namespace tarnex::ui
