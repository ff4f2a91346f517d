// The progress window, the about box with its link, and the recall menu's entries.
#include <QAction>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QUrl>

#include "tests/ui/ui_test_support.h"
#include "ui/about_box.h"
#include "ui/copy_animation.h"
#include "ui/log_memo.h"
#include "ui/progress_window.h"
#include "ui/recall_binding.h"
#include "ui/status_panels.h"
#include "ui/url_label.h"
#include "ui/window_hosts.h"

namespace tarnex::ui::testing {

// Receives the URLs that QDesktopServices would hand to the browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

namespace {

class AuxWindowsTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    MakeForms(/*start=*/false);
  }
  Tprogfm& Progress() { return forms->Progress(); }

  std::vector<QAction*> RecallEntries() {
    std::vector<QAction*> entries;
    for (QAction* action : Main().N6->actions()) entries.push_back(action);
    return entries;
  }
  std::string Script(int n) {
    const std::string path = dir / ("s" + std::to_string(n) + ".fcs");
    WriteFile(path, "Rem " + std::to_string(n) + "\r\n");
    return path;
  }
};

TEST_F(AuxWindowsTest, ProgressWindowFoldsAndUnfoldsItsLog) {
  struct Case {
    const char* name;
    bool show_button;
  };
  for (const Case c : {Case{"with button", true}, Case{"without button", false}}) {
    SCOPED_TRACE(c.name);
    Main().Settings().cb_showbutton = c.show_button;
    Progress().show();
    EXPECT_EQ(Progress().windowTitle(), QStringLiteral("Tarnex 2.51b "));
    EXPECT_EQ(Progress().Label1->text(), QStringLiteral("ただいまデータ通信中"));
    EXPECT_EQ(Progress().height(), 125);
    EXPECT_EQ(Progress().width(), 296);
    EXPECT_EQ(Progress().SpeedButton1->isVisible(), c.show_button);
    EXPECT_TRUE(Progress().Animate1->Running());
    if (c.show_button) {
      Progress().SpeedButton1->click();
      EXPECT_EQ(Progress().height(), 436);
      Progress().SpeedButton1->click();
      EXPECT_EQ(Progress().height(), 125);
      Progress().SpeedButton1->click();  // left unfolded: the next showing folds it again
    }
    // No close box, and closing is refused.
    EXPECT_FALSE(Progress().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Progress().close());
    EXPECT_TRUE(Progress().isVisible());
    Progress().CloseForm();
    EXPECT_FALSE(Progress().isVisible());
    EXPECT_FALSE(Progress().Animate1->Running());
  }
}

TEST_F(AuxWindowsTest, ProgressWindowLogGetsEveryLineShownOrNot) {
  Main().Engine().AddLog("hidden");
  Progress().show();
  Main().Engine().AddLog("shown");
  Progress().CloseForm();
  EXPECT_EQ(Progress().Log->Lines(), (std::vector<std::string>{"hidden", "shown"}));
}

TEST_F(AuxWindowsTest, ProgressTextsShowWholeInTheTooltipAndTheProgressCaption) {
  Progress().show();
  Main().Engine().FTP.Onretrievefinished(Main().Engine().FTP, 123456789, 27);
  QLabel* panel = Main().Stbar->Panel(3);
  EXPECT_EQ(panel->width(), 50);
  EXPECT_TRUE(panel->toolTip().startsWith(QStringLiteral("Retrieved 123456789(")));
  EXPECT_EQ(Progress().windowTitle(), QStringLiteral("Tarnex 2.51b ") + panel->toolTip());
  Progress().CloseForm();
  Progress().show();  // a new showing starts with the caption as designed
  EXPECT_EQ(Progress().windowTitle(), QStringLiteral("Tarnex 2.51b "));
  Progress().CloseForm();
}

TEST_F(AuxWindowsTest, TheUnfoldedProgressWindowStaysOnTheScreen) {
  Main().Settings().cb_showbutton = true;
  Progress().show();
  const QRect screen = Progress().screen()->availableGeometry();
  Progress().move(screen.right() - 100, screen.bottom() - 60);
  Progress().SpeedButton1->click();
  EXPECT_EQ(Progress().height(), 436);
  EXPECT_TRUE(screen.contains(Progress().frameGeometry())) << Progress().frameGeometry().y();
  Progress().CloseForm();
}

