#pragma once

#include <QHash>
#include <QLocale>
#include <QString>

class TableDataSet;

// The grid's display texts of a task (ShowDate, ShowTime, IsDone, ShowPriority), worked out from
// its stored fields whenever the table reads a record: for the grid, and for the exports and the
// printed report, which walk the same table. A list of a million tasks repeats the same few
// thousand dates and times, so each stored date and time is converted once and remembered.
class TaskDisplayTexts {
 public:
  // Fills the display fields of the table's current record (nothing while the table is busy).
  static void Fill(TableDataSet& table);

 private:
  static const QString& DateText(const QString& stored);
  static const QString& TimeText(const QString& stored);

  static QHash<QString, QString> dates_;
  static QHash<QString, QString> times_;
  static QLocale namesLocale_;  // month names come from it; another locale clears what is known
};
