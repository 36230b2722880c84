#include <QDate>
#include <QLocale>
#include <QTest>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"

Q_DECLARE_METATYPE(RegionalFormats)

class tst_RegionalSettings : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
    RegionalSettings::UseFixedFormats();
  }
  void cleanupTestCase() { RegionalSettings::UseFixedFormats(); }

  void widening_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("widened");
    QTest::newRow("two y") << "M/d/yy"
                           << "/"
                           << "m/d/yyyy";
    QTest::newRow("four y untouched") << "dd.MM.yyyy"
                                      << "."
                                      << "dd.MM.yyyy";
    QTest::newRow("four upper-case Y untouched") << "DD/MM/YYYY"
                                                 << "/"
                                                 << "DD/MM/YYYY";
    QTest::newRow("three y") << "d/M/yyy"
                             << "/"
                             << "d/m/yyyy";
    QTest::newRow("one y") << "d/M/y"
                           << "/"
                           << "d/m/yyyy";
    QTest::newRow("no y") << "dd.MM"
                          << "."
                          << "dd.mm.yyyy";
    QTest::newRow("year first") << "yy-MM-dd"
                                << "-"
                                << "yyyy-mm-dd";
    QTest::newRow("upper case lowered") << "YY/MM/DD"
                                        << "/"
                                        << "yyyy/mm/dd";
    QTest::newRow("names kept") << "dd MMMM yy"
                                << " "
                                << "dd mmmm yyyy";
    QTest::newRow("dd MMMM yyyy untouched") << "dd MMMM yyyy"
                                            << " "
                                            << "dd MMMM yyyy";
  }
  void widening() {
    QFETCH(QString, format);
    QFETCH(QString, separator);
    QFETCH(QString, widened);
    QCOMPARE(RegionalSettings::WidenShortDateFormat(format, separator), widened);
  }

  void qtFormats_data() {
    QTest::addColumn<QString>("qt");
    QTest::addColumn<QString>("program");
    QTest::newRow("US short date") << "M/d/yy"
                                   << "M/d/yy";
    QTest::newRow("month names") << "d MMM yyyy"
                                 << "d MMM yyyy";
    QTest::newRow("long date") << "dddd, MMMM d, yyyy"
                               << "dddd, MMMM d, yyyy";
    QTest::newRow("12-hour time") << "h:mm AP"
                                  << "h:nn ampm";
    QTest::newRow("24-hour time, zone dropped") << "HH:mm:ss t"
                                                << "hh:nn:ss";
    QTest::newRow("lower-case designator") << "hh:mm ap"
                                           << "hh:nn ampm";
    QTest::newRow("designator first") << "AP h:mm"
                                      << "ampm h:nn";
    QTest::newRow("milliseconds") << "HH:mm:ss.zzz"
                                  << "hh:nn:ss.zzz";
    QTest::newRow("quoted words") << "d 'de' MMMM 'de' yyyy"
                                  << "d \"de\" MMMM \"de\" yyyy";
    QTest::newRow("escaped quote") << "h 'o''clock'"
                                   << "h \"o'clock\"";
    QTest::newRow("lone escaped quote") << "H''mm"
                                        << "h\"'\"nn";
    QTest::newRow("double quote literal") << "d\"M"
                                          << "d'\"'M";
    QTest::newRow("letters without meaning quoted") << "d x M"
                                                    << "d \"x\" M";
    QTest::newRow("non-Latin letters kept") << "yyyy\ub144 M\uc6d4 d\uc77c"
                                            << "yyyy\ub144 M\uc6d4 d\uc77c";
  }
  void qtFormats() {
    QFETCH(QString, qt);
    QFETCH(QString, program);
    QCOMPARE(RegionalSettings::FromQtFormat(qt), program);
  }

  void separators_data() {
    QTest::addColumn<QString>("qt");
    QTest::addColumn<QString>("letters");
    QTest::addColumn<QString>("separator");
    QTest::newRow("slash") << "M/d/yy"
                           << "dMy"
                           << "/";
    QTest::newRow("dot and blank") << "yy. M. d."
                                   << "dMy"
                                   << ".";
    QTest::newRow("blank only") << "d MMM yyyy"
                                << "dMy"
                                << " ";
    QTest::newRow("none") << "yyyyMMdd"
                          << "dMy"
                          << "?";
    QTest::newRow("quoted text is no separator") << "d'x'M-yyyy"
                                                 << "dMy"
                                                 << "-";
    QTest::newRow("time after designator") << "AP h:mm"
                                           << "hHms"
                                           << ":";
    QTest::newRow("dotted time") << "H.mm"
                                 << "hHms"
                                 << ".";
  }
  void separators() {
    QFETCH(QString, qt);
    QFETCH(QString, letters);
    QFETCH(QString, separator);
    QCOMPARE(RegionalSettings::SeparatorOf(qt, letters, QStringLiteral("?")), separator);
  }

  void savedFromLocale_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<RegionalFormats>("user");
    QTest::addColumn<QString>("shortTime");
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                           << RegionalFormats{"m/d/yyyy", "/", ":", "AM", "PM"} << "h:nn ampm";
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany)
                           << RegionalFormats{"dd.mm.yyyy", ".", ":", "AM", "PM"} << "hh:nn";
    QTest::newRow("sv_SE") << QLocale(QLocale::Swedish, QLocale::Sweden)
                           << RegionalFormats{"yyyy-MM-dd", "-", ":", "fm", "em"} << "hh:nn";
    QTest::newRow("fi_FI") << QLocale(QLocale::Finnish, QLocale::Finland)
                           << RegionalFormats{"d.M.yyyy", ".", ".", "ap.", "ip."} << "h.nn";
  }
  void savedFromLocale() {
    QFETCH(QLocale, locale);
    QFETCH(RegionalFormats, user);
    QFETCH(QString, shortTime);
    RegionalSettings::SaveUserFormats(locale);
    const RegionalFormats& saved = RegionalSettings::UserFormats();
    QCOMPARE(saved.ShortDateFormat, user.ShortDateFormat);
    QCOMPARE(saved.DateSeparator, user.DateSeparator);
    QCOMPARE(saved.TimeSeparator, user.TimeSeparator);
    QCOMPARE(saved.AmText, user.AmText);
    QCOMPARE(saved.PmText, user.PmText);
    QCOMPARE(RegionalSettings::ShortTimeFormat(), shortTime);
    // Saving changes nothing in force.
    QVERIFY(RegionalSettings::InForce() == RegionalFormats::Fixed());
  }

  // The fixed set and the user set take turns; conversions follow whichever is in force.
  void takingTurns() {
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd.MM.yy", ".", ":", "vorm.", "nachm."});
    QCOMPARE(RegionalSettings::UserFormats().ShortDateFormat, QStringLiteral("dd.mm.yyyy"));

    QVERIFY(DateTimeText::IsValidDate(QStringLiteral("03/05/2024")));
    QVERIFY(!DateTimeText::IsValidDate(QStringLiteral("25.12.2024")));
    QVERIFY(!DateTimeText::IsValidTime(QStringLiteral("2:05 nachm.")));

    RegionalSettings::UseUserFormats();
    QVERIFY(DateTimeText::IsValidDate(QStringLiteral("25.12.2024")));
    QVERIFY(!DateTimeText::IsValidDate(QStringLiteral("03/05/2024")));
    QVERIFY(DateTimeText::IsValidTime(QStringLiteral("2:05 nachm.")));
    const double date = DateTimeText::StrToDate(QStringLiteral("5.3.24"));
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date),
             QStringLiteral("05.03.%1").arg(QDate::currentDate().year() / 100 * 100 + 24));

    RegionalSettings::UseFixedFormats();
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date),
             QStringLiteral("03/05/%1").arg(QDate::currentDate().year() / 100 * 100 + 24));
  }

  // A narrowed user pattern takes effect at the next switch, and the saved one can be put back.
  void narrowedUserPattern() {
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd MMMM yyyy", " ", ":", "AM", "PM"});
    const QString saved = RegionalSettings::UserFormats().ShortDateFormat;
    RegionalSettings::SetUserShortDateFormat(QStringLiteral("dd MM yyyy"));
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QStringLiteral("mm/dd/yyyy"));
    RegionalSettings::UseUserFormats();
    const double d = DateTimeValue::EncodeDate(2024, 3, 5);
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), d),
             QStringLiteral("05 03 2024"));
    QCOMPARE(DateTimeText::StrToDate(QStringLiteral("05 03 2024")), d);
    RegionalSettings::SetUserShortDateFormat(saved);
    RegionalSettings::UseUserFormats();
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), d),
             QStringLiteral("05 March 2024"));
  }

  void namesAndOtherFormatsNeverSwitch() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::German, QLocale::Germany));
    const double d = DateTimeValue::Compose(DateTimeValue::EncodeDate(2024, 3, 5),
                                            DateTimeValue::EncodeTime(14, 5));
    RegionalSettings::UseUserFormats();
    const QString underUser = DateTimeText::FormatDateTime(QStringLiteral("dddddd t"), d);
    RegionalSettings::UseFixedFormats();
    QCOMPARE(DateTimeText::FormatDateTime(QStringLiteral("dddddd t"), d), underUser);
    QCOMPARE(underUser, QStringLiteral("Dienstag, 5. M\u00e4rz 2024 14:05"));
  }
};

QTEST_GUILESS_MAIN(tst_RegionalSettings)
#include "tst_RegionalSettings.moc"
