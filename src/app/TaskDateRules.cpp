#include "app/TaskDateRules.h"

#include "db/StoredDateTime.h"

TaskDateRules::Emphasis TaskDateRules::CellEmphasis(int column, bool done, const QString& priority,
                                                    const QString& storedDate, double today) {
  if (done) return Emphasis::None;
  if (column == 0) return priority == QLatin1String("A") ? Emphasis::Bold : Emphasis::None;
  if (column == 1) return storedDate == StoredDateTime::Date(today) ? Emphasis::BoldItalic : Emphasis::None;
  return Emphasis::None;
}

QString TaskDateRules::ReducedDatePattern(const QString& pattern) {
  QString reduced;
  int days = 0, months = 0;
  for (QChar c : pattern) {
    const QChar lower = c.toLower();
    if (lower == QLatin1Char('d') && ++days > 2) continue;
    if (lower == QLatin1Char('m') && ++months > 2) continue;
    reduced += c;
  }
  return reduced;
}
