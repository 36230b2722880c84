#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "sync/ICalTask.h"

// A VTODO of a file that was not added, and why.
struct ICalSkip {
  QString summary;     // the VTODO's SUMMARY, or empty when it had none
  QString unstorable;  // characters the task files cannot hold (see ICalImport)
  QString problem;     // any other reason
};

// What an .ics file holds for the task list.
struct ICalFileContents {
  std::vector<ICalImport> tasks;  // storable tasks, in file order
  std::vector<ICalSkip> skipped;  // VTODOs that cannot be stored, in file order
  QString error;                  // the file as a whole could not be read; nothing else is set
};

// Whole .ics files: every VTODO of every VCALENDAR in the file (other components, such as
// VEVENTs, are passed over).
class ICalFile {
 public:
  static ICalFileContents Parse(const QByteArray& data);
  static ICalFileContents Read(const QString& path);

  struct Entry {
    TaskRecord task;
    QString uid;  // empty: a fresh UID is made
  };
  // One VCALENDAR holding one VTODO per task, in the given order; lines are CRLF-ended and
  // folded as RFC 5545 asks.
  static QByteArray Write(const std::vector<Entry>& tasks,
                          const QDateTime& now = QDateTime::currentDateTimeUtc());
  // Writes the file complete or not at all (a temporary file renamed into place). Returns the
  // reason on failure, empty on success.
  static QString Save(const QString& path, const std::vector<Entry>& tasks);
};
