// The sync stopped at the instants a kill from outside rarely hits: between a change on one side
// and the identity row that records it. Each state is made by hand (as the stopped sync would
// have left it) and the next sync must neither lose nor double a task, here or on the server.
// Also: a cancelled sync, and the server's copy of a deletion that was already made.

#include <QTemporaryDir>
#include <QtTest>

#include "db/TaskFileNames.h"
#include "Table.h"
#include "TestServer.h"
#include "sync/ICalTask.h"
#include "sync/SyncEngine.h"
#include "sync/TaskIdentity.h"
#include "sync/TaskTableWriter.h"

namespace {

TaskRecord Task(const QString& descript, const QString& keys = QString()) {
  TaskRecord t;
  t.descript = descript;
  t.keys = keys;
  t.date = QStringLiteral("20280229");
  return t;
}

// A data folder with its task table, standing for one machine.
struct Machine {
  QTemporaryDir dir;
  QString table() const { return TaskFileNames::TaskTable(dir.path()); }

  bool Create() {
    const std::vector<xb::FieldDef> fields = {{"DATE", 'C', 8, 0, 0},      {"TIME", 'C', 5, 0, 0},
                                              {"DESCRIPT", 'C', 50, 0, 0}, {"NOTE", 'M', 10, 0, 0},
                                              {"DONE", 'L', 1, 0, 0},      {"KEYS", 'C', 60, 0, 0},
                                              {"PRIORITY", 'C', 1, 0, 0}};
    return xb::Table::Create(QFile::encodeName(table()).toStdString(), fields, 64).ok();
  }
  uint32_t Add(const TaskRecord& t) {
    TaskTableWriter w;
    QString error;
    uint32_t recno = 0;
    if (!w.Open(table(), &error) || !w.Append(t, &recno, &error)) qWarning("%s", qPrintable(error));
    return recno;
  }
  bool Delete(uint32_t recno) {
    TaskTableWriter w;
    QString error;
    return w.Open(table(), &error) && w.MarkDeleted(recno, &error);
  }
  QStringList Live() const {
    std::vector<TaskSlot> records;
    TableStamp stamp;
    QString error;
    QStringList out;
    if (!ReadTaskTable(table(), &records, &stamp, &error)) return {QStringLiteral("unreadable: ") + error};
    for (const TaskSlot& s : records)
      if (!s.deleted) out << s.task.descript;
    out.sort();
    return out;
  }
};

}  // namespace

class SyncRecoveryTest : public QObject {
  Q_OBJECT
  TestServer server_;

  SyncResult Sync(Machine& m, const QString& col, SyncProgress progress = {}) {
    CalDavClient client(server_.url, server_.user, server_.password);
    SyncEngine engine(m.table(), &client, col);
    if (progress) engine.SetProgress(progress);
    return engine.Run();
  }
  int OnServer(const QString& col) {
    CalDavClient client(server_.url, server_.user, server_.password);
    std::vector<DavItem> items;
    return client.ListTasks(col, &items).ok() ? int(items.size()) : -1;
  }
  // Runs `change` on the identity table of `m` (the table closed again afterwards).
  bool WithIdentity(Machine& m, const std::function<bool(TaskIdentity&)>& change) {
    TaskIdentity identity;
    QString error;
    if (!identity.Open(m.table(), &error)) return false;
    return change(identity);
  }

 private slots:
  void initTestCase() {
    server_ = TestServer::FromFixture();
    QVERIFY2(server_.Running(), "the calendar server fixture is not running");
  }

  // Stopped after storing the server's tasks here, before recording them: linked, not doubled.
  void receivedButNotRecorded() {
    const QString col = server_.NewCollection(QStringLiteral("received"));
    Machine a, b;
    QVERIFY(a.Create() && b.Create());
    for (const char* d : {"one", "two", "three"}) b.Add(Task(QString::fromLatin1(d)));
    QVERIFY(Sync(b, col).ok);
    QCOMPARE(Sync(a, col).received, 3);
    QVERIFY(WithIdentity(a, [](TaskIdentity& id) {
      QString error;
      int removed = 0;
      for (const IdentityRow& row : id.Rows())
        if (row.recno != 0 && removed < 2 && id.Remove(row.uid, &error)) ++removed;
      return removed == 2 && id.SetCollectionState(QString(), QString(), &error);
    }));
    const SyncResult again = Sync(a, col);
    QVERIFY2(again.ok, qPrintable(again.Message()));
    QCOMPARE(again.received, 0);
    QCOMPARE(again.sent, 0);
    QCOMPARE(a.Live(), QStringList({"one", "three", "two"}));
    QCOMPARE(OnServer(col), 3);
  }

