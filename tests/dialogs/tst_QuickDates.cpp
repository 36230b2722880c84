// The quick-date menu: captions built from an injected today, the items' names and days, and
// the dates they give.

#include <QAction>
#include <QMenu>
#include <QtTest>

#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "dialogs/QuickDates.h"

class QuickDatesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  void init() { RegionalSettings::UseFixedFormats(); }
  void cleanup() { RegionalSettings::UseFixedFormats(); }

  void MenuFromASunday() {
    const double sunday = DateTimeValue::EncodeDate(2024, 3, 3) + 0.75;  // evening: time ignored
    QMenu menu;
    const QList<QAction*> actions = QuickDates::FillMenu(&menu, sunday);
    QCOMPARE(actions.size(), 17);
    QCOMPARE(menu.actions(), actions);

    const QList<std::tuple<QString, int, QString>> expected = {
        {"Today", 0, "Today\t03/03/2024"},
        {"Tomorrow", 1, "Tomorrow\t03/04/2024"},
        {"TodayPlus2", 2, "Tuesday\t03/05/2024"},
        {"TodayPlus3", 3, "Wednesday\t03/06/2024"},
        {"TodayPlus4", 4, "Thursday\t03/07/2024"},
        {"TodayPlus5", 5, "Friday\t03/08/2024"},
        {"TodayPlus6", 6, "Saturday\t03/09/2024"},
        {"WeekFromToday", 7, "A Week From Today\t03/10/2024"},
        {"WeekFromTommorrow", 8, "A Week From Tomorrow\t03/11/2024"},
        {"Week2", 9, "A Week from Tuesday\t03/12/2024"},
        {"Week3", 10, "A Week from Wednesday\t03/13/2024"},
        {"Week4", 11, "A Week from Thursday\t03/14/2024"},
        {"Week5", 12, "A Week from Friday\t03/15/2024"},
        {"Week6", 13, "A Week from Saturday\t03/16/2024"},
        {"TwoWeeksFromToday", 14, "Two Weeks From Today\t03/17/2024"},
        {"ThreeWeeksFromToday", 21, "Three Weeks From Today\t03/24/2024"},
        {"ThirtyDaysFromToday", 30, "30 Days From Today\t04/02/2024"},
    };
    for (int i = 0; i < 17; ++i) {
      const auto& [name, days, caption] = expected[i];
      QCOMPARE(actions[i]->objectName(), name);
      QCOMPARE(actions[i]->data().toInt(), days);
      QCOMPARE(QuickDates::DaysOf(actions[i]), days);
      QCOMPARE(actions[i]->text(), caption);
      QCOMPARE(QuickDates::DateOf(actions[i], sunday),
               DateTimeValue::EncodeDate(2024, 3, 3) + days);
    }
  }

  // The owner adds its own items; re-captioning for another day leaves them alone, and the
  // dates follow the short date format in force when the captions are built.
  void RecaptionForAnotherDayAndFormat() {
    QMenu menu;
    QuickDates::FillMenu(&menu, DateTimeValue::EncodeDate(2024, 3, 3));
    menu.addSeparator();
    QAction* cancel = menu.addAction("Cancel");
    QCOMPARE(QuickDates::DaysOf(cancel), -1);

    RegionalFormats german{"d.m.yyyy", ".", ":", "", ""};
    RegionalSettings::PutInForce(german);
    QuickDates::UpdateCaptions(&menu, DateTimeValue::EncodeDate(2024, 12, 30));
    QCOMPARE(menu.findChild<QAction*>("Today")->text(), QString("Today\t30.12.2024"));
    QCOMPARE(menu.findChild<QAction*>("TodayPlus2")->text(), QString("Wednesday\t1.1.2025"));
    QCOMPARE(menu.findChild<QAction*>("ThirtyDaysFromToday")->text(),
             QString("30 Days From Today\t29.1.2025"));
    QCOMPARE(cancel->text(), QString("Cancel"));
    QCOMPARE(menu.actions().size(), 19);
  }

  void DatesBeyondTheCalendarKeepTheStoredCaption() {
    const double lastDay = DateTimeValue::EncodeDate(9999, 12, 31);
    QCOMPARE(QuickDates::Caption(0, lastDay), QString("Today\t12/31/9999"));
    QCOMPARE(QuickDates::Caption(1, lastDay), QString("Tomorrow"));
    QCOMPARE(QuickDates::Caption(9, lastDay), QString("Week+2"));
    QCOMPARE(QuickDates::Caption(17, lastDay), QString());
  }
};

QTEST_MAIN(QuickDatesTest)
#include "tst_QuickDates.moc"
