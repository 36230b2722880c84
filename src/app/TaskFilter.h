#pragma once

#include <QString>
#include <QStringList>

// What the user chose to see: the filter dialog's three choices and Show/Hide DONE. A plain
// value; the main window keeps the one in force and turns it into the engine's query here.
struct TaskFilter {
  quint8 dateIndex = 0;      // 0 any date, 1 today, 2 tomorrow, 3 a week, 4 a month, 5 a year, 6 overdue
  quint8 priorityIndex = 0;  // 0 any, 1 high (A), 2 medium (B), 3 low (C)
  bool showDone = false;
  QString keyText;  // key words separated by commas; a task matching any of them passes

  // True when the dialog's choices narrow the list (what the FILTERED button shows).
  bool Narrowed() const;

  // The query text for the engine; empty when every task passes. `today` is a date value.
  // Each term is one parenthesised condition, joined by ".and." in a fixed order: date,
  // priority, done, key words.
  QString Query(double today) const;

  // `word` as a string literal of the query language that stands for exactly its characters,
  // upper-cased: between double quotes when it holds none, else between single quotes, else
  // square brackets, else glued together from pieces; so no word can change what the query
  // means.
  static QString Literal(const QString& word);

  bool operator==(const TaskFilter&) const = default;
};
