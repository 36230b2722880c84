#include "db/DateTimeText.h"

#include "db/DateTimeConvertError.h"
#include "db/DateTimeFormatter.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"

namespace {

// Reads a date or time text from left to right. Only the ASCII blank counts as a blank and only
// ASCII digits as digits, so nothing the user cannot see decides whether a text is valid.
class Scanner {
 public:
  explicit Scanner(const QString& text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == QLatin1Char(' ')) ++pos_;
  }

  // Digits are taken while the value read so far is below 1000, so no number can overflow and
  // a fifth digit is left unread.
  bool Number(int& value) {
    SkipBlanks();
    if (pos_ >= text_.size() || !IsDigit(text_[pos_])) return false;
    value = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_]) && value < 1000)
      value = value * 10 + (text_[pos_++].unicode() - '0');
    return true;
  }

  // A separator that is itself a blank is matched by one or more blanks.
  bool Text(const QString& expected) {
    if (expected.isEmpty()) return false;
    const qsizetype start = pos_;
    SkipBlanks();
    if (expected.trimmed().isEmpty()) return pos_ > start;
    if (QStringView(text_).sliced(pos_).startsWith(expected, Qt::CaseInsensitive)) {
      pos_ += expected.size();
      return true;
    }
    pos_ = start;
    return false;
  }

  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }

 private:
  static bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

  const QString& text_;
  qsizetype pos_ = 0;
};

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

DateOrder OrderOf(const QString& shortDateFormat) {
  QChar quote;
  for (QChar c : shortDateFormat) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      continue;
    }
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      quote = c;
      continue;
    }
    switch (c.toUpper().unicode()) {
      case 'D':
        return DateOrder::DayMonthYear;
      case 'Y':
        return DateOrder::YearMonthDay;
      case 'M':
        return DateOrder::MonthDayYear;
      default:
        break;
    }
  }
  return DateOrder::MonthDayYear;
}

}  // namespace

bool DateTimeText::TryStrToDate(const QString& text, double& value) {
  return TryStrToDate(text, RegionalSettings::InForce(), value);
}

bool DateTimeText::TryStrToDate(const QString& text, const RegionalFormats& formats,
                                double& value) {
  Scanner scan(text);
  const QString& sep = formats.DateSeparator;
  int n1 = 0, n2 = 0, n3 = 0;
  if (!scan.Number(n1) || !scan.Text(sep) || !scan.Number(n2)) return false;
  bool three = false;
  if (scan.Text(sep)) {
    if (!scan.Number(n3)) return false;
    three = true;
    scan.Text(sep);
  }
  if (!scan.AtEnd()) return false;

  // The current year is only needed for two-number dates and two-digit years; asking the
  // clock (and the time zone) for every stored date would dominate a pass over many tasks.
  auto currentYear = [] {
    int y = 0, m = 0, d = 0;
    DateTimeValue::DecodeDate(DateTimeValue::Today(), y, m, d);
    return y;
  };
  const DateOrder order = OrderOf(formats.ShortDateFormat);
  int year = 0, month = 0, day = 0;
  if (three) {
    switch (order) {
      case DateOrder::MonthDayYear:
        month = n1, day = n2, year = n3;
        break;
      case DateOrder::DayMonthYear:
        day = n1, month = n2, year = n3;
        break;
      case DateOrder::YearMonthDay:
        year = n1, month = n2, day = n3;
        break;
    }
    if (year <= 99) year += currentYear() / 100 * 100;
  } else {
    year = currentYear();
    if (order == DateOrder::DayMonthYear)
      day = n1, month = n2;
    else
      month = n1, day = n2;
  }
  return DateTimeValue::TryEncodeDate(year, month, day, value);
}

bool DateTimeText::TryStrToTime(const QString& text, double& value) {
  return TryStrToTime(text, RegionalSettings::InForce(), value);
}

bool DateTimeText::TryStrToTime(const QString& text, const RegionalFormats& formats,
                                double& value) {
  Scanner scan(text);
  const QString& sep = formats.TimeSeparator;
  int hour = 0, minute = 0, second = 0;
  if (!scan.Number(hour)) return false;
  if (scan.Text(sep)) {
    if (!scan.Number(minute)) return false;
    if (scan.Text(sep) && !scan.Number(second)) return false;
  }
  // An empty designator in force would match anything, so it is not tried.
  auto matches = [&scan](const QString& designator) {
    return !designator.isEmpty() && scan.Text(designator);
  };
  if (matches(formats.AmText) || matches(QStringLiteral("AM"))) {
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
  } else if (matches(formats.PmText) || matches(QStringLiteral("PM"))) {
    if (hour < 1 || hour > 12) return false;
    if (hour != 12) hour += 12;
  }
  if (!scan.AtEnd()) return false;
  return DateTimeValue::TryEncodeTime(hour, minute, second, 0, value);
}

double DateTimeText::StrToDate(const QString& text) {
  double value = 0;
  if (!TryStrToDate(text, value))
    throw DateTimeConvertError(QStringLiteral("'%1' is not a valid date").arg(text));
  return value;
}

double DateTimeText::StrToTime(const QString& text) {
  double value = 0;
  if (!TryStrToTime(text, value))
    throw DateTimeConvertError(QStringLiteral("'%1' is not a valid time").arg(text));
  return value;
}

QString DateTimeText::FormatDateTime(const QString& pattern, double value) {
  return FormatDateTime(pattern, value, RegionalSettings::InForce());
}

QString DateTimeText::FormatDateTime(const QString& pattern, double value,
                                     const RegionalFormats& formats) {
  return DateTimeFormatter(formats).Format(pattern, value);
}

bool DateTimeText::IsValidDate(const QString& text) {
  double value = 0;
  return TryStrToDate(text, value);
}

bool DateTimeText::IsValidTime(const QString& text) {
  double value = 0;
  return TryStrToTime(text, value);
}
