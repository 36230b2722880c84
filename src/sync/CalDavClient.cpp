#include "sync/CalDavClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "sync/DavMultistatus.h"

namespace {

const char kPropfindCollections[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\" "
    "xmlns:CS=\"http://calendarserver.org/ns/\"><D:prop>"
    "<D:displayname/><D:resourcetype/><C:supported-calendar-component-set/>"
    "<CS:getctag/><D:sync-token/>"
    "</D:prop></D:propfind>";

QByteArray Escaped(const QString& text) { return text.toHtmlEscaped().toUtf8(); }

// Some servers tell a stale sync token by 403, others by 409; both name the precondition.
bool NamesPrecondition(const QByteArray& body, const char* name) {
  return body.contains(name);
}

}  // namespace

CalDavClient::CalDavClient(const QUrl& server, const QString& user, const QString& password)
    : server_(server), user_(user), password_(password),
      network_(std::make_unique<QNetworkAccessManager>()) {
  if (!server_.path().endsWith(QLatin1Char('/'))) server_.setPath(server_.path() + QLatin1Char('/'));
}

CalDavClient::~CalDavClient() = default;

QString CalDavClient::HrefKey(const QString& href) {
  return QUrl(href).path(QUrl::FullyDecoded);
}

QString CalDavClient::CanonicalHref(const QString& href) {
  QUrl url;
  url.setPath(HrefKey(href), QUrl::DecodedMode);
  return url.path(QUrl::FullyEncoded);
}

QString CalDavClient::MemberHref(const QString& collection, const QString& name) {
  QString base = QUrl(collection).path(QUrl::FullyEncoded);
  if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
  return base + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QUrl CalDavClient::Resolve(const QString& href) const {
  return server_.resolved(QUrl(href, QUrl::TolerantMode));
}

QString CalDavClient::Where() const {
  return server_.port() > 0 ? QStringLiteral("%1:%2").arg(server_.host()).arg(server_.port())
                            : server_.host();
}

DavError CalDavClient::Send(const QByteArray& verb, const QString& href, const QByteArray& body,
                            const QList<QPair<QByteArray, QByteArray>>& headers, Reply* out) {
  *out = Reply();
  QNetworkRequest request(Resolve(href));
  // The credentials go with every request: waiting for a challenge doubles the requests, and
  // Qt would ask an authenticator we do not have.
  request.setRawHeader("Authorization",
                       "Basic " + (user_ + QLatin1Char(':') + password_).toUtf8().toBase64());
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::SameOriginRedirectPolicy);
  if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/xml; charset=utf-8"));
  for (const auto& header : headers) request.setRawHeader(header.first, header.second);

  std::unique_ptr<QNetworkReply> reply(network_->sendCustomRequest(request, verb, body));
  QEventLoop loop;
  bool timedOut = false;
  bool cancelled = false;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    reply->abort();
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (cancelled_ && cancelled_()) {
      cancelled = true;
      reply->abort();
    }
  });
  if (!reply->isFinished()) {
    timeout.start(timeoutMs_);
    poll.start(50);
    loop.exec();
  }

  DavError error;
  if (cancelled) {
    error.kind = DavError::Kind::Cancelled;
    error.message = QStringLiteral("The sync was cancelled.");
    return error;
  }
  if (timedOut) {
    error.kind = DavError::Kind::Timeout;
    error.message = QStringLiteral("The server %1 did not answer within %2 seconds.")
                        .arg(Where())
                        .arg(timeoutMs_ / 1000);
    return error;
  }
  out->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  out->body = reply->readAll();
  out->etag = QString::fromUtf8(reply->rawHeader("ETag"));
  if (out->status == 0) {
    error.kind = DavError::Kind::Unreachable;
    switch (reply->error()) {
      case QNetworkReply::ConnectionRefusedError:
        error.message = QStringLiteral("The server %1 refused the connection: is it running, "
                                       "and is the address right?").arg(Where());
        break;
      case QNetworkReply::HostNotFoundError:
        error.message = QStringLiteral("No server named %1 was found.").arg(server_.host());
        break;
      default:
        error.message = QStringLiteral("The server %1 could not be reached: %2")
                            .arg(Where(), reply->errorString());
    }
    return error;
  }
  error.httpStatus = out->status;
  const QString status = QStringLiteral("HTTP %1 %2").arg(out->status).arg(
      reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
  if (out->status >= 200 && out->status < 300) return DavError();
  if (out->status == 401) {
    error.kind = DavError::Kind::Unauthorized;
    error.message = QStringLiteral("The server %1 did not accept the user name or password.").arg(Where());
  } else if ((out->status == 403 || out->status == 409) &&
             NamesPrecondition(out->body, "valid-sync-token")) {
    error.kind = DavError::Kind::InvalidSyncToken;
    error.message = QStringLiteral("The server %1 no longer knows the last sync's change mark.").arg(Where());
  } else if ((out->status == 403 && NamesPrecondition(out->body, "supported-report")) ||
             out->status == 501 || out->status == 405) {
    error.kind = DavError::Kind::NotSupported;
    error.message = QStringLiteral("The server %1 does not support this request (%2).").arg(Where(), status);
  } else if (out->status == 403) {
    error.kind = DavError::Kind::Forbidden;
    error.message = QStringLiteral("The server %1 refused the change (%2).").arg(Where(), status);
  } else if (out->status == 404 || out->status == 410) {
    error.kind = DavError::Kind::NotFound;
    error.message = QStringLiteral("The server %1 has nothing at %2.").arg(Where(), HrefKey(href));
  } else if (out->status == 412) {
    error.kind = DavError::Kind::PreconditionFailed;
    error.message = QStringLiteral("The task at %1 was changed on the server meanwhile.").arg(HrefKey(href));
  } else if (out->status == 409) {
    error.kind = DavError::Kind::Conflict;
    error.message = QStringLiteral("The server %1 refused the change as a conflict (%2).").arg(Where(), status);
  } else if (out->status >= 500) {
    error.kind = DavError::Kind::ServerError;
    error.message = QStringLiteral("The server %1 failed (%2); try again later.").arg(Where(), status);
  } else {
    error.kind = DavError::Kind::BadResponse;
    error.message = QStringLiteral("The server %1 gave an unexpected answer (%2).").arg(Where(), status);
  }
  return error;
}

