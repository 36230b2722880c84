#pragma once

#include <QString>

#include "db/RegionalFormats.h"

// Date and time texts: reading what the user types and writing values with a pattern. Every
// function without a RegionalFormats argument uses the regional settings in force
// (RegionalSettings::InForce) at the moment it runs.
//
// Reading a date: blanks are skipped before numbers and separators; a number is read digit by
// digit while its value is below 1000; the text is number, separator, number, optionally
// separator and a third number, optionally one more separator and blanks. The order of the
// numbers follows the first d, m or y of the short date format (month-day-year when there is
// none); two numbers are day and month of the current year; a year of 0..99 lies in the
// current century. Reading a time: hour, optionally separator and minutes, optionally separator
// and seconds, then optionally the morning or afternoon text in force or AM/PM (any case).
class DateTimeText {
 public:
  // False, with `value` untouched, when the text is not a date (a time).
  static bool TryStrToDate(const QString& text, double& value);
  static bool TryStrToDate(const QString& text, const RegionalFormats& formats, double& value);
  static bool TryStrToTime(const QString& text, double& value);
  static bool TryStrToTime(const QString& text, const RegionalFormats& formats, double& value);
  // Whether `text` converts to a date (a time) under the settings in force; never throws.
  static bool IsValidDate(const QString& text);
  static bool IsValidTime(const QString& text);
  // Throw DateTimeConvertError where the Try functions give false.
  static double StrToDate(const QString& text);
  static double StrToTime(const QString& text);

  // `value` written with the pattern language of DateTimeFormatter (see docs/datetime.md).
  // Throws DateTimeConvertError for a value outside the years 1..9999 or not finite.
  static QString FormatDateTime(const QString& pattern, double value);
  static QString FormatDateTime(const QString& pattern, double value,
                                const RegionalFormats& formats);
};
