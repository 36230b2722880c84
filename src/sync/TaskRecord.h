#pragma once

#include <QString>

#include <cstdint>

// One task as the task table stores it: the seven fields, as the cursor layer hands them out
// (character fields without trailing blanks). This is the value that crosses between the task
// table, the iCalendar mapping and the sync.
struct TaskRecord {
  QString date;      // "yyyymmdd", or empty when the task has no date
  QString time;      // "hh:nn" (24-hour), or empty when the task has no time
  QString descript;  // at most 50 characters
  QString note;      // any length
  bool done = false;
  QString keys;      // blank-separated key words, at most 60 characters
  QString priority;  // "A", "B", "C", or empty

  bool operator==(const TaskRecord&) const = default;

  // Field widths of the task table.
  static constexpr int kDescriptWidth = 50;
  static constexpr int kKeysWidth = 60;

  // A fingerprint of the stored content: equal fingerprints mean equal tasks (trailing blanks
  // do not count, as the table does not keep them). 16 hex digits.
  QString Fingerprint() const;
};
