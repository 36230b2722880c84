#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

// Date-time values as the program passes them around: a double whose whole part counts days
// from 30 December 1899 and whose fraction is the time of day. Days before that date are
// negative; their fraction still counts forward from midnight, so -1.25 is 29 December 1899,
// 06:00. Dates run from 1 January of the year 1 to 31 December 9999 on the Gregorian calendar.
class DateTimeValue {
 public:
  static constexpr qint64 kMsPerDay = 86'400'000;
  static constexpr double kMinDate = -693593.0;  // 1 January 0001
  static constexpr double kMaxDate = 2958465.0;  // 31 December 9999

  static bool IsLeapYear(int year);
  // 0 when the month is outside 1..12.
  static int DaysInMonth(int year, int month);
  static bool IsValidDate(int year, int month, int day);

  // False (and `value` untouched) unless year 1..9999, month 1..12 and the day lies in the month.
  static bool TryEncodeDate(int year, int month, int day, double& value);
  // Throws DateTimeConvertError where TryEncodeDate gives false.
  static double EncodeDate(int year, int month, int day);
  // False unless hour 0..23, minute and second 0..59, msec 0..999.
  static bool TryEncodeTime(int hour, int minute, int second, int msec, double& value);
  static double EncodeTime(int hour, int minute, int second = 0, int msec = 0);
  // A date (whole days) and a time of day (fraction) joined into one value, also before 1899.
  static double Compose(double date, double time);

  // False for values that are not finite or lie outside the years 1..9999.
  static bool IsValidValue(double value);
  // The parts of a value; a time within half a millisecond of midnight rounds to the next day.
  // Throw DateTimeConvertError for a value that IsValidValue refuses.
  static void DecodeDate(double value, int& year, int& month, int& day);
  static void DecodeTime(double value, int& hour, int& minute, int& second, int& msec);
  // 1 = Sunday ... 7 = Saturday.
  static int DayOfWeek(double value);
  // The whole days of a value and its time of day, each as a value of its own.
  static double DateOf(double value);
  static double TimeOf(double value);

  // The present moment from the system clock, local time.
  static double Today();
  static double Now();
  static double CurrentTime();

  // Bridges to Qt types for widgets that show dates. An invalid QDate/QTime gives false.
  static QDate ToQDate(double value);
  static QTime ToQTime(double value);
  static bool TryFromQDate(const QDate& date, double& value);
  static double FromQDateTime(const QDateTime& dateTime);

 private:
  // Splits a valid value into a day number (days from 1899-12-30) and milliseconds of the day.
  static void Split(double value, qint64& day, qint64& msOfDay);
};
