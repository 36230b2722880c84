// The task file's date and time forms, the regional-format scopes and the clock.

#include <QTest>
#include <stdexcept>

#include "db/Clock.h"
#include "db/DateTimeValue.h"
#include "db/RegionalFormats.h"
#include "db/RegionalSettings.h"
#include "db/StoredDateTime.h"

class StoredDateTimeTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd.mm.yyyy", ".", ":", "AM", "PM"});
  }
  void init() { RegionalSettings::UseFixedFormats(); }

  void storedDates_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "20240305" << true << DateTimeValue::EncodeDate(2024, 3, 5);
    QTest::newRow("leap day") << "20240229" << true << DateTimeValue::EncodeDate(2024, 2, 29);
    QTest::newRow("no leap day") << "20230229" << false << 0.0;
    QTest::newRow("month 13") << "20241301" << false << 0.0;
    QTest::newRow("seven characters") << "2024030" << false << 0.0;
    QTest::newRow("nine characters") << "202403051" << false << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
  }
  void storedDates() {
    QFETCH(QString, stored);
    QFETCH(bool, valid);
    QFETCH(double, value);
    // Whatever formats are in force: the stored form does not follow the user.
    for (auto set : {FormatsScope::Set::Fixed, FormatsScope::Set::User}) {
      FormatsScope scope(set);
      double read = -1;
      QCOMPARE(StoredDateTime::ParseDate(stored, read), valid);
      QCOMPARE(read, valid ? value : -1.0);
      if (valid) QCOMPARE(StoredDateTime::Date(value), stored);
    }
  }

  void storedTimes() {
    FormatsScope user(FormatsScope::Set::User);
    double value = -1;
    QVERIFY(StoredDateTime::ParseTime("09:05", value));
    QCOMPARE(StoredDateTime::Time(value), QString("09:05"));
    QCOMPARE(StoredDateTime::Time(DateTimeValue::EncodeDate(2024, 3, 5) + DateTimeValue::EncodeTime(23, 59, 30)),
             QString("23:59"));
    value = -1;
    QVERIFY(!StoredDateTime::ParseTime("", value));
    QVERIFY(!StoredDateTime::ParseTime("25:00", value));
    QCOMPARE(value, -1.0);
  }

  // Scopes put back what was in force before, also when left by an exception, and nest.
  void formatsScopesRestore() {
    const QString fixed = RegionalFormats::Fixed().ShortDateFormat;
    try {
      FormatsScope user(FormatsScope::Set::User);
      QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QString("dd.mm.yyyy"));
      {
        FormatsScope inner(FormatsScope::Set::Fixed);
        QCOMPARE(RegionalSettings::InForce().ShortDateFormat, fixed);
      }
      QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QString("dd.mm.yyyy"));
      throw std::runtime_error("between the halves");
    } catch (const std::runtime_error&) {
    }
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, fixed);

    try {
      UserShortDateScope narrowed("dd.mm.yy");
      QCOMPARE(RegionalSettings::UserFormats().ShortDateFormat, QString("dd.mm.yy"));
      throw std::runtime_error("while narrowed");
    } catch (const std::runtime_error&) {
    }
    QCOMPARE(RegionalSettings::UserFormats().ShortDateFormat, QString("dd.mm.yyyy"));
  }

  void clock() {
    const double moment = DateTimeValue::EncodeDate(2024, 3, 5) + DateTimeValue::EncodeTime(18, 0, 0);
    const Clock fixed = [moment] { return moment; };
    QCOMPARE(fixed.Now(), moment);
    QCOMPARE(fixed.Today(), DateTimeValue::EncodeDate(2024, 3, 5));
    QCOMPARE(fixed.TimeOfDay(), DateTimeValue::EncodeTime(18, 0, 0));
    const Clock system;
    const double before = DateTimeValue::Now();
    const double now = system.Now();
    QVERIFY(now >= before && now <= DateTimeValue::Now());
  }
};

QTEST_MAIN(StoredDateTimeTest)
#include "tst_StoredDateTime.moc"
