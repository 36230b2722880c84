#pragma once

#include <QString>
#include <vector>

#include "db/RegionalFormats.h"

// Writes a date-time value with a pattern. Pattern letters ignore case:
//   d dd ddd dddd ddddd dddddd   day, two-digit day, short and full day name, the short date
//                                format in force, the long date format
//   m mm mmm mmmm                month, two-digit month, short and full month name; right
//                                after an hour (h) m and mm are minutes
//   yy yyyy                      two- and four-digit year (one or two y give two digits)
//   h hh n nn s ss z zzz         hour, minute, second, millisecond (hh, nn, ss: two digits)
//   t tt                         the short and the long time format
//   c                            short date, then the long time unless the time is midnight
//   am/pm a/p                    12-hour clock for the hour before it; the text as written
//   ampm                         12-hour clock; the AM or PM text in force
//   / :                          the date and the time separator in force
//   "..." '...'                  literal text
// Any other character is copied. An hour is on the 12-hour clock when an am/pm marker follows
// it before the next hour, or precedes it after the previous one.
class DateTimeFormatter {
 public:
  explicit DateTimeFormatter(const RegionalFormats& formats);

  // Throws DateTimeConvertError for a value outside the years 1..9999 or not finite.
  QString Format(const QString& pattern, double value);

 private:
  // Pattern formats that name other formats (ddddd, t, c...) are expanded at most this deep, so
  // a format that names itself cannot recurse without end.
  static constexpr int kMaxDepth = 2;

  void Append(const QString& pattern, int depth);
  void AppendNumber(int value, int width);
  void AppendNested(const QString& pattern, int depth);
  bool TwelveHour(const QString& pattern, qsizetype hourAt) const;

  const RegionalFormats& formats_;
  QString out_;
  int year_ = 0, month_ = 0, day_ = 0, dayOfWeek_ = 0;
  int hour_ = 0, minute_ = 0, second_ = 0, msec_ = 0;
};
