#pragma once

// The proleptic Gregorian calendar, the only one the stored files know: date fields hold
// 'YYYYMMDD', date-time fields and date index keys hold Julian day numbers. Every layer (engine,
// dataset layer, tools) asks here, so leap years and day numbers have one definition.
// Header-only and constexpr: the index key of every date record passes through JulianDay.

#include <cstdint>

namespace xb::calendar {

// Day numbers of 0001-01-01 and 9999-12-31, the range a 'YYYYMMDD' text can name.
constexpr int64_t kFirstDay = 1721426;
constexpr int64_t kLastDay = 5373484;

constexpr bool IsLeapYear(int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// 28 to 31; 0 for a month outside 1 to 12.
constexpr int DaysInMonth(int64_t year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A real calendar day in the years a date field can hold (1 to 9999).
constexpr bool IsValidDate(int64_t year, int month, int day) {
  return year >= 1 && year <= 9999 && day >= 1 && day <= DaysInMonth(year, month);
}

// Julian day number of a Gregorian date (2000-01-01 is 2451545). Exact for real dates from
// 4800 BC on. It does not check its input: day 0 or day 31 of a shorter month count on from the
// month's first day, and date index keys of damaged fields have always been built this way, so
// the arithmetic must stay as it is.
constexpr int64_t JulianDay(int64_t year, int64_t month, int64_t day) {
  const int64_t a = (14 - month) / 12;
  const int64_t y = year + 4800 - a;
  const int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

struct Date {
  int64_t year = 0;
  int month = 0;
  int day = 0;
  friend constexpr bool operator==(const Date&, const Date&) = default;
};

// The Gregorian date of a Julian day number; the inverse of JulianDay for every day number
// (negative ones and years before 1 included), as the division rounds toward minus infinity.
constexpr Date FromJulianDay(int64_t julian_day) {
  const int64_t z = julian_day - 1721120;  // days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;                                    // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);              // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                   // March is 0
  Date date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = yoe + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

}  // namespace xb::calendar
