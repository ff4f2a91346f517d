#include "ui/main_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "documents/document_texts.h"
#include "platform/message_loop.h"
#include "ui/breakpoint_store.h"
#include "ui/log_memo.h"
#include "ui/loop_pump.h"
#include "ui/options_dialog.h"
#include "ui/pane_area.h"
#include "ui/progress_window.h"
#include "ui/qt_text.h"
#include "ui/recall_binding.h"
#include "ui/run_debugger.h"
#include "ui/script_highlighter.h"
#include "ui/slot_guard.h"
#include "ui/status_panels.h"
#include "ui/ui_fonts.h"
#include "ui/variables_panel.h"
#include "ui/window_hosts.h"

namespace tarnex::ui {

TTarnexfm::TTarnexfm(std::shared_ptr<platform::RegistryStore> store, UserDialogs& dialogs,
                     QWidget* parent)
    : QMainWindow(parent),
      SaveDialog2{FromQt(QStringLiteral("Log file|*.log|全てのファイル|*.*")), "log", 1, {}},
      store_(std::move(store)),
      dialogs_(dialogs) {
  setObjectName(QStringLiteral("Tarnexfm"));
  setWindowTitle(QString::fromLatin1(documents::kMessageCaption.data(),
                                     static_cast<qsizetype>(documents::kMessageCaption.size())));
  setFont(GothicFont(13));
  resize(550, 319);
  BuildPanes();
  BuildMenus();
  BuildKeyboard();
  engine_host_ = std::make_unique<WindowEngineHost>(*this, *Logmemo, *Stbar, dialogs_,
                                                    [this] { return MenuItems(); });
  engine_ = std::make_unique<script::ScriptEngine>(*engine_host_, settings_, store_);
  editor_ = std::make_unique<MemoEditor>(*Batmemo);
  editor_->OnTextReplaced = [this] { TextReplaced(); };
  document_host_ = std::make_unique<WindowDocumentHost>(*this, *Stbar, dialogs_,
                                                        [this] { EnableDocumentMenus(); });
  document_host_->OnNamed = [this] { DocumentNamed(); };
  BuildDebugger();
  recall_ = std::make_unique<documents::TRecallMenu>("RecallMenu1", store_);
  recall_->Count = 10;
  recall_->SelectErase = true;
  recall_->MultiSelect = false;
  recall_->RootKey = platform::RootKey::LocalMachine;
  recall_->RegistryKey = "\\SOFTWARE\\Tarnex\\Recalls";
  recall_->OnSelected = [this](documents::TCustomMenuControl&, const std::string& selected) {
    RecallMenu1Selected(selected);
  };
  document_ = std::make_unique<documents::ScriptDocument>(*editor_, *document_host_, recall_.get());
  recall_binding_ = std::make_unique<RecallMenuBinding>(*recall_, *N6);
  connect(Batmemo, &QPlainTextEdit::textChanged, this,
          Guarded([this] { document_->BatmemoChange(); }));
  pump_ = std::make_unique<QtLoopPump>(platform::MessageLoop::Current());
  FormCreate();
  // The window has been loaded: the recall list from the store.
  Guard([this] { recall_->Loaded(); });
}

TTarnexfm::~TTarnexfm() {
  SetApplicationErrorHandler(nullptr);
  pump_.reset();
}

void TTarnexfm::FormCreate() {
  SetApplicationErrorHandler([this](std::exception_ptr error) { AppException(error); });
  Stbar->SetText(1, "Disconnect");
  engine_->FConnected = false;
  engine_->FRunning = false;
}

void TTarnexfm::AppException(std::exception_ptr error) {
  engine_->LogUnexpectedError(error);
}

void TTarnexfm::AttachForms(TTarnexOption& options, TAboutBox& about, Tprogfm& progress) {
  options_ = &options;
  about_ = &about;
  progress_ = &progress;
  engine_host_->SetLogCopy(progress.Log);
  engine_host_->SetProgressWindow(&progress);
  options.OnDebugMode = [this](bool on) { engine_->FTP.set_debugmode(on); };
}

QLabel* TTarnexfm::MakeCaptionPanel(QWidget* pane, const char* name, const char* caption) {
  auto* label = new QLabel(QString::fromUtf8(caption), pane);
  label->setObjectName(QString::fromLatin1(name));
  label->setFixedHeight(19);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

void TTarnexfm::BuildPanes() {
  Stbar = new TStatusPanels(this);
  Stbar->setObjectName(QStringLiteral("Stbar"));
  setStatusBar(Stbar);
  panes_ = new TPaneArea(this);
  setCentralWidget(panes_);
  panes_->SetPanel1Width(257);
  panes_->Panel2()->OnMouseMove = [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                         int x) { Panel2MouseMove(buttons, modifiers, x); };

  Panel4 = MakeCaptionPanel(panes_->Panel1(), "Panel4", " FTPコマンドスクリプト");
  Batmemo = new TScriptEditor(panes_->Panel1());
  Batmemo->setObjectName(QStringLiteral("Batmemo"));
  Batmemo->setFont(GothicFont(13));
  Batmemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Batmemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Batmemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  highlighter_ = new ScriptHighlighter(Batmemo->document());
  RunNotice = new QLabel(QStringLiteral("実行中のスクリプトは開始した時の内容で動いています。ここで"
                                        "の編集は次の実行から使われます。"),
                         panes_->Panel1());
  RunNotice->setObjectName(QStringLiteral("RunNotice"));
  RunNotice->setWordWrap(true);
  RunNotice->setMargin(3);
  RunNotice->setStyleSheet(
      QStringLiteral("QLabel { background: #fff4c2; color: #5a4500; border: 1px solid #e0c060; }"));
  RunNotice->hide();
  auto* left = new QVBoxLayout(panes_->Panel1());
  left->setContentsMargins(2, 2, 2, 2);
  left->setSpacing(0);
  left->addWidget(Panel4);
  left->addWidget(RunNotice);
  left->addWidget(Batmemo);

  Panel5 = MakeCaptionPanel(panes_->Panel3(), "Panel5", " 実行ログ");
  Logmemo = new TLogMemo(panes_->Panel3());
  Logmemo->setObjectName(QStringLiteral("Logmemo"));
  Logmemo->setFont(GothicFont(13));
  Logmemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Logmemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* right = new QVBoxLayout(panes_->Panel3());
  right->setContentsMargins(2, 2, 2, 2);
  right->setSpacing(0);
  right->addWidget(Panel5);
  right->addWidget(Logmemo);

  // The menus' shortcuts win over the editors' own keys (Ctrl+A is Save as here).
  Batmemo->installEventFilter(this);
  Logmemo->installEventFilter(this);
}

bool TTarnexfm::ClaimsShortcut(const QKeyEvent& key) const {
  const QKeySequence pressed(key.keyCombination());
  for (const auto* items : {&menu_items_, &keyboard_items_}) {
    for (QAction* item : *items) {
      if (item->shortcuts().contains(pressed)) return true;
    }
  }
  return false;
}

bool TTarnexfm::eventFilter(QObject* watched, QEvent* event) {
  // Left unaccepted, the override lets the window's shortcut take the key.
  if (event->type() == QEvent::ShortcutOverride &&
      ClaimsShortcut(*static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TTarnexfm::Panel2MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x) {
  // Only a drag with the left button alone moves the splitter.
  if (buttons != Qt::LeftButton || modifiers != Qt::NoModifier) return;
  panes_->SetPanel1Width(panes_->Panel2()->x() + x);
}

void TTarnexfm::EnableDocumentMenus() {
  for (QAction* item : {Save1, SaveAs1, Run1, Step1, Edit1->menuAction()}) item->setEnabled(true);
  // The debug menu goes with Run and Step.
  Debug1->menuAction()->setEnabled(true);
  UpdateDebugItems();
}

std::vector<QAction*> TTarnexfm::MenuItems() const {
  return menu_items_;
}

}  // namespace tarnex::ui
