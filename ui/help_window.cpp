#include "ui/help_window.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/ui_fonts.h"

namespace tarnex::ui {

THelpWindow::THelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Tarnex ヘルプ"));
  setFont(PGothicFont(13));
  resize(720, 560);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  // Links inside the manual stay in it; links out of it go to the browser.
  browser_->setOpenExternalLinks(true);
}

void THelpWindow::ShowContents() {
  browser_->setSource(QUrl(QString::fromLatin1(kContents)));
  show();
  raise();
  activateWindow();
}

}  // namespace tarnex::ui
