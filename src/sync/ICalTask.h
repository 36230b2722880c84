#pragma once

#include <QDateTime>
#include <QString>

#include "sync/ICalImport.h"
#include "sync/TaskRecord.h"

// The mapping between a task and an iCalendar VTODO (RFC 5545), through libical:
//   DESCRIPT <-> SUMMARY (cut to 50 on import; the full summary starts the note)
//   NOTE <-> DESCRIPTION, DATE/TIME <-> DUE (DATE value, or floating local time; a DUE in UTC or
//   with a TZID is converted to local time), PRIORITY A/B/C <-> 1/5/9, DONE <-> STATUS:COMPLETED
//   with COMPLETED, KEYS <-> CATEGORIES.
// Texts go in and out as complete iCalendar objects (BEGIN:VCALENDAR ... END:VCALENDAR), the
// form a CalDAV resource and an .ics file have.
class ICalTask {
 public:
  // A VCALENDAR holding one VTODO for the task, with the given UID. `now` stamps DTSTAMP and,
  // for a done task, COMPLETED.
  static QString ToICalendar(const TaskRecord& task, const QString& uid,
                             const QDateTime& now = QDateTime::currentDateTimeUtc());

  // The first VTODO of an iCalendar object. When the text is not iCalendar or holds no VTODO,
  // the result has a problem saying so.
  static ICalImport FromICalendar(const QString& text);

  // The server's copy `serverText` with the task's mapped properties replaced by those of
  // `task` (and the UID set); every other property and component of the object is kept, so a
  // sync does not strip what other clients store (alarms, start dates, recurrence). When
  // `serverText` cannot be read, the result is ToICalendar(task, uid, now).
  static QString Merge(const QString& serverText, const TaskRecord& task, const QString& uid,
                       const QDateTime& now = QDateTime::currentDateTimeUtc());

  // A fresh UID for a task that has none (a random UUID, without braces).
  static QString NewUid();
};
