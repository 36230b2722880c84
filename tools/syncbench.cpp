// syncbench: how long the task sync takes against a local calendar server.
//
//   tests/caldav/start-radicale.sh /tmp/lwbench        (a private server; stop-radicale.sh ends it)
//   syncbench --server-dir /tmp/lwbench [--upload 1000] [--download 10000]
//
// Upload: on a fresh collection, the first sync of a task list of N tasks (all sent, one PUT
// each), then a sync with nothing to do. The server's own cost per new task grows with the
// size of the collection (radicale looks through every task of the collection for a UID clash
// on each new one), so a large upload measures the server more than the sync.
// Download: N tasks written straight into the server's storage folder (its own file format:
// one .ics file per task), then the first sync of an empty task list (all N received), a sync
// with nothing to do on N tasks, and a sync after one task changed on the server.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

#include "db/TaskFileNames.h"
#include "Table.h"
#include "sync/CalDavClient.h"
#include "sync/SyncEngine.h"
#include "sync/TaskTableWriter.h"

namespace {

QString ReadLine(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

bool MakeTable(const QString& dir, int tasks, QString* error) {
  const std::vector<xb::FieldDef> fields = {{"DATE", 'C', 8, 0, 0},      {"TIME", 'C', 5, 0, 0},
                                            {"DESCRIPT", 'C', 50, 0, 0}, {"NOTE", 'M', 10, 0, 0},
                                            {"DONE", 'L', 1, 0, 0},      {"KEYS", 'C', 60, 0, 0},
                                            {"PRIORITY", 'C', 1, 0, 0}};
  const QString path = TaskFileNames::TaskTable(dir);
  xb::Status s = xb::Table::Create(QFile::encodeName(path).toStdString(), fields, 64);
  if (!s.ok()) {
    *error = QString::fromStdString(s.message());
    return false;
  }
  TaskTableWriter writer;
  if (!writer.Open(path, error)) return false;
  for (int i = 0; i < tasks; ++i) {
    TaskRecord t;
    t.descript = QStringLiteral("Benchmark task %1").arg(i, 5, 10, QLatin1Char('0'));
    t.date = QStringLiteral("2028%1%2").arg(1 + i % 12, 2, 10, QLatin1Char('0')).arg(1 + i % 28, 2, 10, QLatin1Char('0'));
    t.time = i % 3 == 0 ? QStringLiteral("09:30") : QString();
    t.priority = QString(QLatin1Char("ABC "[i % 4])).trimmed();
    t.keys = i % 2 ? QStringLiteral("work bench") : QStringLiteral("home");
    t.note = i % 5 == 0 ? QStringLiteral("A note of two lines\r\nfor task %1").arg(i) : QString();
    t.done = i % 7 == 0;
    uint32_t recno = 0;
    if (!writer.Append(t, &recno, error)) return false;
  }
  return writer.Commit(error);
}

double Timed(const QString& table, CalDavClient* client, const QString& collection, SyncResult* result) {
  QElapsedTimer timer;
  timer.start();
  SyncEngine engine(table, client, collection);
  *result = engine.Run();
  return timer.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  parser.addOptions({{QStringLiteral("server-dir"), QStringLiteral("Folder of a server from start-radicale.sh."), QStringLiteral("DIR")},
                     {QStringLiteral("timeout"), QStringLiteral("Seconds to wait for one answer (1800)."), QStringLiteral("S"), QStringLiteral("1800")},
                     {QStringLiteral("upload"), QStringLiteral("Tasks to send (1000)."), QStringLiteral("N"), QStringLiteral("1000")},
                     {QStringLiteral("download"), QStringLiteral("Tasks to receive (10000)."), QStringLiteral("N"), QStringLiteral("10000")}});
  parser.process(app);
  const QString dir = parser.value("server-dir");
  const QUrl url(ReadLine(dir + QStringLiteral("/url")));
  if (dir.isEmpty() || url.isEmpty()) {
    std::fprintf(stderr, "syncbench: no running server in '%s' (start one with tests/caldav/start-radicale.sh DIR)\n",
                 qPrintable(dir));
    return 2;
  }
  const QString user = ReadLine(dir + QStringLiteral("/user"));
  CalDavClient client(url, user, ReadLine(dir + QStringLiteral("/password")));
  // The server's first look at a large collection (parsing every task) can take minutes.
  client.SetTimeoutMs(parser.value("timeout").toInt() * 1000);
  const int upload = parser.value("upload").toInt();
  const int download = parser.value("download").toInt();
  QString problem;
  SyncResult result;
  auto collection_named = [&](const QString& label, QString* href) {
    *href = QStringLiteral("/%1/%2-%3/").arg(user, label, QUuid::createUuid().toString(QUuid::Id128).left(8));
    const DavError error = client.MakeTaskCollection(*href, label);
    if (!error.ok()) std::fprintf(stderr, "syncbench: %s\n", qPrintable(error.message));
    return error.ok();
  };

  if (upload > 0) {
    QString collection;
    QTemporaryDir a;
    if (!collection_named(QStringLiteral("upload"), &collection)) return 1;
    if (!MakeTable(a.path(), upload, &problem)) {
      std::fprintf(stderr, "syncbench: %s\n", qPrintable(problem));
      return 1;
    }
    const double first = Timed(TaskFileNames::TaskTable(a.path()), &client, collection, &result);
    std::printf("upload: first sync, %d tasks sent:            %9.2f s  (%s)\n", upload, first,
                qPrintable(result.Message().split('\n').first()));
    if (!result.ok || result.sent != upload) return 1;
    const double idle = Timed(TaskFileNames::TaskTable(a.path()), &client, collection, &result);
    std::printf("upload: sync with nothing to do (%d tasks):   %9.3f s  (%s)\n", upload, idle, qPrintable(result.Message()));
    if (!result.ok || result.Changed()) return 1;
  }

  if (download > 0) {
    QString collection;
    QTemporaryDir b;
    if (!collection_named(QStringLiteral("download"), &collection)) return 1;
    const QString folder = dir + QStringLiteral("/storage/collection-root") + CalDavClient::HrefKey(collection);
    if (!QDir(folder).exists()) {
      std::fprintf(stderr, "syncbench: the server's storage folder %s is not there\n", qPrintable(folder));
      return 1;
    }
    for (int i = 0; i < download; ++i) {
      QFile f(QStringLiteral("%1/seed-%2.ics").arg(folder).arg(i));
      if (!f.open(QIODevice::WriteOnly)) return 1;
      f.write(QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//syncbench//EN\r\nBEGIN:VTODO\r\n"
                             "UID:seed-%1\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:Seeded task %1\r\n"
                             "DUE;VALUE=DATE:2028%2%3\r\nPRIORITY:%4\r\nCATEGORIES:bench,seed\r\n"
                             "DESCRIPTION:Note of seeded task %1\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
                  .arg(i)
                  .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                  .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                  .arg(i % 10)
                  .toUtf8());
    }
    if (!MakeTable(b.path(), 0, &problem)) {
      std::fprintf(stderr, "syncbench: %s\n", qPrintable(problem));
      return 1;
    }
    const double first = Timed(TaskFileNames::TaskTable(b.path()), &client, collection, &result);
    std::printf("download: first sync, %d tasks received:     %9.2f s  (%s)\n", download, first,
                qPrintable(result.Message().split('\n').first()));
    if (!result.ok || result.received != download) return 1;
    const double idle = Timed(TaskFileNames::TaskTable(b.path()), &client, collection, &result);
    std::printf("download: sync with nothing to do (%d tasks): %9.3f s  (%s)\n", download, idle, qPrintable(result.Message()));
    if (!result.ok || result.Changed()) return 1;
    DavItem one;
    const QString href = CalDavClient::MemberHref(collection, QStringLiteral("seed-7.ics"));
    DavError error = client.Get(href, &one);
    QString etag;
    if (error.ok()) error = client.Put(href, one.data.replace(QStringLiteral("Seeded task 7"), QStringLiteral("Changed task 7")).toUtf8(), one.etag, &etag);
    if (!error.ok()) {
      std::fprintf(stderr, "syncbench: %s\n", qPrintable(error.message));
      return 1;
    }
    const double changed = Timed(TaskFileNames::TaskTable(b.path()), &client, collection, &result);
    std::printf("download: sync after 1 change on the server:  %9.3f s  (%s)\n", changed, qPrintable(result.Message()));
    if (!result.ok || result.updated != 1) return 1;
  }
  return 0;
}
