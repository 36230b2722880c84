// The calendar every stored date goes through: known days, leap years, and every day of years
// 1 to 9999 against an independent conversion.

#include "Calendar.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using xb::calendar::Date;
using xb::calendar::DaysInMonth;
using xb::calendar::FromJulianDay;
using xb::calendar::IsLeapYear;
using xb::calendar::IsValidDate;
using xb::calendar::JulianDay;

TEST(CalendarTest, LeapYearsAndMonthLengths) {
  struct Case {
    int year;
    bool leap;
  } years[] = {{1, false}, {4, true}, {100, false}, {400, true}, {1900, false},
               {2000, true}, {2023, false}, {2024, true}, {2100, false}, {9996, true}};
  for (const Case& c : years) {
    EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
    EXPECT_EQ(DaysInMonth(c.year, 2), c.leap ? 29 : 28) << c.year;
  }
  const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(DaysInMonth(2023, m), lengths[m - 1]) << m;
  EXPECT_EQ(DaysInMonth(2023, 0), 0);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(CalendarTest, ValidDatesAreRealDaysInYearsOneTo9999) {
  struct Case {
    int y, m, d;
    bool valid;
  } cases[] = {
      {2024, 2, 29, true}, {2023, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
      {2023, 4, 31, false}, {2023, 12, 31, true}, {2023, 13, 1, false}, {2023, 0, 1, false},
      {2023, 1, 0, false},  {1, 1, 1, true},      {0, 1, 1, false},     {9999, 12, 31, true},
      {10000, 1, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidDate(c.y, c.m, c.d), c.valid) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(CalendarTest, KnownJulianDays) {
  struct Case {
    int y, m, d;
    int64_t jd;
  } cases[] = {
      {2000, 1, 1, 2451545}, {1970, 1, 1, 2440588}, {1899, 12, 30, 2415019},
      {1, 1, 1, 1721426},    {9999, 12, 31, 5373484}, {-4713, 11, 24, 0},
      {1582, 10, 15, 2299161}, {2024, 2, 29, 2460370},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JulianDay(c.y, c.m, c.d), c.jd) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(FromJulianDay(c.jd), (Date{c.y, c.m, c.d})) << c.jd;
  }
  EXPECT_EQ(JulianDay(1, 1, 1), xb::calendar::kFirstDay);
  EXPECT_EQ(JulianDay(9999, 12, 31), xb::calendar::kLastDay);
}

// Damaged date fields (31 February) have always been keyed as the days counted on from the
// month's first day; the index files on disk depend on it.
TEST(CalendarTest, ImpossibleDaysCountOnFromTheMonth) {
  EXPECT_EQ(JulianDay(2023, 2, 31), JulianDay(2023, 3, 3));
  EXPECT_EQ(JulianDay(2023, 1, 0), JulianDay(2022, 12, 31));
}

// An independent conversion (Fliegel and Van Flandern) checks every day a field can hold and
// the years before 1 that date-time fields can name.
Date ReferenceDate(int64_t julian) {
  int64_t l = julian + 68569;
  const int64_t n = 4 * l / 146097;
  l = l - (146097 * n + 3) / 4;
  const int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  const int64_t j = 80 * l / 2447;
  Date d;
  d.day = static_cast<int>(l - 2447 * j / 80);
  l = j / 11;
  d.month = static_cast<int>(j + 2 - 12 * l);
  d.year = 100 * (n - 49) + i + l;
  return d;
}

TEST(CalendarTest, EveryDayRoundTripsAndAgreesWithAnIndependentConversion) {
  int64_t mismatches = 0;
  Date previous = FromJulianDay(0);
  for (int64_t jd = 1; jd <= xb::calendar::kLastDay; ++jd) {
    const Date d = FromJulianDay(jd);
    if (!(d == ReferenceDate(jd)) || JulianDay(d.year, d.month, d.day) != jd) ++mismatches;
    // Consecutive days: the next day of the month, or the first of the next month.
    const bool next_day = d.year == previous.year && d.month == previous.month &&
                          d.day == previous.day + 1;
    const bool next_month = d.day == 1 && previous.day == DaysInMonth(previous.year, previous.month);
    if (!next_day && !next_month) ++mismatches;
    previous = d;
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