DavError CalDavClient::Propfind(const QString& href, int depth, const QByteArray& body, Reply* reply) {
  DavError error = Send("PROPFIND", href, body, {{"Depth", QByteArray::number(depth)}}, reply);
  if (!error.ok()) return error;
  return ExpectMultistatus(*reply, QStringLiteral("PROPFIND"));
}

DavError CalDavClient::ExpectMultistatus(const Reply& reply, const QString& what) const {
  if (reply.status == 207) return DavError();
  DavError error;
  error.kind = DavError::Kind::BadResponse;
  error.httpStatus = reply.status;
  error.message = QStringLiteral("The server %1 answered %2 with HTTP %3 instead of a list.")
                      .arg(Where(), what)
                      .arg(reply.status);
  return error;
}

namespace {

DavError Unreadable(const QString& where, const QString& why) {
  DavError error;
  error.kind = DavError::Kind::BadResponse;
  error.message = QStringLiteral("The answer of the server %1 could not be read: %2.").arg(where, why);
  return error;
}

CalDavCollection CollectionOf(const DavResponse& r) {
  CalDavCollection c;
  c.href = r.href;
  c.displayName = r.props.value(dav::Name(dav::kDav, "displayname")).trimmed();
  c.components = r.components;
  c.ctag = r.props.value(dav::Name(dav::kCalendarServer, "getctag")).trimmed();
  c.syncToken = r.props.value(dav::Name(dav::kDav, "sync-token")).trimmed();
  return c;
}

bool IsCalendar(const DavResponse& r) {
  return r.resourceTypes.contains(dav::Name(dav::kCalDav, "calendar"));
}

}  // namespace