TEST_F(AuxWindowsTest, AboutBoxShowsTheVersionAndStaysWhereItWasMade) {
  TAboutBox& about = forms->About();
  EXPECT_EQ(about.windowTitle(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  EXPECT_EQ(about.size(), QSize(374, 128));
  EXPECT_EQ(about.Label3->text(), QStringLiteral("Tarnex "));
  EXPECT_EQ(about.Label4->text(), QStringLiteral("Commnad Script FTP"));
  const QPoint made_at = about.pos();
  Main().move(Main().pos() + QPoint(120, 80));
  for (int i = 0; i < 2; ++i) {
    Main().Version1->trigger();
    EXPECT_EQ(about.Label5->text(), QStringLiteral("Version 2.51b "));
    EXPECT_EQ(about.pos(), made_at);
  }
  EXPECT_TRUE(about.OKButton->isDefault());
}

TEST_F(AuxWindowsTest, LinkTurnsBlueAndUnderlinedUnderTheMouseAndOpensItsUrl) {
  TURLLabel& link = *forms->About().URLLabel1;
  EXPECT_EQ(link.text(), QString::fromLatin1(TAboutBox::kURL));
  const QColor normal = link.palette().color(QPalette::WindowText);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(&link, &enter);
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(link.font().underline());
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&link, &leave);
  EXPECT_EQ(link.palette().color(QPalette::WindowText), normal);
  EXPECT_FALSE(link.font().underline());

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
  link.resize(100, 12);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&link, &press);
  QCoreApplication::sendEvent(&link, &release);
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_EQ(catcher.opened[0], QUrl(QString::fromLatin1(TAboutBox::kURL)));
}

TEST_F(AuxWindowsTest, RecallMenuKeepsTheTenNewestAfterElevenOpens) {
  EXPECT_TRUE(RecallEntries().empty());  // a first start: no entries, no separator
  for (int n = 0; n < 11; ++n) Main().Document().LoadScript(Script(n));
  ASSERT_TRUE(WaitUntil([&] { return !Main().RecallBinding().RebuildPending(); }));
  const std::vector<QAction*> entries = RecallEntries();
  ASSERT_EQ(entries.size(), 10u);
  EXPECT_EQ(entries[0]->text(), QStringLiteral("&0 ") + QString::fromStdString(dir / "s10.fcs"));
  EXPECT_EQ(entries[0]->objectName(), QStringLiteral("RecallMenu10"));
  EXPECT_EQ(entries[9]->text(), QStringLiteral("&9 ") + QString::fromStdString(dir / "s1.fcs"));
  // At exit the list is stored, newest first.
  Main().FormDestroy();
  platform::Registry registry(store);
  registry.OpenKey("\\SOFTWARE\\Tarnex\\Recalls", false);
  EXPECT_EQ(registry.ReadString("History0"), dir / "s10.fcs");
  EXPECT_EQ(registry.ReadString("History9"), dir / "s1.fcs");
}

TEST_F(AuxWindowsTest, PickingAnEntryOpensItAndAGoneFileStaysListedDisabled) {
  const std::string kept = Script(1);
  const std::string gone = Script(2);
  Main().Document().LoadScript(kept);
  Main().Document().LoadScript(gone);
  std::filesystem::remove(gone);
  ASSERT_TRUE(WaitUntil([&] { return !Main().RecallBinding().RebuildPending(); }));
  ASSERT_EQ(RecallEntries().size(), 2u);
  RecallEntries()[0]->trigger();  // the gone one: nothing opens, the entry greys
  ASSERT_TRUE(WaitUntil([&] { return !Main().RecallBinding().RebuildPending(); }));
  EXPECT_FALSE(RecallEntries()[0]->isEnabled());
  EXPECT_EQ(Main().Document().ScriptName(), gone);  // still the document it was
  RecallEntries()[1]->trigger();  // the other opens, moves to the top, and clears the mark
  ASSERT_TRUE(WaitUntil([&] { return !Main().RecallBinding().RebuildPending(); }));
  EXPECT_EQ(Main().Document().ScriptName(), kept);
  const std::vector<QAction*> entries = RecallEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]->text(), QStringLiteral("&0 ") + QString::fromStdString(kept));
  EXPECT_TRUE(entries[0]->isEnabled());
  EXPECT_TRUE(entries[1]->isEnabled());
}

}  // namespace
}  // namespace tarnex::ui::testing

#include "aux_windows_test.moc"