  // Stopped after the server took a new task, before its row learnt the ETag; and stopped after
  // the row got its href, before the upload.
  void uploadsInterrupted() {
    const QString col = server_.NewCollection(QStringLiteral("uploaded"));
    Machine a, b;
    QVERIFY(a.Create() && b.Create());
    a.Add(Task(QStringLiteral("sent, not recorded")));
    QCOMPARE(Sync(a, col).sent, 1);
    QVERIFY(WithIdentity(a, [](TaskIdentity& id) {
      IdentityRow row = id.Rows().at(0);
      row.etag.clear();
      row.syncfp.clear();
      QString error;
      return id.Put(row, &error) && id.SetCollectionState(QString(), QString(), &error);
    }));
    a.Add(Task(QStringLiteral("recorded, not sent")));
    QVERIFY(WithIdentity(a, [&](TaskIdentity& id) {
      std::vector<TaskSlot> records;
      TableStamp stamp;
      QString error;
      if (!ReadTaskTable(a.table(), &records, &stamp, &error) || !id.Reconcile(records, stamp, nullptr, &error)) return false;
      IdentityRow row = *id.ForRecord(2);
      row.href = CalDavClient::CanonicalHref(CalDavClient::MemberHref(col, row.uid + QStringLiteral(".ics")));
      return id.Put(row, &error);
    }));
    const SyncResult again = Sync(a, col);
    QVERIFY2(again.ok, qPrintable(again.Message()));
    QCOMPARE(again.sent, 1);
    QCOMPARE(again.received, 0);
    QCOMPARE(OnServer(col), 2);
    QCOMPARE(a.Live().size(), 2);
    QCOMPARE(Sync(b, col).received, 2);
    QCOMPARE(b.Live(), a.Live());
    QVERIFY(!Sync(a, col).Changed());
  }

  // Stopped after storing the conflict copy, before recording it: the copy is not made twice.
  void conflictCopyNotRecorded() {
    const QString col = server_.NewCollection(QStringLiteral("conflict"));
    Machine a, b;
    QVERIFY(a.Create() && b.Create());
    a.Add(Task(QStringLiteral("shared"), QStringLiteral("x")));
    QVERIFY(Sync(a, col).ok);
    QVERIFY(Sync(b, col).ok);
    TaskTableWriter writer;
    QString error;
    TaskRecord edited = Task(QStringLiteral("shared, edited on a"), QStringLiteral("x"));
    QVERIFY(writer.Open(a.table(), &error) && writer.Replace(1, edited, &error));
    writer.Close();
    TaskRecord theirs = Task(QStringLiteral("shared, edited on b"), QStringLiteral("x"));
    QVERIFY(writer.Open(b.table(), &error) && writer.Replace(1, theirs, &error));
    writer.Close();
    QCOMPARE(Sync(b, col).sentChanges, 1);
    // What the stopped sync of a had stored: b's version, marked.
    a.Add(Task(QStringLiteral("shared, edited on b"), QStringLiteral("conflict x")));
    const SyncResult result = Sync(a, col);
    QVERIFY2(result.ok, qPrintable(result.Message()));
    QCOMPARE(result.conflicts, 1);
    QCOMPARE(a.Live(), QStringList({"shared, edited on a", "shared, edited on b"}));
    QVERIFY(Sync(b, col).ok);
    QCOMPARE(b.Live(), QStringList({"shared, edited on a", "shared, edited on b"}));
    QCOMPARE(OnServer(col), 2);
  }

  // Cancelled halfway: the next sync sends the rest; a deletion the server already has is
  // settled without an error.
  void cancelledAndRepeatedDeletion() {
    const QString col = server_.NewCollection(QStringLiteral("cancelled"));
    Machine a;
    QVERIFY(a.Create());
    for (int i = 0; i < 40; ++i) a.Add(Task(QStringLiteral("task %1").arg(i)));
    const SyncResult stopped = Sync(a, col, [](const QString& step, int done, int) {
      return !(step.startsWith(QLatin1String("Sending")) && done >= 15);
    });
    QVERIFY(!stopped.ok);
    QVERIFY(stopped.cancelled);
    QVERIFY(stopped.Message().contains(QLatin1String("cancelled")));
    QCOMPARE(stopped.sent, 15);
    QCOMPARE(Sync(a, col).sent, 25);
    QCOMPARE(OnServer(col), 40);

    IdentityRow before;
    QVERIFY(WithIdentity(a, [&](TaskIdentity& id) {
      before = *id.ForRecord(3);
      return true;
    }));
    QVERIFY(a.Delete(3));
    QCOMPARE(Sync(a, col).deletedThere, 1);
    // As if the row's removal had not been written.
    QVERIFY(WithIdentity(a, [&](TaskIdentity& id) {
      QString error;
      return id.Put(before, &error);
    }));
    const SyncResult again = Sync(a, col);
    QVERIFY2(again.ok, qPrintable(again.Message()));
    QCOMPARE(again.deletedThere, 0);
    QCOMPARE(OnServer(col), 39);
    QCOMPARE(a.Live().size(), 39);
  }
};

QTEST_GUILESS_MAIN(SyncRecoveryTest)
#include "SyncRecoveryTest.moc"
