// The month grid: where the days of a month stand for every starting weekday, how the date moves
// by months and years at the ends of months and of the calendar, which cells a user can select,
// and the cell sizes after a resize.

#include <QSignalSpy>
#include <QtTest>
#include <cmath>

#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "dialogs/TMonthGrid.h"

namespace {

double D(int year, int month, int day) {
  return DateTimeValue::EncodeDate(year, month, day);
}

QDate Q(const TMonthGrid& grid) {
  return DateTimeValue::ToQDate(grid.SelectedDate());
}

}  // namespace

class MonthGridTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
  }

  // Months of 2024-2026 begin on every weekday; each is checked against a calendar walked day by
  // day with QDate, for a week starting on Sunday and on Wednesday.
  void DaysStandUnderTheirWeekdays_data() {
    QTest::addColumn<int>("startOfWeek");
    QTest::newRow("Sunday") << 0;
    QTest::newRow("Wednesday") << 3;
  }
  void DaysStandUnderTheirWeekdays() {
    QFETCH(int, startOfWeek);
    TMonthGrid grid;
    grid.SetStartOfWeek(startOfWeek);
    QSet<int> firstWeekdays;
    for (QDate first(2024, 1, 1); first.year() < 2027; first = first.addMonths(1)) {
      grid.SetSelectedDate(D(first.year(), first.month(), 15));
      const int sundayBased = first.dayOfWeek() % 7;  // Qt: Monday 1 .. Sunday 7
      firstWeekdays.insert(sundayBased);
      const int firstCol = (sundayBased - startOfWeek + 7) % 7;
      for (int row = 1; row < TMonthGrid::kRowCount; ++row) {
        for (int col = 0; col < TMonthGrid::kColCount; ++col) {
          const QDate cellDate = first.addDays((row - 1) * 7 + col - firstCol);
          const QString expected =
              cellDate.month() == first.month() ? QString::number(cellDate.day()) : QString();
          QVERIFY2(grid.CellText(col, row) == expected,
                   qPrintable(QString("%1 col %2 row %3: '%4'")
                                  .arg(first.toString(Qt::ISODate))
                                  .arg(col)
                                  .arg(row)
                                  .arg(grid.CellText(col, row))));
        }
      }
      QCOMPARE(grid.CellText(firstCol, 1), QString("1"));
      // The selected cell is the date's own.
      QCOMPARE(grid.CellText(grid.Col(), grid.Row()), QString("15"));
    }
    QCOMPARE(firstWeekdays.size(), 7);
    for (int col = 0; col < 7; ++col)
      QCOMPARE(grid.CellText(col, 0), RegionalSettings::DayName((startOfWeek + col) % 7 + 1, true));
  }

  void MonthBeginningTheDayBeforeStartOfWeekFillsTheFirstRowsLastCell() {
    TMonthGrid grid;
    grid.SetStartOfWeek(0);
    grid.SetSelectedDate(D(2024, 6, 1));  // a Saturday
    QCOMPARE(grid.CellText(6, 1), QString("1"));
    QCOMPARE(grid.Col(), 6);
    QCOMPARE(grid.Row(), 1);
    grid.SetSelectedDate(D(2024, 6, 30));  // the sixth row is needed
    QCOMPARE(grid.CellText(0, 6), QString("30"));
    QCOMPARE(grid.Row(), 6);
    grid.SetStartOfWeek(1);
    grid.SetSelectedDate(D(2024, 9, 1));  // a Sunday, the day before Monday
    QCOMPARE(grid.CellText(6, 1), QString("1"));
  }

  void MonthAndYearSteps_data() {
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QDate>("to");
    QTest::newRow("31 Jan + month, leap")
        << QDate(2024, 1, 31) << "NextMonth" << QDate(2024, 2, 29);
    QTest::newRow("31 Jan + month") << QDate(2023, 1, 31) << "NextMonth" << QDate(2023, 2, 28);
    QTest::newRow("31 Mar - month, leap")
        << QDate(2024, 3, 31) << "PrevMonth" << QDate(2024, 2, 29);
    QTest::newRow("31 May - month") << QDate(2023, 5, 31) << "PrevMonth" << QDate(2023, 4, 30);
    QTest::newRow("December + month") << QDate(2024, 12, 15) << "NextMonth" << QDate(2025, 1, 15);
    QTest::newRow("January - month") << QDate(2024, 1, 15) << "PrevMonth" << QDate(2023, 12, 15);
    QTest::newRow("29 Feb + year") << QDate(2024, 2, 29) << "NextYear" << QDate(2025, 2, 28);
    QTest::newRow("29 Feb - year") << QDate(2024, 2, 29) << "PrevYear" << QDate(2023, 2, 28);
    QTest::newRow("28 Feb + year") << QDate(2023, 2, 28) << "NextYear" << QDate(2024, 2, 28);
    QTest::newRow("29 Feb 2096 + year") << QDate(2096, 2, 29) << "NextYear" << QDate(2097, 2, 28);
    QTest::newRow("last month") << QDate(9999, 12, 31) << "NextMonth" << QDate(9999, 12, 31);
    QTest::newRow("last year") << QDate(9999, 3, 1) << "NextYear" << QDate(9999, 3, 1);
    QTest::newRow("first month") << QDate(1, 1, 5) << "PrevMonth" << QDate(1, 1, 5);
    QTest::newRow("first year") << QDate(1, 6, 5) << "PrevYear" << QDate(1, 6, 5);
  }
  void MonthAndYearSteps() {
    QFETCH(QDate, from);
    QFETCH(QString, step);
    QFETCH(QDate, to);
    TMonthGrid grid;
    grid.SetSelectedDate(D(from.year(), from.month(), from.day()));
    QSignalSpy changes(&grid, &TMonthGrid::OnChange);
    if (step == "NextMonth") grid.NextMonth();
    if (step == "PrevMonth") grid.PrevMonth();
    if (step == "NextYear") grid.NextYear();
    if (step == "PrevYear") grid.PrevYear();
    QCOMPARE(Q(grid), to);
    QCOMPARE(changes.isEmpty(), from == to);
    QCOMPARE(grid.CellText(grid.Col(), grid.Row()), QString::number(to.day()));
  }

  void DatePartSetters() {
    TMonthGrid grid;
    QVERIFY(grid.UseCurrentDate());
    QCOMPARE(grid.SelectedDate(), DateTimeValue::Today());
    grid.SetSelectedDate(D(2024, 1, 31));
    QSignalSpy changes(&grid, &TMonthGrid::OnChange);

    // Refused: below 1, the same value, a month above 12, a day beyond the month.
    grid.SetDay(0);
    grid.SetDay(31);
    grid.SetDay(32);
    grid.SetMonth(13);
    grid.SetMonth(1);
    grid.SetYear(0);
    grid.SetYear(-5);
    grid.SetYear(10000);
    QCOMPARE(Q(grid), QDate(2024, 1, 31));
    QCOMPARE(changes.count(), 0);
    QVERIFY(grid.UseCurrentDate());

    grid.SetDay(5);
    QCOMPARE(Q(grid), QDate(2024, 1, 5));
    QVERIFY(!grid.UseCurrentDate());
    grid.SetDay(31);
    // A month too short for the day ends on its last day instead of holding no date.
    grid.SetMonth(2);
    QCOMPARE(Q(grid), QDate(2024, 2, 29));
    grid.SetYear(2023);
    QCOMPARE(Q(grid), QDate(2023, 2, 28));
    QCOMPARE(changes.count(), 4);
    QCOMPARE(grid.Day(), 28);
    QCOMPARE(grid.Month(), 2);
    QCOMPARE(grid.Year(), 2023);

    grid.SetUseCurrentDate(true);
    QCOMPARE(grid.SelectedDate(), DateTimeValue::Today());
    QCOMPARE(changes.count(), 5);

    grid.SetSelectedDate(std::nan(""));
    grid.SetSelectedDate(DateTimeValue::kMaxDate + 1);
    QCOMPARE(grid.SelectedDate(), DateTimeValue::Today());
  }

  void OnlyDayCellsCanBeSelected() {
    TMonthGrid grid;
    grid.resize(413, 132);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.SetSelectedDate(D(2024, 2, 10));  // 1 February 2024 is a Thursday: row 1 col 4
    QSignalSpy changes(&grid, &TMonthGrid::OnChange);

    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(0, 1).center());  // empty
    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(3, 0).center());  // heading
    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(6, 5).center());  // after the 29th
    QCOMPARE(Q(grid), QDate(2024, 2, 10));
    QCOMPARE(changes.count(), 0);
    QCOMPARE(grid.CellText(grid.Col(), grid.Row()), QString("10"));

    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(4, 1).center());
    QCOMPARE(Q(grid), QDate(2024, 2, 1));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(grid.Col(), 4);
    QCOMPARE(grid.Row(), 1);

    // Arrow keys move by a day or a week but never onto an empty cell or the heading.
    QTest::keyClick(&grid, Qt::Key_Left);
    QTest::keyClick(&grid, Qt::Key_Up);
    QCOMPARE(Q(grid), QDate(2024, 2, 1));
    QTest::keyClick(&grid, Qt::Key_Right);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(Q(grid), QDate(2024, 2, 9));
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(Q(grid), QDate(2024, 2, 23));
    QTest::keyClick(&grid, Qt::Key_Down);  // 1 March is not in this grid
    QCOMPARE(Q(grid), QDate(2024, 2, 23));
  }

  void ReadOnlyRefusesTheUserButNotTheOwner() {
    TMonthGrid grid;
    grid.resize(413, 132);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.SetSelectedDate(D(2024, 2, 10));
    grid.SetReadOnly(true);
    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(4, 1).center());
    QTest::keyClick(&grid, Qt::Key_Right);
    QVERIFY(!grid.ClickCell(4, 2));
    QCOMPARE(Q(grid), QDate(2024, 2, 10));
    grid.NextMonth();
    QCOMPARE(Q(grid), QDate(2024, 3, 10));
    QCOMPARE(grid.CellText(grid.Col(), grid.Row()), QString("10"));
  }

  void ResizeSharesTheClientAmongSevenCells() {
    TMonthGrid grid;
    grid.SetGridLineWidth(2);
    grid.resize(413, 132);
    const QRect client = grid.contentsRect();
    QCOMPARE(grid.DefaultColWidth(), (client.width() - 12) / 7);
    QCOMPARE(grid.DefaultRowHeight(), (client.height() - 12) / 7);
    const QRect last = grid.CellRect(6, 6);
    QVERIFY(client.contains(last));
    QCOMPARE(last.left(), client.left() + 6 * (grid.DefaultColWidth() + 2));
    int col = -1, row = -1;
    QVERIFY(grid.CellAt(last.center(), &col, &row));
    QCOMPARE(col, 6);
    QCOMPARE(row, 6);
  }
};

QTEST_MAIN(MonthGridTest)
#include "tst_TMonthGrid.moc"
