#include "db/DateTimeValue.h"

#include <cmath>

#include "Calendar.h"
#include "db/DateTimeConvertError.h"

namespace {

// Days from 1 January 1970 (Julian day 2440588) of a proleptic Gregorian date, and back.
constexpr qint64 kUnixEpochJulianDay = 2440588;

qint64 DaysFromCivil(qint64 y, qint64 m, qint64 d) {
  return xb::calendar::JulianDay(y, m, d) - kUnixEpochJulianDay;
}

void CivilFromDays(qint64 z, int& year, int& month, int& day) {
  const xb::calendar::Date date = xb::calendar::FromJulianDay(z + kUnixEpochJulianDay);
  year = static_cast<int>(date.year);
  month = date.month;
  day = date.day;
}

// Day 0 of the program's values, 30 December 1899, counted from 1 January 1970.
constexpr qint64 kEpochOffset = -25569;

}  // namespace

bool DateTimeValue::IsLeapYear(int year) { return xb::calendar::IsLeapYear(year); }

int DateTimeValue::DaysInMonth(int year, int month) {
  return xb::calendar::DaysInMonth(year, month);
}

bool DateTimeValue::IsValidDate(int year, int month, int day) {
  return xb::calendar::IsValidDate(year, month, day);
}

bool DateTimeValue::TryEncodeDate(int year, int month, int day, double& value) {
  if (!IsValidDate(year, month, day)) return false;
  value = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
  return true;
}

double DateTimeValue::EncodeDate(int year, int month, int day) {
  double value = 0;
  if (!TryEncodeDate(year, month, day, value))
    throw DateTimeConvertError(
        QStringLiteral("Invalid date: year %1, month %2, day %3").arg(year).arg(month).arg(day));
  return value;
}

bool DateTimeValue::TryEncodeTime(int hour, int minute, int second, int msec, double& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  const qint64 ms = ((hour * 60LL + minute) * 60LL + second) * 1000LL + msec;
  value = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

double DateTimeValue::EncodeTime(int hour, int minute, int second, int msec) {
  double value = 0;
  if (!TryEncodeTime(hour, minute, second, msec, value))
    throw DateTimeConvertError(
        QStringLiteral("Invalid time: %1:%2:%3.%4").arg(hour).arg(minute).arg(second).arg(msec));
  return value;
}

double DateTimeValue::Compose(double date, double time) {
  const double day = std::trunc(date);
  const double fraction = std::fabs(time - std::trunc(time));
  return day < 0 ? day - fraction : day + fraction;
}

bool DateTimeValue::IsValidValue(double value) {
  // The last millisecond of 31 December 9999 still belongs to that day.
  return std::isfinite(value) && value > kMinDate - 1.0 && value < kMaxDate + 1.0;
}

void DateTimeValue::Split(double value, qint64& day, qint64& msOfDay) {
  if (!IsValidValue(value))
    throw DateTimeConvertError(QStringLiteral("Invalid date-time value: %1").arg(value));
  day = static_cast<qint64>(std::trunc(value));
  msOfDay = std::llround(std::fabs(value - static_cast<double>(day)) * kMsPerDay);
  if (msOfDay >= kMsPerDay) {
    // Rounding reached the following midnight, which for a negative value lies one day further
    // from zero: -1.9999999999 is -2.0, 28 December 1899 at midnight.
    msOfDay -= kMsPerDay;
    day += value < 0 ? -1 : 1;
  }
}

void DateTimeValue::DecodeDate(double value, int& year, int& month, int& day) {
  qint64 dayNumber = 0, ms = 0;
  Split(value, dayNumber, ms);
  CivilFromDays(dayNumber + kEpochOffset, year, month, day);
}

void DateTimeValue::DecodeTime(double value, int& hour, int& minute, int& second, int& msec) {
  qint64 dayNumber = 0, ms = 0;
  Split(value, dayNumber, ms);
  msec = static_cast<int>(ms % 1000);
  second = static_cast<int>(ms / 1000 % 60);
  minute = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
}

int DateTimeValue::DayOfWeek(double value) {
  qint64 dayNumber = 0, ms = 0;
  Split(value, dayNumber, ms);
  // Day 0, 30 December 1899, was a Saturday (7).
  const qint64 r = ((dayNumber + 6) % 7 + 7) % 7;
  return static_cast<int>(r) + 1;
}

double DateTimeValue::DateOf(double value) {
  qint64 dayNumber = 0, ms = 0;
  Split(value, dayNumber, ms);
  return static_cast<double>(dayNumber);
}

double DateTimeValue::TimeOf(double value) {
  qint64 dayNumber = 0, ms = 0;
  Split(value, dayNumber, ms);
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

double DateTimeValue::Today() {
  return DateOf(Now());
}

double DateTimeValue::Now() {
  return FromQDateTime(QDateTime::currentDateTime());
}

double DateTimeValue::CurrentTime() {
  return TimeOf(Now());
}

QDate DateTimeValue::ToQDate(double value) {
  int y = 0, m = 0, d = 0;
  DecodeDate(value, y, m, d);
  return QDate(y, m, d);
}

QTime DateTimeValue::ToQTime(double value) {
  int h = 0, n = 0, s = 0, ms = 0;
  DecodeTime(value, h, n, s, ms);
  return QTime(h, n, s, ms);
}

bool DateTimeValue::TryFromQDate(const QDate& date, double& value) {
  return date.isValid() && TryEncodeDate(date.year(), date.month(), date.day(), value);
}

double DateTimeValue::FromQDateTime(const QDateTime& dateTime) {
  const QDate d = dateTime.date();
  const QTime t = dateTime.time();
  return Compose(EncodeDate(d.year(), d.month(), d.day()),
                 EncodeTime(t.hour(), t.minute(), t.second(), t.msec()));
}
