// The CalDAV client against a real server: discovery, change marks (ETags, sync tokens), the
// preconditions that keep edits from being overwritten, and the errors people see.

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "TestServer.h"
#include "sync/CalDavClient.h"

namespace {

QByteArray Todo(const QString& uid, const QString& summary) {
  return QStringLiteral(
             "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VTODO\r\n"
             "UID:%1\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:%2\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
      .arg(uid, summary)
      .toUtf8();
}

bool HasHref(const std::vector<DavItem>& items, const QString& href) {
  for (const DavItem& item : items)
    if (CalDavClient::SameHref(item.href, href)) return true;
  return false;
}

}  // namespace

class CalDavClientTest : public QObject {
  Q_OBJECT
  TestServer server_;

 private slots:
  void initTestCase() {
    server_ = TestServer::FromFixture();
    QVERIFY2(server_.Running(), "the calendar server fixture is not running");
  }

  // The user's collections are found from the server's address alone, with their names and
  // the components they hold.
  void discoveryListsTaskCollections() {
    const QString mine = server_.NewCollection(QStringLiteral("Discovered"));
    QVERIFY(!mine.isEmpty());
    CalDavClient client(server_.url, server_.user, server_.password);
    std::vector<CalDavCollection> found;
    const DavError error = client.Discover(&found);
    QVERIFY2(error.ok(), qPrintable(error.message));
    bool sawFixture = false, sawMine = false;
    for (const CalDavCollection& c : found) {
      if (c.displayName == QLatin1String("Tasks")) {
        sawFixture = true;
        QCOMPARE(c.components, QStringList{QStringLiteral("VTODO")});
        QVERIFY(c.HoldsTasks());
        QVERIFY(!c.syncToken.isEmpty());
        QVERIFY(!c.ctag.isEmpty());
      }
      if (CalDavClient::SameHref(c.href, mine)) {
        sawMine = true;
        QCOMPARE(c.displayName, QStringLiteral("Discovered"));
      }
    }
    QVERIFY(sawFixture);
    QVERIFY(sawMine);
    // The collection's own address works as the server address too.
    CalDavClient direct(server_.url.resolved(QUrl(mine)), server_.user, server_.password);
    QVERIFY(direct.Discover(&found).ok());
    QVERIFY(!found.empty());
  }

  // Creating, changing and deleting with the preconditions: a second create of the same
  // resource, a change from a stale ETag and a delete from a stale ETag are all refused.
  void preconditionsGuardEveryChange() {
    const QString col = server_.NewCollection(QStringLiteral("Marks"));
    QVERIFY(!col.isEmpty());
    CalDavClient client(server_.url, server_.user, server_.password);
    const QString href = CalDavClient::MemberHref(col, QStringLiteral("a b@c.ics"));
    QString etag1;
    DavError error = client.Put(href, Todo("a b@c", "first"), {}, &etag1);
    QVERIFY2(error.ok(), qPrintable(error.message));
    QVERIFY(!etag1.isEmpty());

    QString ignored;
    QCOMPARE(client.Put(href, Todo("a b@c", "again"), {}, &ignored).kind,
             DavError::Kind::PreconditionFailed);

    QString etag2;
    QVERIFY(client.Put(href, Todo("a b@c", "second"), etag1, &etag2).ok());
    QVERIFY(etag2 != etag1);
    const DavError stale = client.Put(href, Todo("a b@c", "lost"), etag1, &ignored);
    QCOMPARE(stale.kind, DavError::Kind::PreconditionFailed);
    QCOMPARE(stale.httpStatus, 412);

    DavItem item;
    QVERIFY(client.Get(href, &item).ok());
    QVERIFY(item.data.contains(QLatin1String("SUMMARY:second")));
    QCOMPARE(item.etag, etag2);

    QCOMPARE(client.Delete(href, etag1).kind, DavError::Kind::PreconditionFailed);
    QVERIFY(client.Delete(href, etag2).ok());
    QCOMPARE(client.Get(href, &item).kind, DavError::Kind::NotFound);
    QCOMPARE(client.Delete(href, etag2).kind, DavError::Kind::NotFound);
  }

