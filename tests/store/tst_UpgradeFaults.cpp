// The upgrade of an old task table (no PRIORITY) with the first, second, ... n-th file write,
// growth, sync or rename failing, until it runs to its end. After each run: an upgrade that
// reported success left the new table with every old task once, note and all; one that
// reported failure left the old table back in place with every task; and the check passes.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "db/TaskFileNames.h"
#include "FaultInjection.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "xbengine.h"

namespace {

class Quiet : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown << text; }
  bool YesNo(const QString&, const QString&) override { return true; }
  QStringList shown;
};

constexpr int kOldTasks = 25;

QString NoteOf(int i) { return QStringLiteral("old note %1\r\nsecond line").arg(i) + QString(i * 7 % 50, QLatin1Char('x')) + QLatin1Char('.'); }

// The note as a table holds it: the upgrade carries a note whose length is a multiple of four
// with one blank more at its end, as the old program did.
QString Stored(int i, bool upgraded) {
  const QString note = NoteOf(i);
  return upgraded && note.size() % 4 == 0 ? note + QLatin1Char(' ') : note;
}

// Writes an old-layout table with the engine itself, under the name earlier versions gave it.
bool MakeOldTable(const QString& dir) {
  const QByteArray path = QFile::encodeName(dir + "/LWISE.DBF");
  if (xb_CreateNew(path.constData(), "OLD", 2, 6) == 0) return false;
  const char* fields[6][2] = {{"DATE", "C"}, {"TIME", "C"}, {"DESCRIPT", "C"}, {"NOTE", "M"}, {"DONE", "L"}, {"KEYS", "C"}};
  const int widths[6] = {8, 5, 50, 10, 1, 60};
  for (int i = 0; i < 6; ++i) xb_CreateField(fields[i][0], fields[i][1], widths[i], 0);
  if (xb_CreateExec() == 0) return false;
  xb_Close(0);
  const int area = xb_Use(path.constData(), "OLDT", XB_EXCLUSIVE, XB_DRIVER_FOX);
  if (area == 0) return false;
  for (int i = 1; i <= kOldTasks; ++i) {
    const QByteArray name = QStringLiteral("OLD-%1").arg(i).toLatin1();
    const QByteArray note = NoteOf(i).toLatin1();
    if (xb_AppendBlank() == 0 || xb_Replace("DESCRIPT", XB_VAL_STRING, name.constData()) == 0 ||
        xb_Replace("DATE", XB_VAL_STRING, "20250101") == 0 ||
        xb_ReplaceMemo("NOTE", note.constData(), long(note.size())) == 0)
      return false;
  }
  xb_Close(area);
  return true;
}

// Descriptions and notes of the table, and whether it has the new layout.
struct Contents {
  std::map<QString, QStringList> notes;  // every copy's note, by description
  bool upgraded = false;
  bool readable = false;
};

Contents Read(const QString& dir) {
  Contents c;
  const int area = xb_Use(QFile::encodeName(TaskFileNames::TaskTable(dir)).constData(), "READER", XB_READONLY, XB_DRIVER_FOX);
  if (area == 0) return c;
  c.readable = true;
  c.upgraded = xb_FieldNum("PRIORITY") > 0;
  for (long r = 1; r <= xb_RecCount(); ++r) {
    xb_Go(r);
    char text[64] = {};
    xb_GetField("DESCRIPT", text, sizeof text);
    long length = 0;
    char* memo = xb_GetMemo("NOTE", &length);
    c.notes[QString::fromLatin1(text).trimmed()] << QString::fromLatin1(memo, int(length));
    xb_MemDealloc(memo);
  }
  xb_Close(area);
  return c;
}

}  // namespace

class UpgradeFaultsTest : public QObject {
  Q_OBJECT
 private slots:
  void everyFaultLeavesOldOrNewWhole() {
    Quiet quiet;
    UserMessages::Install(&quiet);
    int runs = 0, failed = 0, lost = 0, doubled = 0, torn = 0;
    for (uint64_t n = 1;; ++n) {
      QTemporaryDir dir;
      QVERIFY(MakeOldTable(dir.path()));
      StoreHelpers::SetDataDirectory(dir.path());
      bool opened = false, fired = false;
      {
        TaskStore store;
        xb::FaultInjection::Arm(n);
        opened = store.OpenTaskStore(false);
        fired = xb::FaultInjection::Fired();
        xb::FaultInjection::Disarm();
      }
      ++runs;
      const QString when = QStringLiteral("upgrade with fault point %1").arg(n);
      const Contents c = Read(dir.path());
      QVERIFY2(c.readable, qPrintable(when + QStringLiteral(": the table cannot be opened")));
      if (!opened) ++failed;
      // A reported success is the new table; a failure may leave either, but whole.
      if (opened) QVERIFY2(c.upgraded, qPrintable(when));
      for (int i = 1; i <= kOldTasks; ++i) {
        const QStringList copies = c.notes.count(QStringLiteral("OLD-%1").arg(i)) ? c.notes.at(QStringLiteral("OLD-%1").arg(i)) : QStringList();
        if (copies.isEmpty()) ++lost;
        if (copies.size() > 1) ++doubled;
        if (copies.size() == 1 && copies[0] != Stored(i, c.upgraded)) ++torn;
        QVERIFY2(copies.size() == 1 && copies[0] == Stored(i, c.upgraded),
                 qPrintable(when + QStringLiteral(": OLD-%1 is there %2 times").arg(i).arg(copies.size())));
      }
      QCOMPARE(int(c.notes.size()), kOldTasks);
      QProcess tool;
      tool.start(QStringLiteral(XBTOOL_PATH), {QStringLiteral("check"), TaskFileNames::TaskTable(dir.path())});
      QVERIFY(tool.waitForFinished(60000));
      QVERIFY2(tool.exitCode() == 0, qPrintable(when + QStringLiteral(": ") + QString::fromLocal8Bit(tool.readAll())));
      if (!fired) {
        QVERIFY2(opened && c.upgraded, qPrintable(when + QStringLiteral(": without a fault the upgrade must work")));
        break;
      }
      QVERIFY(n < 1000);
    }
    StoreHelpers::SetDataDirectory(QString());
    UserMessages::Install(nullptr);
    qInfo("upgrade under faults: %d runs, %d reported failure, tasks lost %d, doubled %d, torn %d", runs, failed, lost,
          doubled, torn);
  }
};

QTEST_MAIN(UpgradeFaultsTest)
#include "tst_UpgradeFaults.moc"
