#include "db/StoredDateTime.h"

#include "db/DateTimeText.h"
#include "db/RegionalFormats.h"

bool StoredDateTime::ParseDate(const QString& stored, double& value) {
  if (stored.size() != 8) return false;
  // Read as "mm/dd/yyyy", the order the fixed regional settings read.
  const QString text = stored.mid(4, 2) + QLatin1Char('/') + stored.mid(6, 2) + QLatin1Char('/') + stored.left(4);
  return DateTimeText::TryStrToDate(text, RegionalFormats::Fixed(), value);
}

bool StoredDateTime::ParseTime(const QString& stored, double& value) {
  return !stored.isEmpty() && DateTimeText::TryStrToTime(stored, RegionalFormats::Fixed(), value);
}

QString StoredDateTime::Date(double value) {
  return DateTimeText::FormatDateTime(QStringLiteral("yyyymmdd"), value, RegionalFormats::Fixed());
}

QString StoredDateTime::Time(double value) {
  return DateTimeText::FormatDateTime(QStringLiteral("hh:nn"), value, RegionalFormats::Fixed());
}
