#include "db/DateTimeFormatter.h"

#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"

namespace {

bool IsAsciiLetter(QChar c) {
  return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool StartsWithAt(const QString& pattern, qsizetype at, QLatin1String marker) {
  return at <= pattern.size() &&
         QStringView(pattern).sliced(at).startsWith(marker, Qt::CaseInsensitive);
}

// The length of the am/pm marker at `at`, 0 when there is none.
qsizetype MarkerAt(const QString& pattern, qsizetype at) {
  if (StartsWithAt(pattern, at, QLatin1String("am/pm"))) return 5;
  if (StartsWithAt(pattern, at, QLatin1String("ampm"))) return 4;
  if (StartsWithAt(pattern, at, QLatin1String("a/p"))) return 3;
  return 0;
}

// The position after a quoted literal that opens at `at`; an unclosed quote runs to the end.
qsizetype SkipQuoted(const QString& pattern, qsizetype at) {
  const qsizetype close = pattern.indexOf(pattern[at], at + 1);
  return close < 0 ? pattern.size() : close + 1;
}

}  // namespace

DateTimeFormatter::DateTimeFormatter(const RegionalFormats& formats) : formats_(formats) {}

QString DateTimeFormatter::Format(const QString& pattern, double value) {
  DateTimeValue::DecodeDate(value, year_, month_, day_);
  DateTimeValue::DecodeTime(value, hour_, minute_, second_, msec_);
  dayOfWeek_ = DateTimeValue::DayOfWeek(value);
  out_.clear();
  out_.reserve(pattern.size() + 16);
  Append(pattern, 0);
  return out_;
}

void DateTimeFormatter::AppendNumber(int value, int width) {
  // Written digit by digit: a grid or an export formats a date for every record, and a string
  // per number would dominate that.
  if (value < 0) {
    out_ += QString::number(value).rightJustified(width, QLatin1Char('0'));
    return;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = char('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = n; i < width; ++i) out_ += QLatin1Char('0');
  while (n > 0) out_ += QLatin1Char(digits[--n]);
}

void DateTimeFormatter::AppendNested(const QString& pattern, int depth) {
  if (depth < kMaxDepth) Append(pattern, depth + 1);
}

bool DateTimeFormatter::TwelveHour(const QString& pattern, qsizetype hourAt) const {
  // Hours and markers outside quotes, in pattern order; the hour at `hourAt` pairs with a
  // marker between it and the next hour, or else between the previous hour and it.
  bool markerBefore = false;
  bool seenHour = false;
  qsizetype i = 0;
  while (i < pattern.size()) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      i = SkipQuoted(pattern, i);
      continue;
    }
    const QChar upper = c.toUpper();
    if (upper == QLatin1Char('H')) {
      qsizetype end = i;
      while (end < pattern.size() && pattern[end].toUpper() == QLatin1Char('H')) ++end;
      if (i == hourAt) {
        seenHour = true;
      } else if (seenHour) {
        return markerBefore;
      } else {
        markerBefore = false;
      }
      i = end;
      continue;
    }
    if (upper == QLatin1Char('A')) {
      if (const qsizetype len = MarkerAt(pattern, i)) {
        if (seenHour) return true;
        markerBefore = true;
        i += len;
        continue;
      }
    }
    ++i;
  }
  return markerBefore;
}

void DateTimeFormatter::Append(const QString& pattern, int depth) {
  QChar lastToken;
  qsizetype i = 0;
  const qsizetype n = pattern.size();
  while (i < n) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      const qsizetype close = pattern.indexOf(c, i + 1);
      const qsizetype textEnd = close < 0 ? n : close;
      out_ += pattern.mid(i + 1, textEnd - i - 1);
      i = close < 0 ? n : close + 1;
      continue;
    }
    if (c == QLatin1Char('/')) {
      out_ += formats_.DateSeparator;
      ++i;
      continue;
    }
    if (c == QLatin1Char(':')) {
      out_ += formats_.TimeSeparator;
      ++i;
      continue;
    }
    if (!IsAsciiLetter(c)) {
      out_ += c;
      ++i;
      continue;
    }

    QChar token = c.toUpper();
    if (token == QLatin1Char('M') && lastToken == QLatin1Char('H')) token = QLatin1Char('N');
    lastToken = token;

    if (token == QLatin1Char('A')) {
      const qsizetype len = MarkerAt(pattern, i);
      const bool pm = hour_ >= 12;
      if (len == 5) {
        out_ += pattern.mid(pm ? i + 3 : i, 2);
      } else if (len == 4) {
        out_ += pm ? formats_.PmText : formats_.AmText;
      } else if (len == 3) {
        out_ += pattern[pm ? i + 2 : i];
      } else {
        out_ += c;
        ++i;
        continue;
      }
      i += len;
      continue;
    }

    qsizetype count = 1;
    while (i + count < n && pattern[i + count].toUpper() == c.toUpper()) ++count;
    const qsizetype at = i;
    i += count;
    switch (token.unicode()) {
      case 'Y':
        if (count <= 2)
          AppendNumber(year_ % 100, 2);
        else
          AppendNumber(year_, 4);
        break;
      case 'M':
        if (count == 1)
          AppendNumber(month_, 1);
        else if (count == 2)
          AppendNumber(month_, 2);
        else
          out_ += RegionalSettings::MonthName(month_, count == 3);
        break;
      case 'D':
        if (count <= 2)
          AppendNumber(day_, static_cast<int>(count));
        else if (count <= 4)
          out_ += RegionalSettings::DayName(dayOfWeek_, count == 3);
        else if (count == 5)
          AppendNested(formats_.ShortDateFormat, depth);
        else
          AppendNested(RegionalSettings::LongDateFormat(), depth);
        break;
      case 'H': {
        int hour = hour_;
        if (TwelveHour(pattern, at)) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        AppendNumber(hour, count >= 2 ? 2 : 1);
        break;
      }
      case 'N':
        AppendNumber(minute_, count >= 2 ? 2 : 1);
        break;
      case 'S':
        AppendNumber(second_, count >= 2 ? 2 : 1);
        break;
      case 'Z':
        AppendNumber(msec_, count >= 3 ? 3 : 1);
        break;
      case 'T':
        AppendNested(
            count == 1 ? RegionalSettings::ShortTimeFormat() : RegionalSettings::LongTimeFormat(),
            depth);
        break;
      case 'C':
        AppendNested(formats_.ShortDateFormat, depth);
        if (hour_ != 0 || minute_ != 0 || second_ != 0 || msec_ != 0) {
          out_ += QLatin1Char(' ');
          AppendNested(RegionalSettings::LongTimeFormat(), depth);
        }
        break;
      default:
        out_ += pattern.mid(at, count);
        break;
    }
  }
}
