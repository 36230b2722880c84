// The date selector: the label follows the grid, the buttons step the date, and the dialog
// answers OK, Cancel, Enter and Esc with its modal result.

#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TMonthGrid.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"

namespace {

TFlatButton* Button(QWidget* dialog, const char* name) {
  return dialog->findChild<TFlatButton*>(name);
}

void Click(QWidget* dialog, const char* name) {
  TFlatButton* button = Button(dialog, name);
  QVERIFY2(button, name);
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

}  // namespace

class DateSelectorTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
    RegionalSettings::SetLongDateFormat("dddd, mmmm d, yyyy");
  }

  void LayoutAndCaptions() {
    TDateSelector dialog;
    QCOMPARE(dialog.windowTitle(), QString("Select a Date"));
    QCOMPARE(dialog.size(), QSize(413, 247));
    QCOMPARE(dialog.Calendar()->objectName(), QString("Calendar"));
    QCOMPARE(dialog.Calendar()->StartOfWeek(), 0);
    QCOMPARE(dialog.Calendar()->height(), 132);
    QCOMPARE(dialog.Calendar()->width(), 413);
    const char* names[] = {"PrevYear", "PrevMonth", "DoCurrentDate", "NextMonth", "NextYear"};
    const char* captions[] = {"Year-", "Month-", "Today", "Month +", "Year+"};
    int lastRight = -1;
    for (int i = 0; i < 5; ++i) {
      TFlatButton* button = Button(&dialog, names[i]);
      QVERIFY2(button, names[i]);
      QCOMPARE(button->Caption(), QString(captions[i]));
      QCOMPARE(button->size(), QSize(63, 23));
      QCOMPARE(button->y(), Button(&dialog, "PrevYear")->y());
      QVERIFY(button->x() > lastRight);
      QVERIFY(button->y() >= dialog.Calendar()->geometry().bottom());
      lastRight = button->geometry().right();
    }
    QCOMPARE(Button(&dialog, "OKButton")->Caption(), QString("Ok"));
    QVERIFY(Button(&dialog, "OKButton")->Default());
    QCOMPARE(Button(&dialog, "CancelButton")->Caption(), QString("Cancel"));
    QVERIFY(Button(&dialog, "CancelButton")->Cancel());
    QCOMPARE(Button(&dialog, "Helpbutton")->Caption(), QString("Help"));
    QVERIFY(!Button(&dialog, "MouseHelpButton")->Bitmap().isNull());
    QVERIFY(dialog.findChild<QMenu*>("WhatsThisMenu"));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Click(&dialog, "Helpbutton");
    QVERIFY(HelpWindow::Instance());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1004);
    HelpWindow::Instance()->close();
    QCOMPARE(dialog.ModalResult, 0);
  }

  void LabelFollowsTheButtons() {
    TDateSelector dialog;
    auto* label = dialog.findChild<QLabel*>("DateLabel");
    QVERIFY(label);
    QCOMPARE(label->text(), QDate::currentDate().toString("dddd, MMMM d, yyyy"));
    dialog.Calendar()->SetSelectedDate(DateTimeValue::EncodeDate(2024, 1, 31));
    QCOMPARE(label->text(), QString("Wednesday, January 31, 2024"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    Click(&dialog, "NextMonth");
    QCOMPARE(label->text(), QString("Thursday, February 29, 2024"));
    Click(&dialog, "NextYear");
    QCOMPARE(label->text(), QString("Friday, February 28, 2025"));
    Click(&dialog, "PrevMonth");
    Click(&dialog, "PrevYear");
    QCOMPARE(label->text(), QString("Sunday, January 28, 2024"));
    Click(&dialog, "DoCurrentDate");
    QCOMPARE(dialog.Calendar()->SelectedDate(), DateTimeValue::Today());
    QCOMPARE(label->text(), QDate::currentDate().toString("dddd, MMMM d, yyyy"));
    // The buttons leave the keyboard with the grid.
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog.Calendar()));
  }

  void ModalResults_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << "OKButton" << 1;
    QTest::newRow("Cancel") << "CancelButton" << 2;
    QTest::newRow("Enter") << "Enter" << 1;
    QTest::newRow("Esc") << "Esc" << 2;
    QTest::newRow("closed") << "close" << 2;
  }
  void ModalResults() {
    QFETCH(QString, action);
    QFETCH(int, result);
    TDateSelector dialog;
    const double start = DateTimeValue::EncodeDate(2026, 7, 14);
    dialog.Calendar()->SetSelectedDate(start);
    QCOMPARE(dialog.ModalResult, 0);
    QTimer::singleShot(0, &dialog, [&] {
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::keyClick(dialog.Calendar(), Qt::Key_Right);  // the 15th
      if (action == "Enter") {
        QTest::keyClick(dialog.Calendar(), Qt::Key_Return);
      } else if (action == "Esc") {
        QTest::keyClick(dialog.Calendar(), Qt::Key_Escape);
      } else if (action == "close") {
        dialog.close();
      } else {
        Click(&dialog, action.toLatin1().constData());
      }
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(dialog.ModalResult, result);
    QCOMPARE(dialog.Calendar()->SelectedDate(), start + 1);
  }
};

QTEST_MAIN(DateSelectorTest)
#include "tst_TDateSelector.moc"
