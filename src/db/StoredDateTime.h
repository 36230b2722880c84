#pragma once

#include <QString>

// The task file's own forms of a date and a time: DATE holds "yyyymmdd" and TIME "hh:nn", the
// same whatever the user's regional settings, so that files move between machines. Every
// reader and writer of those two fields goes through here.
class StoredDateTime {
 public:
  // The date value of a stored DATE; false, with `value` untouched, unless it is eight
  // characters that make a valid date.
  static bool ParseDate(const QString& stored, double& value);
  // The time value of a stored TIME; false, with `value` untouched, when it is no time.
  static bool ParseTime(const QString& stored, double& value);
  // `value`'s date as stored ("yyyymmdd") and its time as stored ("hh:nn").
  static QString Date(double value);
  static QString Time(double value);
};
