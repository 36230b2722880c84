// A pack (the program's Rebuild Indexes) while another program opens the table in the middle
// of it: at every write, sync and rename the pack passes, a reader tries to open the table.
// The reader is refused as long as the pack holds the table, and the pack, which finished,
// says so; afterwards the table holds the live tasks once each and passes the check.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "FaultInjection.h"
#include "Table.h"
#include "TaskTableFixture.h"

namespace {

std::string g_path;
uint64_t g_openAt = 0;     // the point at which the reader opens
uint64_t g_seen = 0;       // points passed since the pack began
xb::Status g_readerStatus;  // what the reader's open said
std::unique_ptr<xb::Table> g_reader;

void OpenReaderAtPoint(const char*, const std::string&) {
  if (++g_seen != g_openAt) return;
  g_readerStatus = xb::Table::Open(g_path, xb::Table::Mode::kReadOnly, &g_reader);
}

}  // namespace

class PackSwitchTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;
  TaskTableFixture seed_;  // 30 tasks with notes, every fourth marked deleted

 private slots:
  void initTestCase() {
    messages_.Install();
    QVERIFY(seed_.Create());
    seed_.table.Open();
    for (int i = 1; i <= 30; ++i) {
      seed_.Add(QStringLiteral("202602%1").arg(10 + i % 18), QStringLiteral("10:00"), QStringLiteral("TASK-%1").arg(i),
                false, QStringLiteral("k"), QStringLiteral("B"), QStringLiteral("note %1").arg(i));
      if (i % 4 == 0) seed_.table.Delete();
    }
    seed_.table.Close();
  }
  void init() { messages_.Install(); }
  void cleanup() {
    xb::FaultInjection::Observe(nullptr);
    RecordedMessages::Uninstall();
  }

  void aPackThatFinishedSaysSo() {
    int rounds = 0, refused = 0;
    for (uint64_t at = 1;; ++at) {
      TaskTableFixture f;
      for (const QString& name : QDir(seed_.dir.path()).entryList(QDir::Files))
        QVERIFY(QFile::copy(seed_.dir.filePath(name), f.dir.filePath(name)));
      f.table.SetIndexName(QStringLiteral("DATETIME"));
      f.table.SetExclusive(true);
      f.table.Open();
      g_path = f.TablePath().toStdString();
      g_openAt = at;
      g_seen = 0;
      g_readerStatus = xb::Status::Ok();
      g_reader.reset();
      xb::FaultInjection::Observe(&OpenReaderAtPoint);
      const int packed = f.engine.RemoveDeleted();
      const QString error = TTableEngine::LastEngineError();
      xb::FaultInjection::Observe(nullptr);
      const uint64_t points = g_seen;
      ++rounds;
      const QString when = QStringLiteral("a reader opening at point %1 of %2").arg(at).arg(points);
      QVERIFY2(packed != 0, qPrintable(when + QStringLiteral(": the pack said: ") + error));
      QCOMPARE(f.engine.RecordCount(), 23L);
      if (at <= points) {
        // The table was the pack's own all along: the reader could not have it.
        QVERIFY2(!g_reader, qPrintable(when + QStringLiteral(": the reader opened the table")));
        QVERIFY2(g_readerStatus.code() == xb::Status::kLocked,
                 qPrintable(when + QStringLiteral(": ") + QString::fromStdString(g_readerStatus.message())));
        ++refused;
      }
      f.table.Close();
      g_reader.reset();
      // Another program now finds the packed table, whole.
      std::unique_ptr<xb::Table> after;
      QVERIFY(xb::Table::Open(g_path, xb::Table::Mode::kReadOnly, &after).ok());
      QCOMPARE(after->record_count(), 23u);
      for (uint32_t r = 1; r <= after->record_count(); ++r) QVERIFY(!after->IsDeleted(r));
      after.reset();
      QProcess tool;
      tool.start(QStringLiteral(XBTOOL_PATH), {QStringLiteral("check"), QString::fromStdString(g_path)});
      QVERIFY(tool.waitForFinished(60000));
      QVERIFY2(tool.exitCode() == 0, tool.readAll().constData());
      if (at > points) break;
      QVERIFY(at < 500);
    }
    qInfo("pack with a reader opening at each point: %d rounds, reader refused %d times", rounds, refused);
  }
};

QTEST_GUILESS_MAIN(PackSwitchTest)
#include "tst_PackSwitch.moc"
