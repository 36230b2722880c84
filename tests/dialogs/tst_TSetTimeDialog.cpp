// The set-time dialog: its hour and minute faces, the caption for the chosen time, the
// highlighting, and what it hands back after OK and Cancel.

#include <QTimer>
#include <QtTest>

#include "db/DateTimeValue.h"
#include "widgets/TGraphicPanel.h"
#include "dialogs/TSetTimeDialog.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"

namespace {

TGraphicPanel* Face(QWidget* dialog, int number) {
  return dialog->findChild<TGraphicPanel*>(QString("GraphicPanel%1").arg(number));
}

TGraphicPanel* HourFace(QWidget* dialog, int hour) {
  return Face(dialog, hour + 1);
}

TGraphicPanel* MinuteFace(QWidget* dialog, int minute) {
  return Face(dialog, minute + 25);
}

void ClickFace(TGraphicPanel* face) {
  QVERIFY(face);
  QTest::mouseClick(face, Qt::LeftButton, {}, face->rect().center());
}

// The tags of the faces drawn highlighted.
QList<int> Highlighted(QWidget* dialog, int first, int count) {
  QList<int> tags;
  const QColor highlight = dialog->palette().color(QPalette::Highlight);
  for (int i = first; i < first + count; ++i) {
    TGraphicPanel* face = Face(dialog, i);
    if (face->Color() == highlight) {
      tags.append(face->Tag());
      if (face->FontColor() != dialog->palette().color(QPalette::HighlightedText)) tags.append(-1);
    } else if (face->FontColor() != dialog->palette().color(QPalette::ButtonText)) {
      tags.append(-2);
    }
  }
  return tags;
}

}  // namespace

class SetTimeDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void FacesAreLaidOutAsAClock() {
    TSetTimeDialog dialog;
    QCOMPARE(dialog.size(), QSize(306, 334));
    const QStringList hourCaptions = {"12", "1", "2", "3", "4",  "5",
                                      "6",  "7", "8", "9", "10", "11"};
    for (int hour = 0; hour < 24; ++hour) {
      TGraphicPanel* face = HourFace(&dialog, hour);
      QVERIFY(face);
      QCOMPARE(face->Tag(), hour);
      QCOMPARE(face->Caption(), hourCaptions[hour % 12]);
      QCOMPARE(face->size(), QSize(24, 19));
      QCOMPARE(face->focusPolicy(), Qt::NoFocus);
      QCOMPARE(face->Hint(), QString("Click to set the hours portion of the time"));
      QCOMPARE(face->x() - HourFace(&dialog, hour - hour % 6)->x(), (hour % 6) * 24);
    }
    // Four rows of six, the afternoon below the morning with a gap between the halves.
    QCOMPARE(HourFace(&dialog, 6)->y() - HourFace(&dialog, 0)->y(), 19);
    QCOMPARE(HourFace(&dialog, 18)->y() - HourFace(&dialog, 12)->y(), 19);
    QVERIFY(HourFace(&dialog, 12)->y() - HourFace(&dialog, 6)->y() > 19);
    for (int minute = 0; minute < 60; ++minute) {
      TGraphicPanel* face = MinuteFace(&dialog, minute);
      QVERIFY(face);
      QCOMPARE(face->Tag(), minute);
      QCOMPARE(face->Caption(), QString("%1").arg(minute, 2, 10, QChar('0')));
      QCOMPARE(face->x(), MinuteFace(&dialog, 0)->x() + (minute % 10) * 24);
      QCOMPARE(face->y(), MinuteFace(&dialog, 0)->y() + (minute / 10) * 19);
    }
    QVERIFY(!Face(&dialog, 85));
    QCOMPARE(dialog.findChild<TFlatButton*>("Okbutton")->Caption(), QString("Ok"));
    QCOMPARE(dialog.findChild<TFlatButton*>("CancelButton")->Caption(), QString("&Cancel"));
    TFlatButton* help = dialog.findChild<TFlatButton*>("Helpbutton");
    QCOMPARE(help->Caption(), QString("&Help"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(help, Qt::LeftButton, {}, help->rect().center());
    QVERIFY(HelpWindow::Instance());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 2986);
    HelpWindow::Instance()->close();
  }

  void CaptionAndHighlightFollowTheClicks() {
    TSetTimeDialog dialog;
    dialog.SetSelectedTime(0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QString("Set Time As: 12:00 am"));
    QCOMPARE(Highlighted(&dialog, 1, 24), QList<int>{0});
    QCOMPARE(Highlighted(&dialog, 25, 60), QList<int>{0});

    ClickFace(HourFace(&dialog, 12));  // the afternoon "12"
    QCOMPARE(dialog.windowTitle(), QString("Set Time As: 12:00 pm"));
    QCOMPARE(dialog.SelectedTime(), 0.5);

    ClickFace(HourFace(&dialog, 14));
    ClickFace(MinuteFace(&dialog, 5));
    QCOMPARE(dialog.windowTitle(), QString("Set Time As: 02:05 pm"));
    QCOMPARE(dialog.SelectedTime(), DateTimeValue::EncodeTime(14, 5));
    QCOMPARE(Highlighted(&dialog, 1, 24), QList<int>{14});
    QCOMPARE(Highlighted(&dialog, 25, 60), QList<int>{5});

    ClickFace(HourFace(&dialog, 0));
    ClickFace(MinuteFace(&dialog, 59));
    QCOMPARE(dialog.windowTitle(), QString("Set Time As: 12:59 am"));
    QCOMPARE(dialog.SelectedHour(), 0);
    QCOMPARE(dialog.SelectedMinute(), 59);
  }

  void StartValueLosesItsSecondsAndDate() {
    TSetTimeDialog dialog;
    dialog.SetSelectedTime(DateTimeValue::EncodeDate(2024, 3, 5) +
                           DateTimeValue::EncodeTime(7, 30, 45, 500));
    QTimer::singleShot(0, &dialog, [&] {
      QCOMPARE(dialog.windowTitle(), QString("Set Time As: 07:30 am"));
      TFlatButton* ok = dialog.findChild<TFlatButton*>("Okbutton");
      QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
    });
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(dialog.ModalResult, 1);
    QCOMPARE(dialog.SelectedTime(), DateTimeValue::EncodeTime(7, 30, 0));
  }

  void CancelAndEscAnswerTwo_data() {
    QTest::addColumn<bool>("useEsc");
    QTest::newRow("button") << false;
    QTest::newRow("Esc") << true;
  }
  void CancelAndEscAnswerTwo() {
    QFETCH(bool, useEsc);
    TSetTimeDialog dialog;
    dialog.SetSelectedTime(DateTimeValue::EncodeTime(9, 15));
    QTimer::singleShot(0, &dialog, [&] {
      ClickFace(HourFace(&dialog, 20));
      if (useEsc) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        TFlatButton* cancel = dialog.findChild<TFlatButton*>("CancelButton");
        QTest::mouseClick(cancel, Qt::LeftButton, {}, cancel->rect().center());
      }
    });
    QCOMPARE(dialog.exec(), 2);
    QCOMPARE(dialog.ModalResult, 2);
  }

  void EnterAnswersOne() {
    TSetTimeDialog dialog;
    dialog.SetSelectedTime(DateTimeValue::EncodeTime(23, 59, 59));
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(dialog.SelectedTime(), DateTimeValue::EncodeTime(23, 59));
  }
};

QTEST_MAIN(SetTimeDialogTest)
#include "tst_TSetTimeDialog.moc"