  // The change report names what changed and what went since a token; listing and fetching
  // agree with it; a token the server does not know is told apart.
  void changesSinceToken() {
    const QString col = server_.NewCollection(QStringLiteral("Changes"));
    CalDavClient client(server_.url, server_.user, server_.password);
    DavChanges all;
    QVERIFY(client.SyncCollection(col, {}, &all).ok());
    QVERIFY(all.changed.empty());
    QVERIFY(!all.token.isEmpty());

    const QString a = CalDavClient::MemberHref(col, "a.ics");
    const QString b = CalDavClient::MemberHref(col, "b.ics");
    QString etagA, etagB;
    QVERIFY(client.Put(a, Todo("a", "A"), {}, &etagA).ok());
    QVERIFY(client.Put(b, Todo("b", "B"), {}, &etagB).ok());

    DavChanges first;
    QVERIFY(client.SyncCollection(col, all.token, &first).ok());
    QCOMPARE(first.changed.size(), size_t(2));
    QVERIFY(first.removed.isEmpty());
    QVERIFY(HasHref(first.changed, a) && HasHref(first.changed, b));
    for (const DavItem& i : first.changed)
      QCOMPARE(i.etag, CalDavClient::SameHref(i.href, a) ? etagA : etagB);

    QVERIFY(client.Delete(a, etagA).ok());
    QString etagB2;
    QVERIFY(client.Put(b, Todo("b", "B2"), etagB, &etagB2).ok());
    DavChanges second;
    QVERIFY(client.SyncCollection(col, first.token, &second).ok());
    QCOMPARE(second.changed.size(), size_t(1));
    QVERIFY(CalDavClient::SameHref(second.changed[0].href, b));
    QCOMPARE(second.changed[0].etag, etagB2);
    QCOMPARE(second.removed.size(), 1);
    QVERIFY(CalDavClient::SameHref(second.removed[0], a));

    DavChanges none;
    QVERIFY(client.SyncCollection(col, second.token, &none).ok());
    QVERIFY(none.changed.empty() && none.removed.isEmpty());

    std::vector<DavItem> listed;
    QVERIFY(client.ListTasks(col, &listed).ok());
    QCOMPARE(listed.size(), size_t(1));
    QCOMPARE(listed[0].etag, etagB2);

    std::vector<DavItem> fetched;
    QVERIFY(client.Multiget(col, {b, a}, &fetched).ok());
    QCOMPARE(fetched.size(), size_t(1));  // a is gone
    QVERIFY(fetched[0].data.contains(QLatin1String("SUMMARY:B2")));

    DavChanges bad;
    QCOMPARE(client.SyncCollection(col, QStringLiteral("http://radicale.org/ns/sync/unknown"), &bad).kind,
             DavError::Kind::InvalidSyncToken);

    CalDavCollection state;
    QVERIFY(client.Collection(col, &state).ok());
    QCOMPARE(state.syncToken, second.token);
  }

  // The faults people meet: a wrong password, a server that is not running, a server that
  // fails, one that never answers. Each says so plainly.
  void faultsAreTold() {
    CalDavClient wrong(server_.url, server_.user, QStringLiteral("not the password"));
    std::vector<CalDavCollection> found;
    DavError error = wrong.Discover(&found);
    QCOMPARE(error.kind, DavError::Kind::Unauthorized);
    QVERIFY(error.message.contains(QLatin1String("user name or password")));

    // A port nobody listens on: taken from the system, then let go.
    quint16 port = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost));
      port = probe.serverPort();
    }
    CalDavClient down(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)), "u", "p");
    error = down.Discover(&found);
    QCOMPARE(error.kind, DavError::Kind::Unreachable);
    QVERIFY2(error.message.contains(QLatin1String("refused the connection")), qPrintable(error.message));

    // A server that fails every request, and one that accepts and stays silent.
    QTcpServer failing;
    QVERIFY(failing.listen(QHostAddress::LocalHost));
    bool silent = false;
    connect(&failing, &QTcpServer::newConnection, this, [&] {
      while (QTcpSocket* s = failing.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, s, [s, &silent] {
          s->readAll();
          if (silent) return;
          s->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
        });
      }
    });
    CalDavClient broken(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(failing.serverPort())), "u", "p");
    DavItem item;
    error = broken.Get(QStringLiteral("/x.ics"), &item);
    QCOMPARE(error.kind, DavError::Kind::ServerError);
    QCOMPARE(error.httpStatus, 503);
    QVERIFY(error.message.contains(QLatin1String("503")));

    silent = true;
    broken.SetTimeoutMs(500);
    QCOMPARE(broken.Get(QStringLiteral("/y.ics"), &item).kind, DavError::Kind::Timeout);
    broken.SetTimeoutMs(60000);
    int asked = 0;
    broken.SetCancelCheck([&asked] { return ++asked > 3; });
    QCOMPARE(broken.Get(QStringLiteral("/z.ics"), &item).kind, DavError::Kind::Cancelled);
  }
};

QTEST_GUILESS_MAIN(CalDavClientTest)
#include "CalDavClientTest.moc"
