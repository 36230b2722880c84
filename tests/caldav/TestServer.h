#pragma once

// What the calendar server fixture (start-radicale.sh) left in its folder, for the test
// programs, and a fresh task collection per test so tests never see each other's tasks.

#include <QFile>
#include <QString>
#include <QUrl>
#include <QUuid>

#include "sync/CalDavClient.h"

struct TestServer {
  QString dir;
  QUrl url;
  QString user;
  QString password;

  static QString ReadLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).trimmed();
  }

  // Empty url when the fixture is not running (the test then fails with that reason).
  static TestServer FromFixture() {
    TestServer s;
    s.dir = qEnvironmentVariable("LISTWISE_RADICALE_DIR");
    s.url = QUrl(ReadLine(s.dir + "/url"));
    s.user = ReadLine(s.dir + "/user");
    s.password = ReadLine(s.dir + "/password");
    return s;
  }
  bool Running() const { return url.isValid() && !url.isEmpty(); }

  // Makes a new, empty task collection of the test user; its href, or empty on failure.
  QString NewCollection(const QString& label) const {
    CalDavClient client(url, user, password);
    const QString href = QStringLiteral("/%1/%2-%3/").arg(user, label,
        QUuid::createUuid().toString(QUuid::WithoutBraces).left(8));
    return client.MakeTaskCollection(href, label).ok() ? href : QString();
  }
};
