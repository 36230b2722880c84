// The message boxes: what they show, what they answer, and that they are wide enough for the
// window manager to show their whole caption.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include "platform/UserMessages.h"

namespace {

struct ShownBox {
  QString caption;
  QString text;
  int width = 0;
  QMessageBox::StandardButtons buttons;
};

// Reads the next message box as soon as it is up and answers it with `answer`.
void AnswerNextBox(ShownBox* shown, QMessageBox::StandardButton answer) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, shown, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    shown->caption = box->windowTitle();
    shown->text = box->text();
    shown->width = box->width();
    shown->buttons = box->standardButtons();
    box->button(answer)->click();
    timer->deleteLater();
  });
  timer->start();
}

// What a title bar needs besides the caption: at the least a window icon and three buttons
// (minimise, maximise, close), each some one and a half lines of the title font wide.
int NeededWidth(const QString& caption) {
  QFont font = QApplication::font();
  font.setBold(true);
  const QFontMetrics fm(font);
  return fm.horizontalAdvance(caption) + 4 * fm.height() * 3 / 2;
}

}  // namespace

class UserMessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void InformationShowsItsWholeCaption() {
    ShownBox shown;
    AnswerNextBox(&shown, QMessageBox::Ok);
    UserMessages::Current().Information(QStringLiteral("Information"), QStringLiteral("Done!"));
    QCOMPARE(shown.caption, QStringLiteral("Information"));
    QCOMPARE(shown.text, QStringLiteral("Done!"));
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(shown.width >= NeededWidth(shown.caption), qPrintable(QString::number(shown.width)));

    // The program's texts mark line breaks with "\r".
    AnswerNextBox(&shown, QMessageBox::Ok);
    UserMessages::Current().Information(QStringLiteral("Information"),
                                        QStringLiteral("one\rtwo\r\nthree"));
    QCOMPARE(shown.text, QStringLiteral("one\ntwo\nthree"));
  }

  void QuestionShowsItsWholeCaptionAndAnswers() {
    ShownBox shown;
    AnswerNextBox(&shown, QMessageBox::Yes);
    QVERIFY(UserMessages::Current().YesNo(QStringLiteral("Listwise"),
                                          QStringLiteral("Rebuild Index Files?")));
    QCOMPARE(shown.caption, QStringLiteral("Listwise"));
    QCOMPARE(shown.text, QStringLiteral("Rebuild Index Files?"));
    QCOMPARE(shown.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY2(shown.width >= NeededWidth(shown.caption), qPrintable(QString::number(shown.width)));
    AnswerNextBox(&shown, QMessageBox::No);
    QVERIFY(!UserMessages::Current().YesNo(QStringLiteral("Listwise"),
                                           QStringLiteral("Rebuild Index Files?")));
  }

  void LongCaptionWidensTheBoxWithinTheScreen() {
    const QString caption =
        QStringLiteral("Information about the export of the task list to a file");
    ShownBox shown;
    AnswerNextBox(&shown, QMessageBox::Ok);
    UserMessages::Current().Information(caption, QStringLiteral("Done!"));
    QVERIFY2(shown.width >= NeededWidth(caption), qPrintable(QString::number(shown.width)));

    const QString endless = QString(QStringLiteral("Very long caption ")).repeated(40);
    AnswerNextBox(&shown, QMessageBox::Ok);
    UserMessages::Current().Information(endless, QStringLiteral("Done!"));
    QCOMPARE(shown.caption, endless);
    QVERIFY(shown.width <= QApplication::primaryScreen()->availableGeometry().width());
  }
};

QTEST_MAIN(UserMessagesTest)
#include "tst_UserMessages.moc"
