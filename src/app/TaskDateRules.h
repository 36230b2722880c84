#pragma once

#include <QString>

// How the task list shows dates: which grid cells stand out, and the date pattern the task
// editor's date field is typed in.
class TaskDateRules {
 public:
  enum class Emphasis { None, Bold, BoldItalic };

  // The grid's emphasis of a task's cell in `column` (0 priority, 1 date): open tasks of high
  // priority ("A") in bold, open tasks due `today` (a date value) in bold italic; done tasks
  // and other columns plain.
  static Emphasis CellEmphasis(int column, bool done, const QString& priority, const QString& storedDate,
                               double today);

  // The user's short date pattern with every d and m after the first two of each dropped, so
  // that no day or month name reaches the editor's date field.
  static QString ReducedDatePattern(const QString& pattern);
};
