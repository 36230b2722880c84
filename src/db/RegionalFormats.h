#pragma once

#include <QString>

// The five items of a regional settings set that take turns in force: the fixed set the
// program runs with, and the copy of the user's own values saved at start-up.
struct RegionalFormats {
  QString ShortDateFormat;  // pattern letters of DateTimeFormatter, e.g. "mm/dd/yyyy"
  QString DateSeparator;    // what "/" stands for in a pattern, and what date texts use
  QString TimeSeparator;    // what ":" stands for in a pattern, and what time texts use
  QString AmText;           // morning designator
  QString PmText;           // afternoon designator

  // "mm/dd/yyyy", "/", ":", "AM", "PM": the stored forms of dates and times are built and read
  // under these, whatever the user's own settings are.
  static RegionalFormats Fixed();

  bool operator==(const RegionalFormats& other) const = default;
};
