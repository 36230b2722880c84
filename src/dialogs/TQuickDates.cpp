#include "dialogs/TQuickDates.h"

#include <QAction>
#include <QMenu>
#include <QVariant>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"

namespace {

constexpr TQuickDates::Item kItems[TQuickDates::kItemCount] = {
    {"Today", 0, "Today"},
    {"Tomorrow", 1, "Tomorrow"},
    {"TodayPlus2", 2, "Today+2"},
    {"TodayPlus3", 3, "Today+3"},
    {"TodayPlus4", 4, "Today+4"},
    {"TodayPlus5", 5, "Today+5"},
    {"TodayPlus6", 6, "Today+6"},
    {"WeekFromToday", 7, "A Week from Today"},
    {"WeekFromTommorrow", 8, "A Week From Tommorrow"},
    {"Week2", 9, "Week+2"},
    {"Week3", 10, "Week+3"},
    {"Week4", 11, "Week+4"},
    {"Week5", 12, "Week+5"},
    {"Week6", 13, "Week+6"},
    {"TwoWeeksFromToday", 14, "Two Weeks from Today"},
    {"ThreeWeeksFromToday", 21, "Three Weeks from Today"},
    {"ThirtyDaysFromToday", 30, "30 Days from Today"},
};

// A property of their own marks the actions this class made, so that UpdateCaptions and DaysOf leave
// the owner's own items (a separator, "Cancel") alone.
const char kDaysProperty[] = "QuickDateDays";

}  // namespace

const TQuickDates::Item* TQuickDates::Items() {
  return kItems;
}

QString TQuickDates::Caption(int index, double today) {
  if (index < 0 || index >= kItemCount) return {};
  const Item& item = kItems[index];
  if (!DateTimeValue::IsValidValue(today)) return QString::fromLatin1(item.storedCaption);
  const double date = DateTimeValue::DateOf(today) + item.days;
  if (!DateTimeValue::IsValidValue(date)) return QString::fromLatin1(item.storedCaption);
  const QString shortDate = DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date);
  const QString weekday = DateTimeText::FormatDateTime(QStringLiteral("dddd"), date);
  QString head;
  switch (item.days) {
    case 0: head = QStringLiteral("Today"); break;
    case 1: head = QStringLiteral("Tomorrow"); break;
    case 7: head = QStringLiteral("A Week From Today"); break;
    case 8: head = QStringLiteral("A Week From Tomorrow"); break;
    case 14: head = QStringLiteral("Two Weeks From Today"); break;
    case 21: head = QStringLiteral("Three Weeks From Today"); break;
    case 30: head = QStringLiteral("30 Days From Today"); break;
    default:
      // 2..6 name the weekday; 9..13 are a week after those days and name the same weekday.
      head = item.days < 7 ? weekday : QStringLiteral("A Week from ") + weekday;
      break;
  }
  return head + QLatin1Char('\t') + shortDate;
}

QList<QAction*> TQuickDates::FillMenu(QMenu* menu, double today) {
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

void TQuickDates::UpdateCaptions(QMenu* menu, double today) {
  for (QAction* action : menu->actions()) {
    const QVariant days = action->property(kDaysProperty);
    if (!days.isValid()) continue;
    for (int i = 0; i < kItemCount; ++i) {
      if (kItems[i].days == days.toInt()) action->setText(Caption(i, today));
    }
  }
}

int TQuickDates::DaysOf(const QAction* action) {
  if (!action) return -1;
  const QVariant days = action->property(kDaysProperty);
  return days.isValid() ? days.toInt() : -1;
}

double TQuickDates::DateOf(const QAction* action, double today) {
  const int days = DaysOf(action);
  const double date = DateTimeValue::DateOf(today);
  return days < 0 ? date : date + days;
}
