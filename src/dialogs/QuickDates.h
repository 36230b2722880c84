#pragma once

#include <QList>
#include <QString>

class QAction;
class QMenu;

// The quick-date menu shared by the task editor and the main window's grid: seventeen dates from
// today to thirty days ahead, each item captioned with what it means and, after a tab, the date
// itself, so the menu shows the dates lined up in a second column. An item's data is the number
// of days it adds to today; the owner applies that to the day on which the item is chosen, so a
// menu built yesterday still gives the right date.
class QuickDates {
 public:
  struct Item {
    const char* name;           // the action's object name
    int days;                   // added to today
    const char* storedCaption;  // the caption until the dates are filled in
    const char* head;           // the caption's first half; "%w" stands for the weekday
  };
  static constexpr int kItemCount = 17;

  // The items in menu order.
  static const Item* Items();

  // The caption of item `index` (0..16) for the day `today` (a date-time value; its time is
  // ignored), with dates in the short date format in force: for example "Tomorrow\t03/06/2024"
  // or "A Week from Tuesday\t03/14/2024". The stored caption when the date cannot be written
  // (beyond the year 9999) or the index is out of range.
  static QString Caption(int index, double today);

  // Appends the seventeen items to `menu`, captioned for `today`, with the object names of the
  // table and the number of days as each action's data; returns them in order. The actions
  // belong to the menu. Connect QMenu::triggered (or each action) and read DaysOf.
  static QList<QAction*> FillMenu(QMenu* menu, double today);
  // Re-captions the items FillMenu put into `menu` for another day.
  static void UpdateCaptions(QMenu* menu, double today);

  // The days an item adds (its data); -1 for an action that is not a quick date.
  static int DaysOf(const QAction* action);
  // `today` plus the item's days, as a date without a time; today's date for an action that is not
  // a quick date.
  static double DateOf(const QAction* action, double today);
};
