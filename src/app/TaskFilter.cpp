#include "app/TaskFilter.h"

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "platform/BlankText.h"

bool TaskFilter::Narrowed() const { return dateIndex != 0 || !keyText.isEmpty() || priorityIndex != 0; }

QString TaskFilter::Literal(const QString& word) {
  const QString upper = word.toUpper();
  if (!upper.contains(QLatin1Char('"'))) return QLatin1Char('"') + upper + QLatin1Char('"');
  if (!upper.contains(QLatin1Char('\''))) return QLatin1Char('\'') + upper + QLatin1Char('\'');
  if (!upper.contains(QLatin1Char(']'))) return QLatin1Char('[') + upper + QLatin1Char(']');
  // Every delimiter occurs in the word: the pieces between double quotes go between double
  // quotes, and each double quote itself between single quotes.
  QStringList pieces;
  for (const QString& piece : upper.split(QLatin1Char('"'))) pieces << QLatin1Char('"') + piece + QLatin1Char('"');
  return QLatin1Char('(') + pieces.join(QStringLiteral("+'\"'+")) + QLatin1Char(')');
}

QString TaskFilter::Query(double today) const {
  QString e;
  QString joiner;
  auto add = [&](const QString& term) {
    e += joiner + term;
    joiner = QStringLiteral(".and.");
  };
  if (dateIndex >= 1 && dateIndex <= 6) {
    // The date choices of the filter dialog, both ends inclusive.
    double from = today, to = today;
    switch (dateIndex) {
      case 1: break;
      case 2: from = to = today + 1; break;
      case 3: to = today + 7; break;
      case 4: to = today + 30; break;
      case 5: to = today + 365; break;
      case 6:
        from = DateTimeValue::EncodeDate(1900, 1, 1);
        to = today - 1;
        break;
    }
    add(QStringLiteral("(DATE >=\"%1\" and DATE <=\"%2\")")
            .arg(DateTimeText::FormatDateTime(QStringLiteral("yyyymmdd"), from),
                 DateTimeText::FormatDateTime(QStringLiteral("yyyymmdd"), to)));
  }
  if (priorityIndex >= 1 && priorityIndex <= 3)
    add(QStringLiteral("(PRIORITY=\"%1\")").arg(QChar(QLatin1Char('A' + priorityIndex - 1))));
  if (!showDone) add(QStringLiteral("(.not.DONE)"));
  if (!BlankText::TrimBoth(keyText).isEmpty()) {
    QStringList items;
    BlankText::Split(keyText, QLatin1Char(','), &items);
    QStringList forms;
    for (const QString& item : items) forms << Literal(BlankText::TrimBoth(item)) + QStringLiteral("$UPPER(KEYS)");
    add(QLatin1Char('(') + forms.join(QStringLiteral(".or.")) + QLatin1Char(')'));
  }
  return e;
}
