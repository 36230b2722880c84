// lwsync: syncs the task list of a data folder with a task collection on a CalDAV server, from
// the command line, the way File, Synchronize does in the program.
//
//   lwsync --data-dir DIR --server URL --user NAME --collection HREF
//   lwsync --server URL --user NAME --list
//   lwsync --server URL --user NAME --make-collection HREF [--name DISPLAYNAME]
//
// The password comes from the environment variable LWSYNC_PASSWORD or from the first line of
// the file named by --password-file, never from the command line (other users can read it).
// --progress prints one "progress STEP DONE/TOTAL" line per step as the sync goes.
// Exit status: 0 done, 1 the sync (or request) failed, 2 a malformed command line.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

#include "db/TaskFileNames.h"
#include "sync/CalDavClient.h"
#include "sync/SyncEngine.h"

namespace {

int Usage(const QString& message) {
  std::fprintf(stderr, "lwsync: %s\nTry 'lwsync --help'.\n", qPrintable(message));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Syncs a task list with a CalDAV task collection."));
  parser.addHelpOption();
  parser.addOptions({
      {QStringLiteral("data-dir"), QStringLiteral("The folder holding the task list (LWISE.DBF)."), QStringLiteral("DIR")},
      {QStringLiteral("server"), QStringLiteral("The server's address."), QStringLiteral("URL")},
      {QStringLiteral("user"), QStringLiteral("The user name."), QStringLiteral("NAME")},
      {QStringLiteral("collection"), QStringLiteral("The task collection's address."), QStringLiteral("HREF")},
      {QStringLiteral("password-file"), QStringLiteral("A file whose first line is the password."), QStringLiteral("FILE")},
      {QStringLiteral("list"), QStringLiteral("Lists the user's calendar collections.")},
      {QStringLiteral("make-collection"), QStringLiteral("Makes a task collection."), QStringLiteral("HREF")},
      {QStringLiteral("name"), QStringLiteral("Display name for --make-collection."), QStringLiteral("NAME")},
      {QStringLiteral("progress"), QStringLiteral("Prints the sync's progress.")},
  });
  parser.process(app);
  if (!parser.isSet("server") || !parser.isSet("user")) return Usage(QStringLiteral("--server and --user are needed"));

  QString password = qEnvironmentVariable("LWSYNC_PASSWORD");
  if (parser.isSet("password-file")) {
    QFile file(parser.value("password-file"));
    if (!file.open(QIODevice::ReadOnly)) return Usage(QStringLiteral("cannot read %1").arg(file.fileName()));
    password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
  }
  CalDavClient client(QUrl(parser.value("server")), parser.value("user"), password);
  QTextStream out(stdout);

  if (parser.isSet("list")) {
    std::vector<CalDavCollection> collections;
    const DavError error = client.Discover(&collections);
    if (!error.ok()) {
      std::fprintf(stderr, "lwsync: %s\n", qPrintable(error.message));
      return 1;
    }
    for (const CalDavCollection& c : collections)
      out << c.href << '\t' << c.displayName << '\t' << c.components.join(QLatin1Char(',')) << '\n';
    return 0;
  }
  if (parser.isSet("make-collection")) {
    const QString href = parser.value("make-collection");
    const DavError error = client.MakeTaskCollection(href, parser.isSet("name") ? parser.value("name") : href);
    if (!error.ok()) {
      std::fprintf(stderr, "lwsync: %s\n", qPrintable(error.message));
      return 1;
    }
    return 0;
  }
  if (!parser.isSet("data-dir") || !parser.isSet("collection"))
    return Usage(QStringLiteral("--data-dir and --collection are needed to sync"));
  const QString table = TaskFileNames::TaskTable(parser.value("data-dir"));
  if (!QFileInfo::exists(table)) {
    std::fprintf(stderr, "lwsync: there is no task list %s\n", qPrintable(table));
    return 1;
  }
  SyncEngine engine(table, &client, parser.value("collection"));
  if (parser.isSet("progress")) {
    engine.SetProgress([&out](const QString& step, int done, int total) {
      out << "progress " << step << ' ' << done << '/' << total << Qt::endl;
      return true;
    });
  }
  const SyncResult result = engine.Run();
  out << result.Message() << Qt::endl;
  return result.ok ? 0 : 1;
}