DavError CalDavClient::Discover(std::vector<CalDavCollection>* collections) {
  collections->clear();
  static const QByteArray kPrincipal =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:prop>"
      "<D:current-user-principal/><C:calendar-home-set/><D:resourcetype/>"
      "</D:prop></D:propfind>";
  const QString start = server_.path(QUrl::FullyEncoded);
  Reply reply;
  DavError error = Propfind(start, 0, kPrincipal, &reply);
  DavMultistatus ms;
  QString principal;
  QStringList homes;
  bool startIsCalendar = false;
  if (error.ok()) {
    ms = DavMultistatus::Parse(reply.body);
    if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
    for (const DavResponse& r : ms.responses) {
      principal = r.propHrefs.value(dav::Name(dav::kDav, "current-user-principal")).value(0);
      homes = r.propHrefs.value(dav::Name(dav::kCalDav, "calendar-home-set"));
      startIsCalendar = IsCalendar(r);
    }
  } else if (error.kind != DavError::Kind::NotFound && error.kind != DavError::Kind::NotSupported &&
             error.kind != DavError::Kind::BadResponse) {
    return error;
  }
  // The address given may be the server's root without WebDAV: RFC 6764's well-known address
  // leads to the context path.
  if (principal.isEmpty() && homes.isEmpty() && !startIsCalendar) {
    error = Propfind(QStringLiteral("/.well-known/caldav"), 0, kPrincipal, &reply);
    if (!error.ok()) return error;
    ms = DavMultistatus::Parse(reply.body);
    if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
    for (const DavResponse& r : ms.responses)
      principal = r.propHrefs.value(dav::Name(dav::kDav, "current-user-principal")).value(0);
  }
  if (homes.isEmpty() && !principal.isEmpty()) {
    static const QByteArray kHome =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:prop>"
        "<C:calendar-home-set/></D:prop></D:propfind>";
    error = Propfind(principal, 0, kHome, &reply);
    if (!error.ok()) return error;
    ms = DavMultistatus::Parse(reply.body);
    if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
    for (const DavResponse& r : ms.responses)
      homes += r.propHrefs.value(dav::Name(dav::kCalDav, "calendar-home-set"));
  }
  if (startIsCalendar) {
    CalDavCollection own;
    error = Collection(start, &own);
    if (!error.ok()) return error;
    collections->push_back(own);
  }
  if (homes.isEmpty() && !startIsCalendar) {
    DavError none;
    none.kind = DavError::Kind::BadResponse;
    none.message = QStringLiteral("The server %1 does not say where the user's calendars are.").arg(Where());
    return none;
  }
  for (const QString& home : homes) {
    error = Propfind(home, 1, kPropfindCollections, &reply);
    if (!error.ok()) return error;
    ms = DavMultistatus::Parse(reply.body);
    if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
    for (const DavResponse& r : ms.responses) {
      if (!IsCalendar(r)) continue;
      bool known = false;
      for (const CalDavCollection& c : *collections) known = known || SameHref(c.href, r.href);
      if (!known) collections->push_back(CollectionOf(r));
    }
  }
  return DavError();
}

DavError CalDavClient::Collection(const QString& href, CalDavCollection* collection) {
  Reply reply;
  DavError error = Propfind(href, 0, kPropfindCollections, &reply);
  if (!error.ok()) return error;
  const DavMultistatus ms = DavMultistatus::Parse(reply.body);
  if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
  for (const DavResponse& r : ms.responses) {
    if (SameHref(r.href, href)) {
      *collection = CollectionOf(r);
      if (!IsCalendar(r)) {
        DavError notCalendar;
        notCalendar.kind = DavError::Kind::NotFound;
        notCalendar.message = QStringLiteral("%1 on the server %2 is not a calendar.").arg(HrefKey(href), Where());
        return notCalendar;
      }
      return DavError();
    }
  }
  return Unreadable(Where(), QStringLiteral("the collection is not in its own listing"));
}

DavError CalDavClient::SyncCollection(const QString& href, const QString& token, DavChanges* changes) {
  *changes = DavChanges();
  const QByteArray body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<D:sync-collection xmlns:D=\"DAV:\"><D:sync-token>" + Escaped(token) +
      "</D:sync-token><D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop>"
      "</D:sync-collection>";
  Reply reply;
  DavError error = Send("REPORT", href, body, {{"Depth", "1"}}, &reply);
  if (!error.ok()) return error;
  error = ExpectMultistatus(reply, QStringLiteral("the change report"));
  if (!error.ok()) return error;
  const DavMultistatus ms = DavMultistatus::Parse(reply.body);
  if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
  changes->token = ms.syncToken;
  for (const DavResponse& r : ms.responses) {
    if (SameHref(r.href, href)) continue;  // a truncated report names the collection (507)
    if (r.status == 404 || r.status == 410) {
      changes->removed << r.href;
    } else {
      changes->changed.push_back({r.href, r.props.value(dav::Name(dav::kDav, "getetag")).trimmed(), {}});
    }
  }
  return DavError();
}

