#include "app/TSplashform.h"

#include <QFrame>
#include <QKeyEvent>
#include <QSysInfo>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "widgets/TFlatButton.h"

namespace {

// The program's logo: a ticked list on a card.
QPixmap Logo() {
  QPixmap logo(96, 96);
  logo.fill(Qt::transparent);
  QPainter p(&logo);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 60, 110), 3));
  p.setBrush(QColor(245, 245, 235));
  p.drawRoundedRect(8, 6, 80, 84, 8, 8);
  for (int i = 0; i < 4; ++i) {
    const int y = 24 + i * 18;
    p.setPen(QPen(QColor(40, 60, 110), 2));
    p.drawRect(18, y - 6, 10, 10);
    p.drawLine(36, y, 76, y);
    if (i < 2) {
      p.setPen(QPen(QColor(30, 140, 60), 3));
      p.drawLine(19, y - 1, 23, y + 3);
      p.drawLine(23, y + 3, 30, y - 9);
    }
  }
  return logo;
}

}  // namespace

TSplashform::TSplashform(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Splashform"));
  setWindowTitle(QStringLiteral("About Listwise"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setFixedSize(435, 234);
  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("ProgramIcon"));
  logo->setPixmap(Logo());
  logo->setGeometry(24, 24, 96, 96);
  auto* name = new QLabel(QStringLiteral("Listwise"), this);
  QFont big = font();
  big.setPointSize(18);
  big.setBold(true);
  name->setFont(big);
  name->setGeometry(144, 24, 270, 36);
  auto* version = new QLabel(QStringLiteral("Version 2.3a"), this);
  version->setObjectName(QStringLiteral("Version"));
  version->setGeometry(144, 68, 270, 20);
  platformLine_ = new QLabel(this);
  platformLine_->setObjectName(QStringLiteral("Comments"));
  platformLine_->setGeometry(144, 92, 270, 20);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(16, 150, 403, 4);
  auto* ok = new TFlatButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setGeometry(180, 180, 75, 28);
  connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
  FormCreate();
}

QString TSplashform::BuildLine() {
  // What this build is, read from the build itself rather than written down.
  QString system = QSysInfo::kernelType();
  if (system == QLatin1String("linux")) system = QStringLiteral("Linux");
  else if (!system.isEmpty()) system[0] = system[0].toUpper();
  return QStringLiteral("%1-bit version for %2").arg(QSysInfo::WordSize).arg(system);
}

void TSplashform::FormCreate() { platformLine_->setText(BuildLine()); }

void TSplashform::keyPressEvent(QKeyEvent* event) {
  // The box has one button, OK: Enter answers it as Escape does.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
