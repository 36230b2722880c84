#pragma once

#include <QString>

#include "sync/TaskRecord.h"

// One task read from an iCalendar VTODO.
struct ICalImport {
  TaskRecord task;
  QString uid;      // the VTODO's UID; empty when it had none
  QString summary;  // the VTODO's SUMMARY as written, to name the task in messages
  // Characters of the VTODO that the task files cannot hold (outside Windows-1252). When not
  // empty the task must not be stored; the message is the task editor's refusal message
  // (TaskEditorTextGuard::RefusalMessage) naming the task.
  QString unstorable;
  // Any other reason the task cannot be stored (a DUE out of range); empty when it can.
  QString problem;

  bool Storable() const { return unstorable.isEmpty() && problem.isEmpty(); }
};
