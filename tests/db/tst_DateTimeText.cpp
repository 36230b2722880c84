#include <QDate>
#include <QLocale>
#include <QTest>
#include <cmath>
#include <limits>

#include "db/DateTimeConvertError.h"
#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"

namespace {

// In the date tables a year of -1 stands for the current year and 0..99 for that year of the
// current century, both computed when the test runs.
int CurrentYear() {
  return QDate::currentDate().year();
}
int Century() {
  return CurrentYear() / 100 * 100;
}

RegionalFormats Formats(const QString& shortDate, const QString& dateSep,
                        const QString& timeSep = QStringLiteral(":"),
                        const QString& am = QStringLiteral("AM"),
                        const QString& pm = QStringLiteral("PM")) {
  return RegionalFormats{shortDate, dateSep, timeSep, am, pm};
}

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return DateTimeValue::Compose(DateTimeValue::EncodeDate(y, mo, d),
                                DateTimeValue::EncodeTime(h, mi, s, ms));
}

}  // namespace

class tst_DateTimeText : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
    RegionalSettings::UseFixedFormats();
  }
  void cleanup() { RegionalSettings::UseFixedFormats(); }

  // ---- values ----
  void knownDayNumbers() {
    QCOMPARE(DateTimeValue::EncodeDate(1899, 12, 30), 0.0);
    QCOMPARE(DateTimeValue::EncodeDate(1900, 1, 1), 2.0);
    QCOMPARE(DateTimeValue::EncodeDate(2024, 3, 5), 45356.0);
    QCOMPARE(DateTimeValue::EncodeDate(1, 1, 1), DateTimeValue::kMinDate);
    QCOMPARE(DateTimeValue::EncodeDate(9999, 12, 31), DateTimeValue::kMaxDate);
    QCOMPARE(DateTimeValue::DayOfWeek(0.0), 7);  // a Saturday
    QCOMPARE(DateTimeValue::DayOfWeek(45356.75), 3);
  }

  // Every day of the calendar against Qt's own, both ways, with the weekday.
  void everyDayAgainstQDate() {
    const QDate epoch(1899, 12, 30);
    for (qint64 n = static_cast<qint64>(DateTimeValue::kMinDate);
         n <= static_cast<qint64>(DateTimeValue::kMaxDate); ++n) {
      const QDate q = epoch.addDays(n);
      int y = 0, m = 0, d = 0;
      DateTimeValue::DecodeDate(static_cast<double>(n), y, m, d);
      if (y != q.year() || m != q.month() || d != q.day() ||
          DateTimeValue::EncodeDate(y, m, d) != static_cast<double>(n) ||
          DateTimeValue::DayOfWeek(static_cast<double>(n)) != q.dayOfWeek() % 7 + 1)
        QFAIL(qPrintable(QStringLiteral("day %1: %2-%3-%4, expected %5")
                             .arg(n)
                             .arg(y)
                             .arg(m)
                             .arg(d)
                             .arg(q.toString(Qt::ISODate))));
    }
  }

  void timesAndNegativeDays() {
    int h = 0, mi = 0, s = 0, ms = 0, y = 0, mo = 0, d = 0;
    DateTimeValue::DecodeTime(-1.25, h, mi, s, ms);
    DateTimeValue::DecodeDate(-1.25, y, mo, d);
    QCOMPARE(QDate(y, mo, d), QDate(1899, 12, 29));
    QCOMPARE(QTime(h, mi, s, ms), QTime(6, 0));
    QCOMPARE(At(1899, 12, 29, 6), -1.25);

    // Within half a millisecond of midnight belongs to the next day, on both sides of 1899.
    DateTimeValue::DecodeDate(45356.9999999999, y, mo, d);
    DateTimeValue::DecodeTime(45356.9999999999, h, mi, s, ms);
    QCOMPARE(QDate(y, mo, d), QDate(2024, 3, 6));
    QCOMPARE(h + mi + s + ms, 0);
    DateTimeValue::DecodeDate(-1.9999999999, y, mo, d);
    QCOMPARE(QDate(y, mo, d), QDate(1899, 12, 28));

    DateTimeValue::DecodeTime(DateTimeValue::EncodeTime(23, 59, 59, 999), h, mi, s, ms);
    QCOMPARE(QTime(h, mi, s, ms), QTime(23, 59, 59, 999));
  }

  void refusedParts() {
    double v = 0;
    QVERIFY(!DateTimeValue::TryEncodeDate(2023, 2, 29, v));
    QVERIFY(!DateTimeValue::TryEncodeDate(1900, 2, 29, v));
    QVERIFY(DateTimeValue::TryEncodeDate(2000, 2, 29, v));
    QVERIFY(!DateTimeValue::TryEncodeDate(0, 1, 1, v));
    QVERIFY(!DateTimeValue::TryEncodeDate(10000, 1, 1, v));
    QVERIFY(!DateTimeValue::TryEncodeDate(2024, 13, 1, v));
    QVERIFY(!DateTimeValue::TryEncodeTime(24, 0, 0, 0, v));
    QVERIFY(!DateTimeValue::TryEncodeTime(0, 60, 0, 0, v));
    QVERIFY(!DateTimeValue::TryEncodeTime(0, 0, 0, 1000, v));
    QVERIFY_THROWS_EXCEPTION(DateTimeConvertError, DateTimeValue::EncodeDate(2024, 2, 30));
    int y = 0, m = 0, d = 0;
    QVERIFY_THROWS_EXCEPTION(
        DateTimeConvertError,
        DateTimeValue::DecodeDate(std::numeric_limits<double>::quiet_NaN(), y, m, d));
    QVERIFY_THROWS_EXCEPTION(DateTimeConvertError, DateTimeValue::DecodeDate(1e12, y, m, d));
  }

  // ---- text to date ----
  void strToDate_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");

    const QString us = QStringLiteral("M/d/yyyy"), slash = QStringLiteral("/");
    QTest::newRow("US two numbers") << us << slash << "12/25" << true << -1 << 12 << 25;
    QTest::newRow("US two-digit year") << us << slash << "1/2/26" << true << 26 << 1 << 2;
    QTest::newRow("US full") << us << slash << "01/02/2026" << true << 2026 << 1 << 2;
    QTest::newRow("US blanks around")
        << us << slash << "   1 / 2 / 2026  " << true << 2026 << 1 << 2;
    QTest::newRow("US trailing separator") << us << slash << "1/2/2026/" << true << 2026 << 1 << 2;
    QTest::newRow("US separator without third number")
        << us << slash << "1/2/" << false << 0 << 0 << 0;
    QTest::newRow("US two trailing separators")
        << us << slash << "1/2/2026//" << false << 0 << 0 << 0;
    QTest::newRow("US trailing letters") << us << slash << "1/2/2026x" << false << 0 << 0 << 0;
    QTest::newRow("US letters after two numbers")
        << us << slash << "12/25abc" << false << 0 << 0 << 0;
    QTest::newRow("US five-digit year") << us << slash << "1/2/20261" << false << 0 << 0 << 0;
    QTest::newRow("US fifth digit left unread")
        << us << slash << "10001/2/2026" << false << 0 << 0 << 0;
    QTest::newRow("US leading zeros keep reading")
        << us << slash << "00001/2/2026" << true << 2026 << 1 << 2;
    QTest::newRow("US leading zeros in year") << us << slash << "1/2/0099" << true << 99 << 1 << 2;
    QTest::newRow("US year 100 as it is") << us << slash << "1/2/0100" << true << 100 << 1 << 2;
    QTest::newRow("US year 0") << us << slash << "1/2/0" << true << 0 << 1 << 2;
    QTest::newRow("US February 30") << us << slash << "2/30/2024" << false << 0 << 0 << 0;
    QTest::newRow("US month 13") << us << slash << "13/1/2024" << false << 0 << 0 << 0;
    QTest::newRow("US day 0") << us << slash << "1/0/2024" << false << 0 << 0 << 0;
    QTest::newRow("US leap day") << us << slash << "2/29/2024" << true << 2024 << 2 << 29;
    QTest::newRow("US no leap day 2023") << us << slash << "2/29/2023" << false << 0 << 0 << 0;
    QTest::newRow("US no leap day 1900") << us << slash << "2/29/1900" << false << 0 << 0 << 0;
    QTest::newRow("US leap day 2000") << us << slash << "2/29/2000" << true << 2000 << 2 << 29;
    QTest::newRow("US last day") << us << slash << "12/31/9999" << true << 9999 << 12 << 31;
    QTest::newRow("US empty") << us << slash << "" << false << 0 << 0 << 0;
    QTest::newRow("US blanks only") << us << slash << "   " << false << 0 << 0 << 0;
    QTest::newRow("US one number") << us << slash << "12" << false << 0 << 0 << 0;
    QTest::newRow("US leading separator") << us << slash << "/12/25" << false << 0 << 0 << 0;
    QTest::newRow("US wrong separator") << us << slash << "12.25" << false << 0 << 0 << 0;
    QTest::newRow("US minus sign") << us << slash << "-1/2/2026" << false << 0 << 0 << 0;

    const QString de = QStringLiteral("dd.MM.yyyy"), dot = QStringLiteral(".");
    QTest::newRow("DE two numbers") << de << dot << "25.12" << true << -1 << 12 << 25;
    QTest::newRow("DE full") << de << dot << "5.3.2024" << true << 2024 << 3 << 5;
    QTest::newRow("DE two-digit year") << de << dot << "25.12.24" << true << 24 << 12 << 25;
    QTest::newRow("DE slash refused") << de << dot << "12/25" << false << 0 << 0 << 0;
    QTest::newRow("DE April 31") << de << dot << "31.04.2024" << false << 0 << 0 << 0;
    QTest::newRow("DE month first refused") << de << dot << "12.25.2024" << false << 0 << 0 << 0;
    QTest::newRow("d.M.yyyy two numbers") << "d.M.yyyy" << dot << "25.12" << true << -1 << 12 << 25;
    QTest::newRow("d.M.yyyy slash refused") << "d.M.yyyy" << dot << "12/25" << false << 0 << 0 << 0;

    const QString iso = QStringLiteral("yyyy-MM-dd"), dash = QStringLiteral("-");
    QTest::newRow("ISO full") << iso << dash << "2024-03-05" << true << 2024 << 3 << 5;
    QTest::newRow("ISO two numbers are month-day")
        << iso << dash << "03-05" << true << -1 << 3 << 5;
    QTest::newRow("ISO two-digit year") << iso << dash << "24-3-5" << true << 24 << 3 << 5;
    QTest::newRow("ISO day-first refused") << iso << dash << "05-03-2024" << false << 0 << 0 << 0;

    const QString longish = QStringLiteral("dd MMMM yyyy"), blank = QStringLiteral(" ");
    QTest::newRow("blank separator") << longish << blank << "05 03 2024" << true << 2024 << 3 << 5;
    QTest::newRow("blank separator, more blanks")
        << longish << blank << " 5   3  2024 " << true << 2024 << 3 << 5;
    QTest::newRow("blank separator two numbers")
        << longish << blank << "5 3" << true << -1 << 3 << 5;
    QTest::newRow("month names are not read")
        << longish << blank << "05 March 2024" << false << 0 << 0 << 0;

    QTest::newRow("fixed settings")
        << "mm/dd/yyyy" << slash << "03/05/2024" << true << 2024 << 3 << 5;
    QTest::newRow("no order letter: month first")
        << "" << slash << "03/05/2024" << true << 2024 << 3 << 5;
    QTest::newRow("quoted letters do not decide the order")
        << "'y' dd/MM/yyyy" << slash << "03/05/2024" << true << 2024 << 5 << 3;
  }

  void strToDate() {
    QFETCH(QString, format);
    QFETCH(QString, separator);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    RegionalSettings::PutInForce(Formats(format, separator));

    double value = -1;
    QCOMPARE(DateTimeText::TryStrToDate(text, value), valid);
    QCOMPARE(DateTimeText::IsValidDate(text), valid);
    if (!valid) {
      QCOMPARE(value, -1.0);
      QVERIFY_THROWS_EXCEPTION(DateTimeConvertError, DateTimeText::StrToDate(text));
      return;
    }
    if (year == -1)
      year = CurrentYear();
    else if (year < 100)
      year += Century();
    QCOMPARE(value, DateTimeValue::EncodeDate(year, month, day));
    QCOMPARE(DateTimeText::StrToDate(text), value);
  }

  // What the user typed comes back in the full short date format once it is read.
  void rewrittenInShortFormat() {
    RegionalSettings::PutInForce(Formats(QStringLiteral("m/d/yyyy"), QStringLiteral("/")));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"),
                                          DateTimeText::StrToDate(QStringLiteral("12/25"))),
             QStringLiteral("12/25/%1").arg(CurrentYear()));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"),
                                          DateTimeText::StrToDate(QStringLiteral("1/2/26"))),
             QStringLiteral("1/2/%1").arg(Century() + 26));
  }

  // Writing a date in a numeric short date format and reading it back gives the same date.
  void shortFormatRoundTrip_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("separator");
    QTest::newRow("M/d/yyyy") << "M/d/yyyy"
                              << "/";
    QTest::newRow("dd.MM.yyyy") << "dd.MM.yyyy"
                                << ".";
    QTest::newRow("yyyy-MM-dd") << "yyyy-MM-dd"
                                << "-";
    QTest::newRow("dd MM yyyy (narrowed dd MMMM yyyy)") << "dd MM yyyy"
                                                        << " ";
    QTest::newRow("yy. M. d.") << "yy. M. d."
                               << ".";
  }
  void shortFormatRoundTrip() {
    QFETCH(QString, format);
    QFETCH(QString, separator);
    RegionalSettings::PutInForce(Formats(format, separator));
    // Two-digit years read back into the current century only, so the days lie there.
    const double start = DateTimeValue::EncodeDate(Century() + 1, 1, 1);
    for (double day = start; day < start + 366 * 8; day += 1) {
      const QString text = DateTimeText::FormatDateTime(QStringLiteral("ddddd"), day);
      double back = 0;
      if (!DateTimeText::TryStrToDate(text, back) || back != day)
        QFAIL(qPrintable(QStringLiteral("%1 did not read back").arg(text)));
    }
  }

  // ---- text to time ----
  void strToTime_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("second");
    QTest::newRow("short minutes with pm") << "2:5 pm" << true << 14 << 5 << 0;
    QTest::newRow("0 with AM") << "0:30 AM" << false << 0 << 0 << 0;
    QTest::newRow("13 with PM") << "13:00 PM" << false << 0 << 0 << 0;
    QTest::newRow("12:15 AM") << "12:15 AM" << true << 0 << 15 << 0;
    QTest::newRow("12 am") << "12 am" << true << 0 << 0 << 0;
    QTest::newRow("12 PM") << "12 PM" << true << 12 << 0 << 0;
    QTest::newRow("11:59:59 pM") << "11:59:59 pM" << true << 23 << 59 << 59;
    QTest::newRow("designator without blank") << "2:05pm" << true << 14 << 5 << 0;
    QTest::newRow("hour only") << "14" << true << 14 << 0 << 0;
    QTest::newRow("seconds") << "7:30:45" << true << 7 << 30 << 45;
    QTest::newRow("blanks around") << "  9 : 05  " << true << 9 << 5 << 0;
    QTest::newRow("24:00") << "24:00" << false << 0 << 0 << 0;
    QTest::newRow("9:60") << "9:60" << false << 0 << 0 << 0;
    QTest::newRow("second 60") << "1:02:60" << false << 0 << 0 << 0;
    QTest::newRow("text after the time") << "2:05 tea" << false << 0 << 0 << 0;
    QTest::newRow("letters after designator") << "2:05 PMx" << false << 0 << 0 << 0;
    QTest::newRow("designator first") << "PM 2:05" << false << 0 << 0 << 0;
    QTest::newRow("separator without minutes") << "9:" << false << 0 << 0 << 0;
    QTest::newRow("separator without seconds") << "9:05:" << false << 0 << 0 << 0;
    QTest::newRow("four digits are one number") << "0930" << false << 0 << 0 << 0;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0;
    QTest::newRow("two designators") << "2:05 AM PM" << false << 0 << 0 << 0;
  }

  void strToTime() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, second);
    RegionalSettings::UseFixedFormats();
    double value = -1;
    QCOMPARE(DateTimeText::TryStrToTime(text, value), valid);
    QCOMPARE(DateTimeText::IsValidTime(text), valid);
    if (!valid) {
      QVERIFY_THROWS_EXCEPTION(DateTimeConvertError, DateTimeText::StrToTime(text));
      return;
    }
    QCOMPARE(value, DateTimeValue::EncodeTime(hour, minute, second));
  }

  // The user's own designators and separator; AM and PM are always understood as well.
  void strToTimeUserTexts() {
    RegionalSettings::PutInForce(Formats(QStringLiteral("yyyy-MM-dd"), QStringLiteral("-"),
                                         QStringLiteral("."), QStringLiteral("fm"),
                                         QStringLiteral("em")));
    double v = 0;
    QVERIFY(DateTimeText::TryStrToTime(QStringLiteral("2.05 em"), v));
    QCOMPARE(v, DateTimeValue::EncodeTime(14, 5));
    QVERIFY(DateTimeText::TryStrToTime(QStringLiteral("2.05 EM"), v));
    QVERIFY(DateTimeText::TryStrToTime(QStringLiteral("2.05 PM"), v));
    QCOMPARE(v, DateTimeValue::EncodeTime(14, 5));
    QVERIFY(DateTimeText::TryStrToTime(QStringLiteral("12 FM"), v));
    QCOMPARE(v, 0.0);
    QVERIFY(!DateTimeText::TryStrToTime(QStringLiteral("2:05"), v));

    // Empty designators in force must not match every text.
    RegionalSettings::PutInForce(Formats(QStringLiteral("dd.MM.yyyy"), QStringLiteral("."),
                                         QStringLiteral(":"), QString(), QString()));
    QVERIFY(DateTimeText::TryStrToTime(QStringLiteral("14:05"), v));
    QCOMPARE(v, DateTimeValue::EncodeTime(14, 5));
    QVERIFY(!DateTimeText::TryStrToTime(QStringLiteral("13:05 PM"), v));
  }

  // ---- formatting ----
  void format_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    const double tue = At(2024, 3, 5, 14, 5, 9, 7);
    QTest::newRow("stored date") << "yyyymmdd" << tue << "20240305";
    QTest::newRow("fixed date") << "mm/dd/yyyy" << tue << "03/05/2024";
    QTest::newRow("grid date") << "dd mmm yyyy" << tue << "05 Mar 2024";
    QTest::newRow("report date") << "dd mmm, yyyy (ddd)" << tue << "05 Mar, 2024 (Tue)";
    QTest::newRow("weekday") << "dddd" << tue << "Tuesday";
    QTest::newRow("short date in force") << "ddddd" << tue << "03/05/2024";
    QTest::newRow("long date") << "dddddd" << tue << "Tuesday, March 5, 2024";
    QTest::newRow("short time") << "t" << tue << "2:05 PM";
    QTest::newRow("long time") << "tt" << tue << "2:05:09 PM";
    QTest::newRow("stored time") << "hh:nn" << tue << "14:05";
    QTest::newRow("grid time") << " hh:mmam/pm" << tue << " 02:05pm";
    QTest::newRow("dialog caption time") << "hh:mm am/pm" << tue << "02:05 pm";
    QTest::newRow("report time") << "hh:nn am/pm" << tue << "02:05 pm";
    QTest::newRow("midnight 12-hour") << "hh:mm am/pm" << At(2024, 3, 5) << "12:00 am";
    QTest::newRow("noon 12-hour") << "h:mm AM/PM" << At(2024, 3, 5, 12) << "12:00 PM";
    QTest::newRow("a/p") << "h a/p" << tue << "2 p";
    QTest::newRow("A/P morning") << "h A/P" << At(2024, 3, 5, 9) << "9 A";
    QTest::newRow("ampm uses text in force") << "h ampm" << tue << "2 PM";
    QTest::newRow("marker before the hour") << "ampm h:nn" << tue << "PM 2:05";
    QTest::newRow("24-hour without marker") << "h:n:s.z" << tue << "14:5:9.7";
    QTest::newRow("milliseconds") << "hh:nn:ss.zzz" << tue << "14:05:09.007";
    QTest::newRow("upper-case letters") << "HH:MM DD/MM/YYYY" << tue << "14:05 05/03/2024";
    QTest::newRow("short month and year") << "m/d/yy" << tue << "3/5/24";
    QTest::newRow("one y is two digits") << "y" << tue << "24";
    QTest::newRow("three y are four digits") << "yyy" << tue << "2024";
    QTest::newRow("full month") << "mmmm" << tue << "March";
    QTest::newRow("quoted literals") << "'hh' \"mm\" dd" << tue << "hh mm 05";
    QTest::newRow("unclosed quote") << "dd 'abc" << tue << "05 abc";
    QTest::newRow("other letters copied") << "x q" << tue << "x q";
    QTest::newRow("a that is no marker") << "h a" << tue << "14 a";
    QTest::newRow("lone quote") << "'" << tue << "";
    QTest::newRow("empty pattern") << "" << tue << "";
    QTest::newRow("c with time") << "c" << tue << "03/05/2024 2:05:09 PM";
    QTest::newRow("c at midnight") << "c" << At(2024, 3, 5) << "03/05/2024";
    QTest::newRow("year 1") << "yyyy-mm-dd" << At(1, 1, 1) << "0001-01-01";
    QTest::newRow("before 1899") << "yyyy-mm-dd hh:nn" << At(1850, 7, 4, 18, 30)
                                 << "1850-07-04 18:30";
  }

  void format() {
    QFETCH(QString, pattern);
    QFETCH(double, value);
    QFETCH(QString, expected);
    RegionalSettings::UseFixedFormats();
    QCOMPARE(DateTimeText::FormatDateTime(pattern, value), expected);
  }

  void separatorsInForce() {
    const double tue = At(2024, 3, 5, 14, 5);
    const RegionalFormats fi =
        Formats(QStringLiteral("d.m.yyyy"), QStringLiteral("."), QStringLiteral("."),
                QStringLiteral("ap."), QStringLiteral("ip."));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("mm/dd/yyyy hh:nn"), tue, fi),
             QStringLiteral("03.05.2024 14.05"));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd h ampm"), tue, fi),
             QStringLiteral("5.3.2024 2 ip."));
    // The stored form has no separators and so never depends on the settings.
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("yyyymmdd"), tue, fi),
             QStringLiteral("20240305"));
  }

  void selfNamingFormatEnds() {
    const RegionalFormats loop = Formats(QStringLiteral("ddddd"), QStringLiteral("/"));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd|"), 0.0, loop),
             QStringLiteral("|"));
  }

  void namesFromLocale() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::German, QLocale::Germany));
    const QString day =
        DateTimeText::FormatDateTime(QStringLiteral("dddd d. mmmm"), At(2024, 3, 3));
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(day, QStringLiteral("Sonntag 3. M\u00e4rz"));
  }

  void invalidValuesAreReported() {
    QVERIFY_THROWS_EXCEPTION(DateTimeConvertError,
                             DateTimeText::FormatDateTime(QStringLiteral("yyyy"),
                                                          std::numeric_limits<double>::infinity()));
    QVERIFY_THROWS_EXCEPTION(DateTimeConvertError,
                             DateTimeText::FormatDateTime(QStringLiteral("yyyy"), -700000.0));
  }
};

QTEST_GUILESS_MAIN(tst_DateTimeText)
#include "tst_DateTimeText.moc"
