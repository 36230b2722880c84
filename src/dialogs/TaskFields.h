#pragma once

#include <QString>

// One task's fields as the task file stores them: what the task editor takes in and hands
// back. A plain value; the editor shows the date and time in the user's formats, but they come
// and go in the stored forms (StoredDateTime).
struct TaskFields {
  QString description;
  bool done = false;
  QString keyWords;  // separated by blanks
  QString date;      // "yyyymmdd", empty for none
  QString time;      // "hh:nn", empty for none
  QString priority;  // "A" high, "B" medium, "C" low; anything else leaves the editor's choice
  QString note;      // lines separated by '\n'

  bool operator==(const TaskFields&) const = default;
};
