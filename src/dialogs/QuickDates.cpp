#include "dialogs/QuickDates.h"

#include <QAction>
#include <QMenu>
#include <QVariant>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"

namespace {

constexpr QuickDates::Item kItems[QuickDates::kItemCount] = {
    {"Today", 0, "Today", "Today"},
    {"Tomorrow", 1, "Tomorrow", "Tomorrow"},
    {"TodayPlus2", 2, "Today+2", "%w"},
    {"TodayPlus3", 3, "Today+3", "%w"},
    {"TodayPlus4", 4, "Today+4", "%w"},
    {"TodayPlus5", 5, "Today+5", "%w"},
    {"TodayPlus6", 6, "Today+6", "%w"},
    {"WeekFromToday", 7, "A Week from Today", "A Week From Today"},
    {"WeekFromTommorrow", 8, "A Week From Tommorrow", "A Week From Tomorrow"},
    // A week after the days of TodayPlus2..6, named by the same weekdays.
    {"Week2", 9, "Week+2", "A Week from %w"},
    {"Week3", 10, "Week+3", "A Week from %w"},
    {"Week4", 11, "Week+4", "A Week from %w"},
    {"Week5", 12, "Week+5", "A Week from %w"},
    {"Week6", 13, "Week+6", "A Week from %w"},
    {"TwoWeeksFromToday", 14, "Two Weeks from Today", "Two Weeks From Today"},
    {"ThreeWeeksFromToday", 21, "Three Weeks from Today", "Three Weeks From Today"},
    {"ThirtyDaysFromToday", 30, "30 Days from Today", "30 Days From Today"},
};

// A property of their own marks the actions this class made, so that UpdateCaptions and DaysOf
// leave the owner's own items (a separator, "Cancel") alone.
const char kDaysProperty[] = "QuickDateDays";

}  // namespace

const QuickDates::Item* QuickDates::Items() {
  return kItems;
}

QString QuickDates::Caption(int index, double today) {
  if (index < 0 || index >= kItemCount) return {};
  const Item& item = kItems[index];
  if (!DateTimeValue::IsValidValue(today)) return QString::fromLatin1(item.storedCaption);
  const double date = DateTimeValue::DateOf(today) + item.days;
  if (!DateTimeValue::IsValidValue(date)) return QString::fromLatin1(item.storedCaption);
  const QString shortDate = DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date);
  const QString weekday = DateTimeText::FormatDateTime(QStringLiteral("dddd"), date);
  QString head = QString::fromLatin1(item.head);
  head.replace(QLatin1String("%w"), weekday);
  return head + QLatin1Char('\t') + shortDate;
}

QList<QAction*> QuickDates::FillMenu(QMenu* menu, double today) {
  QList<QAction*> actions;
  for (int i = 0; i < kItemCount; ++i) {
    QAction* action = menu->addAction(Caption(i, today));
    action->setObjectName(QString::fromLatin1(kItems[i].name));
    action->setData(kItems[i].days);
    action->setProperty(kDaysProperty, kItems[i].days);
    actions.append(action);
  }
  return actions;
}

void QuickDates::UpdateCaptions(QMenu* menu, double today) {
  for (QAction* action : menu->actions()) {
    const QVariant days = action->property(kDaysProperty);
    if (!days.isValid()) continue;
    for (int i = 0; i < kItemCount; ++i) {
      if (kItems[i].days == days.toInt()) action->setText(Caption(i, today));
    }
  }
}

int QuickDates::DaysOf(const QAction* action) {
  if (!action) return -1;
  const QVariant days = action->property(kDaysProperty);
  return days.isValid() ? days.toInt() : -1;
}

double QuickDates::DateOf(const QAction* action, double today) {
  const int days = DaysOf(action);
  const double date = DateTimeValue::DateOf(today);
  return days < 0 ? date : date + days;
}
