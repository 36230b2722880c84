#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// One <response> of a WebDAV multistatus answer, reduced to what a calendar client reads.
// Properties are keyed by their expanded name, "{namespace}local" (e.g. "{DAV:}getetag").
struct DavResponse {
  QString href;     // as the server wrote it (a path, percent-encoded)
  int status = 0;   // the response's own status (e.g. 404 for a removed member); 0 when absent
  QHash<QString, QString> props;          // text of the properties found (status 200)
  QHash<QString, QStringList> propHrefs;  // <href> children of properties found
  QStringList resourceTypes;              // expanded names inside <resourcetype>
  QStringList components;                 // names of <comp> in supported-calendar-component-set
};

// A parsed multistatus body (RFC 4918 section 13, with the sync-token of RFC 6578).
struct DavMultistatus {
  std::vector<DavResponse> responses;
  QString syncToken;  // the multistatus-level <sync-token>, when present
  QString error;      // not a multistatus document: why; everything else is empty then

  static DavMultistatus Parse(const QByteArray& body);
};

// Names of the properties the calendar client asks for.
namespace dav {
inline const QString kDav = QStringLiteral("DAV:");
inline const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
inline const QString kCalendarServer = QStringLiteral("http://calendarserver.org/ns/");
QString Name(const QString& ns, const char* local);
}  // namespace dav
