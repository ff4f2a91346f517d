#include "ui/about_box.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

#include "ui/artwork.h"
#include "ui/qt_text.h"
#include "ui/slot_guard.h"
#include "ui/ui_fonts.h"
#include "ui/url_label.h"

namespace tarnex::ui {
namespace {

// "Arial Black" where installed, else the heaviest weight of a sans serif; made smaller when
// that font is wider than the room the name has.
QFont HeavyFont(int pixel_size, const QString& text, int room) {
  QFont font;
  if (QFontDatabase::families().contains(QStringLiteral("Arial Black"))) {
    font.setFamily(QStringLiteral("Arial Black"));
  } else {
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setWeight(QFont::Black);
  font.setPixelSize(pixel_size);
  while (font.pixelSize() > 12 && QFontMetrics(font).horizontalAdvance(text) > room) {
    font.setPixelSize(font.pixelSize() - 1);
  }
  return font;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* main_window) : QDialog(main_window) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  setFont(PGothicFont(12));
  setFixedSize(374, 128);
  Image2 = new QLabel(this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(15, 6, 73, 73);
  Image2->setAlignment(Qt::AlignCenter);
  Image2->setPixmap(ProgramIcon(64));
  Image3 = new QLabel(this);
  Image3->setObjectName(QStringLiteral("Image3"));
  Image3->setGeometry(232, 48, 129, 65);
  Image3->setPixmap(MakerLogo(129, 60));
  Label3 = MakeLabel("Label3", QStringLiteral("Tarnex "), 92, 8);
  // The name ends where the description begins.
  Label3->setFont(HeavyFont(29, Label3->text(), 186 - 92));
  Label3->adjustSize();
  Label4 = MakeLabel("Label4", QStringLiteral("Commnad Script FTP"), 186, 24);
  Label5 = MakeLabel("Label5", QStringLiteral("Version 1.0"), 98, 36);
  Label6 = MakeLabel("Label6", QStringLiteral("Release 2026年12月"), 98, 52);
  URLLabel1 = new TURLLabel(this);
  URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
  URLLabel1->SetURL(QString::fromLatin1(kURL));
  URLLabel1->setGeometry(232, 112, 137, 12);
  URLLabel1->adjustSize();
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(134, 96, 83, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  // Placed once, from where the main window is now.
  if (main_window != nullptr) move(main_window->pos() + QPoint(50, 50));
}

QLabel* TAboutBox::MakeLabel(const char* name, const QString& text, int x, int y) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->move(x, y);
  label->adjustSize();
  return label;
}

void TAboutBox::showEvent(QShowEvent* event) {
  Guard([this] { FormShow(); });
  QDialog::showEvent(event);
  OKButton->setFocus();
}

void TAboutBox::FormShow() {
  Label5->setText(QStringLiteral("Version ") + ToQt(VersionText));
  Label5->adjustSize();
}

}  // namespace tarnex::ui