DavError CalDavClient::ListTasks(const QString& href, std::vector<DavItem>* items) {
  items->clear();
  static const QByteArray kQuery =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<C:calendar-query xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
      "<D:prop><D:getetag/></D:prop><C:filter><C:comp-filter name=\"VCALENDAR\">"
      "<C:comp-filter name=\"VTODO\"/></C:comp-filter></C:filter></C:calendar-query>";
  Reply reply;
  DavError error = Send("REPORT", href, kQuery, {{"Depth", "1"}}, &reply);
  if (!error.ok()) return error;
  error = ExpectMultistatus(reply, QStringLiteral("the task query"));
  if (!error.ok()) return error;
  const DavMultistatus ms = DavMultistatus::Parse(reply.body);
  if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
  for (const DavResponse& r : ms.responses) {
    if (SameHref(r.href, href) || r.status == 404) continue;
    items->push_back({r.href, r.props.value(dav::Name(dav::kDav, "getetag")).trimmed(), {}});
  }
  return DavError();
}

DavError CalDavClient::Multiget(const QString& collection, const QStringList& hrefs,
                                std::vector<DavItem>* items) {
  items->clear();
  // Batches keep each answer to a size the server and we handle comfortably.
  constexpr int kBatch = 200;
  for (int first = 0; first < hrefs.size(); first += kBatch) {
    QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<C:calendar-multiget xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
        "<D:prop><D:getetag/><C:calendar-data/></D:prop>";
    for (int i = first; i < std::min<int>(first + kBatch, hrefs.size()); ++i)
      body += "<D:href>" + Escaped(hrefs[i]) + "</D:href>";
    body += "</C:calendar-multiget>";
    Reply reply;
    DavError error = Send("REPORT", collection, body, {{"Depth", "1"}}, &reply);
    if (!error.ok()) return error;
    error = ExpectMultistatus(reply, QStringLiteral("the task download"));
    if (!error.ok()) return error;
    const DavMultistatus ms = DavMultistatus::Parse(reply.body);
    if (!ms.error.isEmpty()) return Unreadable(Where(), ms.error);
    for (const DavResponse& r : ms.responses) {
      const QString data = r.props.value(dav::Name(dav::kCalDav, "calendar-data"));
      if (r.status == 404 || data.isEmpty()) continue;
      items->push_back({r.href, r.props.value(dav::Name(dav::kDav, "getetag")).trimmed(), data});
    }
  }
  return DavError();
}

DavError CalDavClient::Get(const QString& href, DavItem* item) {
  Reply reply;
  DavError error = Send("GET", href, {}, {}, &reply);
  if (!error.ok()) return error;
  *item = {href, reply.etag, QString::fromUtf8(reply.body)};
  return DavError();
}

DavError CalDavClient::Put(const QString& href, const QByteArray& data, const QString& ifMatch,
                           QString* etag) {
  QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "text/calendar; charset=utf-8"}};
  if (ifMatch.isEmpty())
    headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
  else
    headers.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
  Reply reply;
  DavError error = Send("PUT", href, data, headers, &reply);
  if (etag) *etag = error.ok() ? reply.etag : QString();
  return error;
}

DavError CalDavClient::Delete(const QString& href, const QString& ifMatch) {
  QList<QPair<QByteArray, QByteArray>> headers;
  if (!ifMatch.isEmpty()) headers.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
  Reply reply;
  return Send("DELETE", href, {}, headers, &reply);
}

DavError CalDavClient::MakeTaskCollection(const QString& href, const QString& displayName) {
  const QByteArray body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<C:mkcalendar xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop>"
      "<D:displayname>" + Escaped(displayName) + "</D:displayname>"
      "<C:supported-calendar-component-set><C:comp name=\"VTODO\"/></C:supported-calendar-component-set>"
      "</D:prop></D:set></C:mkcalendar>";
  Reply reply;
  return Send("MKCALENDAR", href, body, {}, &reply);
}
