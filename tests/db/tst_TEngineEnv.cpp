#include <QMetaProperty>
#include <QTest>

#include "db/DateTimeText.h"
#include "db/RegionalSettings.h"
#include "db/TEngineEnv.h"
#include "xbengine.h"

namespace {

// The engine's current settings, read through the setters (each returns the previous value)
// and put straight back.
struct EngineState {
  int exact, century, dateFormat, lockTimeout, memoBlockSize, softSeek, deleted;
  static EngineState Read() {
    EngineState s{};
    s.exact = xb_SetExact(0);
    xb_SetExact(s.exact);
    s.century = xb_SetCentury(0);
    xb_SetCentury(s.century);
    s.dateFormat = xb_SetDateFormat(0);
    xb_SetDateFormat(s.dateFormat);
    s.lockTimeout = xb_SetLockTimeout(1);
    xb_SetLockTimeout(s.lockTimeout);
    s.memoBlockSize = xb_SetMemoBlockSize(64);
    xb_SetMemoBlockSize(s.memoBlockSize);
    s.softSeek = xb_SetSoftSeek(0);
    xb_SetSoftSeek(s.softSeek);
    s.deleted = xb_SetDeleted(0);
    xb_SetDeleted(s.deleted);
    return s;
  }
  bool operator==(const EngineState&) const = default;
};

void ResetEngine() {
  xb_SetExact(0);
  xb_SetCentury(0);
  xb_SetDateFormat(0);
  xb_SetLockTimeout(1);
  xb_SetMemoBlockSize(64);
  xb_SetSoftSeek(0);
  xb_SetDeleted(0);
}

}  // namespace

class tst_TEngineEnv : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    ResetEngine();
    RegionalSettings::UseFixedFormats();
  }
  void cleanupTestCase() {
    ResetEngine();
    RegionalSettings::UseFixedFormats();
  }

  void propertiesInOrderWithDefaults() {
    TEngineEnv env;
    const QMetaObject* mo = env.metaObject();
    QStringList names;
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
      names << QString::fromLatin1(mo->property(i).name());
    QCOMPARE(names, (QStringList{"Exact", "Century", "DateFormat", "LockTimeout", "MemoBlockSize",
                                 "SoftSeek", "Deleted"}));
    QCOMPARE(env.Exact(), false);
    QCOMPARE(env.Century(), false);
    QCOMPARE(env.DateFormat(), TEngineEnv::dfAmerican);
    QCOMPARE(env.LockTimeout(), 1);
    QCOMPARE(env.MemoBlockSize(), 64);
    QCOMPARE(env.SoftSeek(), false);
    QCOMPARE(env.Deleted(), false);
  }

  // A component left at its defaults must not reset what the engine already holds.
  void untouchedComponentCallsNoSetter() {
    xb_SetExact(1);
    xb_SetCentury(1);
    xb_SetDateFormat(5);
    xb_SetLockTimeout(7);
    xb_SetMemoBlockSize(128);
    xb_SetSoftSeek(1);
    xb_SetDeleted(1);
    const EngineState before = EngineState::Read();
    RegionalSettings::SetShortDateFormat(QStringLiteral("yyyy.mm.dd"));
    {
      TEngineEnv env;
      QCOMPARE(env.DateFormat(), TEngineEnv::dfAmerican);
    }
    QVERIFY(EngineState::Read() == before);
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QStringLiteral("yyyy.mm.dd"));
  }

  void settersReachTheEngine() {
    TEngineEnv env;
    env.SetExact(true);
    env.SetLockTimeout(5);
    env.SetMemoBlockSize(512);
    env.SetSoftSeek(true);
    env.SetDeleted(true);
    env.setProperty("DateFormat", QVariant::fromValue(TEngineEnv::dfItalian));
    const EngineState s = EngineState::Read();
    QCOMPARE(s.exact, 1);
    QCOMPARE(s.lockTimeout, 5);
    QCOMPARE(s.memoBlockSize, 512);
    QCOMPARE(s.softSeek, 1);
    QCOMPARE(s.deleted, 1);
    QCOMPARE(s.dateFormat, 5);
    QCOMPARE(env.DateFormat(), TEngineEnv::dfItalian);
    QCOMPARE(env.property("SoftSeek").toBool(), true);

    // The soft-seek switch the main window makes around a search.
    env.SetSoftSeek(false);
    QCOMPARE(EngineState::Read().softSeek, 0);
  }

  void germanWithCentury() {
    TEngineEnv env;
    env.SetCentury(true);
    env.SetDateFormat(TEngineEnv::dfGerman);
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QStringLiteral("dd.mm.yyyy"));
    QCOMPARE(RegionalSettings::InForce().DateSeparator, QStringLiteral("."));
    const EngineState s = EngineState::Read();
    QCOMPARE(s.dateFormat, 4);
    QCOMPARE(s.century, 1);
    // Conversions follow at once.
    QVERIFY(DateTimeText::IsValidDate(QStringLiteral("25.12.2024")));
    QVERIFY(!DateTimeText::IsValidDate(QStringLiteral("12/25/2024")));

    env.SetCentury(false);
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, QStringLiteral("dd.mm.yy"));
    QCOMPARE(EngineState::Read().century, 0);
  }

  void dateFormatTable_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("without");
    QTest::addColumn<QString>("with");
    QTest::newRow("American") << 0 << "/"
                              << "mm/dd/yy"
                              << "mm/dd/yyyy";
    QTest::newRow("Ansi") << 1 << "."
                          << "yy.mm.dd"
                          << "yyyy.mm.dd";
    QTest::newRow("British") << 2 << "/"
                             << "dd/mm/yy"
                             << "dd/mm/yyyy";
    QTest::newRow("French") << 3 << "/"
                            << "dd/mm/yy"
                            << "dd/mm/yyyy";
    QTest::newRow("German") << 4 << "."
                            << "dd.mm.yy"
                            << "dd.mm.yyyy";
    QTest::newRow("Italian") << 5 << "-"
                             << "dd-mm-yy"
                             << "dd-mm-yyyy";
    QTest::newRow("Spanish") << 6 << "-"
                             << "dd-mm-yy"
                             << "dd-mm-yyyy";
  }
  void dateFormatTable() {
    QFETCH(int, format);
    QFETCH(QString, separator);
    QFETCH(QString, without);
    QFETCH(QString, with);
    TEngineEnv env;
    env.SetDateFormat(static_cast<TEngineEnv::TDateFormat>(format));
    QCOMPARE(RegionalSettings::InForce().DateSeparator, separator);
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, without);
    QCOMPARE(EngineState::Read().century, 0);
    env.SetCentury(true);
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, with);
    // Switching the format again keeps the century on.
    env.SetDateFormat(static_cast<TEngineEnv::TDateFormat>(format));
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, with);
    QCOMPARE(EngineState::Read().dateFormat, format);
  }

  void unknownFormatCodeFallsBack() {
    TEngineEnv env;
    env.SetDateFormat(static_cast<TEngineEnv::TDateFormat>(42));
    QCOMPARE(env.DateFormat(), TEngineEnv::dfAmerican);
    QCOMPARE(EngineState::Read().dateFormat, 0);
  }
};

QTEST_GUILESS_MAIN(tst_TEngineEnv)
#include "tst_TEngineEnv.moc"
