#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

class QNetworkAccessManager;

// The outcome of one request to the server. `kind` says what the caller may do about it; the
// message is for people and names the server and the problem.
struct DavError {
  enum class Kind {
    None,
    Unreachable,         // refused, unknown host, network down
    Timeout,
    Unauthorized,        // 401: wrong user name or password
    Forbidden,           // 403
    NotFound,            // 404 / 410
    PreconditionFailed,  // 412: the resource is not in the state the request expected
    Conflict,            // 409 (e.g. another resource already has the UID)
    InvalidSyncToken,    // the server no longer knows the sync token (RFC 6578 3.2)
    NotSupported,        // the server lacks a report (501, or 403 supported-report)
    ServerError,         // 5xx
    BadResponse,         // an answer we cannot read, or another unexpected status
    Cancelled,
  };
  Kind kind = Kind::None;
  int httpStatus = 0;
  QString message;

  bool ok() const { return kind == Kind::None; }
};

// A calendar collection as the server lists it.
struct CalDavCollection {
  QString href;            // the collection's path, ending in "/"
  QString displayName;
  QStringList components;  // supported components ("VTODO", "VEVENT"); empty = not said
  QString ctag;            // getctag, when the server has it
  QString syncToken;       // sync-token, when the server has it

  // A collection that may hold tasks: it says it supports VTODO, or it does not say.
  bool HoldsTasks() const { return components.isEmpty() || components.contains(QStringLiteral("VTODO")); }
};

// One calendar object resource: its address, change mark and (when fetched) its text.
struct DavItem {
  QString href;
  QString etag;
  QString data;
};

// What changed in a collection since a sync token (RFC 6578).
struct DavChanges {
  QString token;                 // the collection's token after these changes
  std::vector<DavItem> changed;  // new or changed members, with their ETags (no data)
  QStringList removed;           // hrefs of members that are gone
};

// A CalDAV client for task collections (RFC 4791, RFC 6578) over Qt Network. Calls are
// synchronous: each runs its request in a local event loop and returns when it is answered,
// timed out or cancelled, so the sync reads as a sequence of steps. Hrefs go in and out as the
// server writes them (absolute paths); SameHref compares them.
class CalDavClient {
 public:
  CalDavClient(const QUrl& server, const QString& user, const QString& password);
  ~CalDavClient();
  CalDavClient(const CalDavClient&) = delete;
  CalDavClient& operator=(const CalDavClient&) = delete;

  // Asked between network events; true stops the request in progress (Kind::Cancelled).
  void SetCancelCheck(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
  void SetTimeoutMs(int ms) { timeoutMs_ = ms; }
  QUrl Server() const { return server_; }

  // The calendar collections of the user: current-user-principal, then calendar-home-set,
  // then the members of each home (RFC 4791 section 6.2.1, RFC 5397).
  DavError Discover(std::vector<CalDavCollection>* collections);
  // The collection's own properties (display name, components, ctag, sync token).
  DavError Collection(const QString& href, CalDavCollection* collection);
  // Members changed or removed since `token` ("" = everything: the initial sync).
  DavError SyncCollection(const QString& href, const QString& token, DavChanges* changes);
  // Every task of the collection with its ETag (calendar-query for VTODO): for servers without
  // sync-collection.
  DavError ListTasks(const QString& href, std::vector<DavItem>* items);
  // The texts and ETags of the given members (calendar-multiget). Members that are gone are
  // left out.
  DavError Multiget(const QString& collection, const QStringList& hrefs, std::vector<DavItem>* items);
  DavError Get(const QString& href, DavItem* item);
  // Stores `data` at `href`. With `ifMatch` empty the resource must not exist yet
  // (If-None-Match: *); otherwise it must still have that ETag. `etag` receives the new ETag
  // when the server tells it (empty otherwise).
  DavError Put(const QString& href, const QByteArray& data, const QString& ifMatch, QString* etag);
  // Removes the resource if it still has that ETag (any ETag when `ifMatch` is empty).
  DavError Delete(const QString& href, const QString& ifMatch);
  // Makes a calendar collection for tasks (MKCALENDAR).
  DavError MakeTaskCollection(const QString& href, const QString& displayName);

  // The path of an href or URL without percent-encoding, for comparing hrefs.
  static QString HrefKey(const QString& href);
  static bool SameHref(const QString& a, const QString& b) { return HrefKey(a) == HrefKey(b); }
  // One spelling of an href, whatever characters the server chose to percent-encode, for
  // keeping hrefs as keys.
  static QString CanonicalHref(const QString& href);
  // The href of a member named `name` inside collection `collection`.
  static QString MemberHref(const QString& collection, const QString& name);

 private:
  struct Reply {
    int status = 0;
    QByteArray body;
    QString etag;
  };
  DavError Send(const QByteArray& verb, const QString& href, const QByteArray& body,
                const QList<QPair<QByteArray, QByteArray>>& headers, Reply* reply);
  DavError Propfind(const QString& href, int depth, const QByteArray& body, Reply* reply);
  DavError ExpectMultistatus(const Reply& reply, const QString& what) const;
  QUrl Resolve(const QString& href) const;
  QString Where() const;

  QUrl server_;
  QString user_;
  QString password_;
  // Generous: a server may take minutes over its first look at a large collection, and the
  // progress window lets people cancel a wait that is too long for them.
  int timeoutMs_ = 300000;
  std::function<bool()> cancelled_;
  std::unique_ptr<QNetworkAccessManager> network_;
};
