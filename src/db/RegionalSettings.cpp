#include "db/RegionalSettings.h"


namespace {

struct State {
  RegionalFormats inForce;
  RegionalFormats user;
  QString shortTimeFormat;
  QString longTimeFormat;
  QString longDateFormat;
  QLocale namesLocale;
  // The locale's names, asked for once: a date format with a month or day name is applied to
  // every record a grid or an export shows. Index 0 is long, 1 abbreviated.
  QString monthNames[2][13];
  QString dayNames[2][8];
};

void TakeLocale(State& s, const QLocale& locale) {
  RegionalFormats user = RegionalSettings::LocaleFormats(locale);
  user.ShortDateFormat =
      RegionalSettings::WidenShortDateFormat(user.ShortDateFormat, user.DateSeparator);
  s.user = user;
  s.shortTimeFormat = RegionalSettings::FromQtFormat(locale.timeFormat(QLocale::ShortFormat));
  s.longTimeFormat = RegionalSettings::FromQtFormat(locale.timeFormat(QLocale::LongFormat));
  s.longDateFormat = RegionalSettings::FromQtFormat(locale.dateFormat(QLocale::LongFormat));
  s.namesLocale = locale;
  for (int form = 0; form < 2; ++form) {
    const QLocale::FormatType type = form == 1 ? QLocale::ShortFormat : QLocale::LongFormat;
    for (int m = 1; m <= 12; ++m) s.monthNames[form][m] = locale.monthName(m, type);
    for (int d = 1; d <= 7; ++d) s.dayNames[form][d] = locale.dayName(d, type);
  }
}

State& S() {
  static State state = [] {
    State s;
    TakeLocale(s, QLocale::system());
    s.inForce = RegionalFormats::Fixed();
    return s;
  }();
  return state;
}

bool IsAsciiLetter(QChar c) {
  return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Literal text in the program's pattern language: quoted so that no letter in it is read as a
// pattern letter; a text holding both kinds of quote is split.
QString QuoteLiteral(const QString& text) {
  if (text.isEmpty()) return {};
  if (!text.contains(QLatin1Char('"'))) return QLatin1Char('"') + text + QLatin1Char('"');
  if (!text.contains(QLatin1Char('\''))) return QLatin1Char('\'') + text + QLatin1Char('\'');
  QString out;
  for (QChar c : text) out += QuoteLiteral(QString(c));
  return out;
}

}  // namespace

void RegionalSettings::SaveUserFormats(const QLocale& locale) {
  TakeLocale(S(), locale);
}

void RegionalSettings::SaveUserFormats(const RegionalFormats& user) {
  State& s = S();
  s.user = user;
  s.user.ShortDateFormat = WidenShortDateFormat(user.ShortDateFormat, user.DateSeparator);
}

void RegionalSettings::UseFixedFormats() {
  S().inForce = RegionalFormats::Fixed();
}

void RegionalSettings::UseUserFormats() {
  S().inForce = S().user;
}

void RegionalSettings::PutInForce(const RegionalFormats& formats) {
  S().inForce = formats;
}

const RegionalFormats& RegionalSettings::InForce() {
  return S().inForce;
}

const RegionalFormats& RegionalSettings::UserFormats() {
  return S().user;
}

void RegionalSettings::SetUserShortDateFormat(const QString& format) {
  S().user.ShortDateFormat = format;
}

void RegionalSettings::SetShortDateFormat(const QString& format) {
  S().inForce.ShortDateFormat = format;
}

void RegionalSettings::SetDateSeparator(const QString& separator) {
  S().inForce.DateSeparator = separator;
}

QString RegionalSettings::ShortTimeFormat() {
  return S().shortTimeFormat;
}

QString RegionalSettings::LongTimeFormat() {
  return S().longTimeFormat;
}

QString RegionalSettings::LongDateFormat() {
  return S().longDateFormat;
}

void RegionalSettings::SetShortTimeFormat(const QString& format) {
  S().shortTimeFormat = format;
}

void RegionalSettings::SetLongTimeFormat(const QString& format) {
  S().longTimeFormat = format;
}

void RegionalSettings::SetLongDateFormat(const QString& format) {
  S().longDateFormat = format;
}

QString RegionalSettings::DayName(int dayOfWeek, bool abbreviated) {
  if (dayOfWeek < 1 || dayOfWeek > 7) return {};
  // Qt counts Monday as 1 and Sunday as 7.
  const int qtDay = dayOfWeek == 1 ? 7 : dayOfWeek - 1;
  return S().dayNames[abbreviated ? 1 : 0][qtDay];
}

QString RegionalSettings::MonthName(int month, bool abbreviated) {
  if (month < 1 || month > 12) return {};
  return S().monthNames[abbreviated ? 1 : 0][month];
}

QLocale RegionalSettings::NamesLocale() {
  return S().namesLocale;
}

QString RegionalSettings::WidenShortDateFormat(const QString& format, const QString& separator) {
  const QString upper = format.toUpper();
  if (upper.contains(QLatin1String("YYYY"))) return format;
  QString widened = format;
  if (const qsizetype at = upper.indexOf(QLatin1String("YYY")); at >= 0) {
    widened.insert(at, QLatin1Char('Y'));
  } else if (const qsizetype at2 = upper.indexOf(QLatin1String("YY")); at2 >= 0) {
    widened.insert(at2, QLatin1String("YY"));
  } else if (const qsizetype at1 = upper.indexOf(QLatin1Char('Y')); at1 < 0) {
    widened += separator + QLatin1String("YYYY");
  } else {
    widened.insert(at1, QLatin1String("YYY"));
  }
  return widened.toLower();
}

QString RegionalSettings::FromQtFormat(const QString& qtFormat) {
  QString out;
  const qsizetype n = qtFormat.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = qtFormat[i];
    if (c == QLatin1Char('\'')) {
      // Qt quotes with single quotes; two of them stand for one quote character.
      QString literal;
      ++i;
      if (i < n && qtFormat[i] == QLatin1Char('\'')) {
        out += QuoteLiteral(QStringLiteral("'"));
        ++i;
        continue;
      }
      while (i < n) {
        if (qtFormat[i] == QLatin1Char('\'')) {
          if (i + 1 < n && qtFormat[i + 1] == QLatin1Char('\'')) {
            literal += QLatin1Char('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        literal += qtFormat[i++];
      }
      out += QuoteLiteral(literal);
      continue;
    }
    if (!IsAsciiLetter(c)) {
      out += c == QLatin1Char('"') ? QuoteLiteral(QString(c)) : QString(c);
      ++i;
      continue;
    }
    if (c == QLatin1Char('a') || c == QLatin1Char('A')) {
      // AP, ap, A and a: the morning or afternoon text.
      ++i;
      if (i < n && (qtFormat[i] == QLatin1Char('p') || qtFormat[i] == QLatin1Char('P'))) ++i;
      out += QLatin1String("ampm");
      continue;
    }
    qsizetype count = 1;
    while (i + count < n && qtFormat[i + count] == c) ++count;
    i += count;
    switch (c.unicode()) {
      case 'd':
        out += QString(qMin<qsizetype>(count, 4), QLatin1Char('d'));
        break;
      case 'M':
        out += QString(qMin<qsizetype>(count, 4), QLatin1Char('M'));
        break;
      case 'y':
        out += QString(count >= 3 ? 4 : 2, QLatin1Char('y'));
        break;
      case 'h':
      case 'H':
        out += QString(qMin<qsizetype>(count, 2), QLatin1Char('h'));
        break;
      case 'm':
        out += QString(qMin<qsizetype>(count, 2), QLatin1Char('n'));
        break;
      case 's':
        out += QString(qMin<qsizetype>(count, 2), QLatin1Char('s'));
        break;
      case 'z':
        out += count >= 3 ? QLatin1String("zzz") : QLatin1String("z");
        break;
      case 't':
        break;  // time zone: the program shows none
      default:
        out += QuoteLiteral(QString(count, c));
        break;
    }
  }
  return out.trimmed();
}

QString RegionalSettings::SeparatorOf(const QString& qtFormat, const QString& fieldLetters,
                                      const QString& fallback) {
  bool afterField = false;
  QString run;
  bool inQuote = false;
  for (QChar c : qtFormat) {
    if (c == QLatin1Char('\'')) {
      inQuote = !inQuote;
      afterField = false;
      run.clear();
      continue;
    }
    if (inQuote) continue;
    if (IsAsciiLetter(c)) {
      if (fieldLetters.contains(c)) {
        if (afterField && !run.isEmpty()) {
          const QString trimmed = run.trimmed();
          return trimmed.isEmpty() ? QStringLiteral(" ") : trimmed;
        }
        afterField = true;
      } else {
        afterField = false;
      }
      run.clear();
      continue;
    }
    if (afterField) run += c;
  }
  return fallback;
}

RegionalFormats RegionalSettings::LocaleFormats(const QLocale& locale) {
  const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
  const QString shortTime = locale.timeFormat(QLocale::ShortFormat);
  RegionalFormats f;
  f.ShortDateFormat = FromQtFormat(shortDate);
  f.DateSeparator = SeparatorOf(shortDate, QStringLiteral("dMy"), QStringLiteral("/"));
  f.TimeSeparator = SeparatorOf(shortTime, QStringLiteral("hHms"), QStringLiteral(":"));
  f.AmText = locale.amText();
  f.PmText = locale.pmText();
  return f;
}

FormatsScope::FormatsScope(Set set) : saved_(RegionalSettings::InForce()) {
  if (set == Set::User) RegionalSettings::UseUserFormats();
  else RegionalSettings::UseFixedFormats();
}

FormatsScope::~FormatsScope() { RegionalSettings::PutInForce(saved_); }

UserShortDateScope::UserShortDateScope(const QString& pattern)
    : saved_(RegionalSettings::UserFormats().ShortDateFormat) {
  RegionalSettings::SetUserShortDateFormat(pattern);
}

UserShortDateScope::~UserShortDateScope() { RegionalSettings::SetUserShortDateFormat(saved_); }
