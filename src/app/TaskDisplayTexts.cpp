#include "app/TaskDisplayTexts.h"

#include "db/DateTimeText.h"
#include "db/RegionalSettings.h"
#include "db/StoredDateTime.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"

QHash<QString, QString> TaskDisplayTexts::dates_;
QHash<QString, QString> TaskDisplayTexts::times_;
QLocale TaskDisplayTexts::namesLocale_;

namespace {

// Enough for every date of several decades; beyond it the memory is started afresh.
constexpr qsizetype kMaxRemembered = 100000;

}  // namespace

const QString& TaskDisplayTexts::DateText(const QString& stored) {
  auto found = dates_.constFind(stored);
  if (found != dates_.constEnd()) return found.value();
  if (dates_.size() >= kMaxRemembered) dates_.clear();
  QString text;
  double value = 0;
  if (StoredDateTime::ParseDate(stored, value)) text = DateTimeText::FormatDateTime(QStringLiteral("dd mmm yyyy"), value);
  return dates_.insert(stored, text).value();
}

const QString& TaskDisplayTexts::TimeText(const QString& stored) {
  auto found = times_.constFind(stored);
  if (found != times_.constEnd()) return found.value();
  if (times_.size() >= kMaxRemembered) times_.clear();
  QString text;
  double value = 0;
  if (StoredDateTime::ParseTime(stored, value))
    text = DateTimeText::FormatDateTime(QStringLiteral(" hh:mmam/pm"), value);
  return times_.insert(stored, text).value();
}

void TaskDisplayTexts::Fill(TableDataSet& t) {
  if (t.Tag() == -1) return;
  const QLocale names = RegionalSettings::NamesLocale();
  if (names != namesLocale_) {
    namesLocale_ = names;
    dates_.clear();
  }
  const QString& date = DateText(t.FieldByName(QStringLiteral("DATE"))->AsString());
  if (!date.isEmpty()) t.FieldByName(QStringLiteral("ShowDate"))->SetAsString(date);
  t.FieldByName(QStringLiteral("IsDone"))
      ->SetAsString(t.FieldByName(QStringLiteral("DONE"))->AsBoolean() ? QStringLiteral("Y") : QStringLiteral("N"));
  const QString& time = TimeText(t.FieldByName(QStringLiteral("TIME"))->AsString());
  if (!time.isEmpty()) t.FieldByName(QStringLiteral("ShowTime"))->SetAsString(time);
  const QString priority = t.FieldByName(QStringLiteral("PRIORITY"))->AsString().toUpper();
  if (priority == QLatin1String("A")) t.FieldByName(QStringLiteral("ShowPriority"))->SetAsString(QStringLiteral("High"));
  else if (priority == QLatin1String("B")) t.FieldByName(QStringLiteral("ShowPriority"))->SetAsString(QStringLiteral("Medium"));
  else if (priority == QLatin1String("C")) t.FieldByName(QStringLiteral("ShowPriority"))->SetAsString(QStringLiteral("Low"));
}
