#include "platform/UserMessages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <algorithm>
#include <cstdio>

namespace {

// A "\r" inside the program's fixed message texts is a line break.
QString ShownText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

// A message box is only as wide as its text and buttons, and the window manager cuts a longer
// caption to "...": a short "Done!" under the caption "Information" showed no caption at all.
// The box is made wide enough for its caption in the title bar's (bold) font, plus the window
// icon and the title bar's buttons, about two lines' height each. The texts stay as they are.
void FitCaption(QMessageBox& box) {
  QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  titleFont.setBold(true);
  const QFontMetrics fm(titleFont);
  constexpr int kTitleBarItems = 4;  // window icon, minimise, maximise, close
  int width = fm.horizontalAdvance(box.windowTitle()) + kTitleBarItems * 2 * fm.height();
  if (const QScreen* screen = box.screen())
    width = std::min(width, screen->availableGeometry().width() * 3 / 4);
  // The box fixes its own size from its layout's minimum, and the button row spans the layout's
  // full width: a minimum on the row widens the box.
  auto* buttons = box.findChild<QDialogButtonBox*>();
  if (buttons == nullptr || box.layout() == nullptr) return;
  const QMargins margins = box.layout()->contentsMargins();
  buttons->setMinimumWidth(width - margins.left() - margins.right());
}

class BoxMessages final : public UserMessages {
 public:
  void Information(const QString& caption, const QString& text) override {
    // Without a widget application (a command-line tool using the data layer) there is no box to
    // show; the message still must not vanish.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(ShownText(text)));
      return;
    }
    QMessageBox box(QMessageBox::Information, caption, ShownText(text), QMessageBox::Ok);
    FitCaption(box);
    box.exec();
  }
  bool YesNo(const QString& caption, const QString& text) override {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      std::fprintf(stderr, "%s: %s (answered No)\n", qPrintable(caption), qPrintable(ShownText(text)));
      return false;
    }
    QMessageBox box(QMessageBox::Question, caption, ShownText(text),
                    QMessageBox::Yes | QMessageBox::No);
    FitCaption(box);
    return box.exec() == QMessageBox::Yes;
  }
};

BoxMessages g_boxes;
UserMessages* g_current = nullptr;

}  // namespace

UserMessages& UserMessages::Current() { return g_current != nullptr ? *g_current : g_boxes; }

void UserMessages::Install(UserMessages* messages) { g_current = messages; }

void UserMessages::ShowInformation(const QString& message) {
  // The whole stack of busy cursors goes: a message box under an hourglass looks like a hang.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
  }
  Current().Information(QStringLiteral("Information"), message);
}

bool UserMessages::AskYesNo(const QString& question) {
  return Current().YesNo(QStringLiteral("Listwise"), question);
}
