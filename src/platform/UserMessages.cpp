#include "platform/UserMessages.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace {

// A "\r" inside the program's fixed message texts is a line break.
QString ShownText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
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
    box.exec();
  }
  bool YesNo(const QString& caption, const QString& text) override {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      std::fprintf(stderr, "%s: %s (answered No)\n", qPrintable(caption), qPrintable(ShownText(text)));
      return false;
    }
    QMessageBox box(QMessageBox::Question, caption, ShownText(text),
                    QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
};

BoxMessages g_boxes;
UserMessages* g_current = nullptr;

}  // namespace

UserMessages& UserMessages::Current() { return g_current != nullptr ? *g_current : g_boxes; }

void UserMessages::Install(UserMessages* messages) { g_current = messages; }
