#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAbstractItemView;

// Tells assistive technology which row of a grid is current. The grid's own announcement names
// only the cell that takes the focus (one field, and only while the grid has the focus); this
// keeps the grid's accessible description at the whole current row ("Task 3 of 12: Date
// 08/12/2026, Description Call the dentist, ...") followed by the grid's help, and so reports
// every change, whether the user moved or the program did (a new task, a changed filter).
class GridAnnouncer : public QObject {
  Q_OBJECT
 public:
  // `what` names one row ("Task"). Create it once `view` has its model; it belongs to `view`.
  GridAnnouncer(QAbstractItemView* view, const QString& what, const QString& help);

  // The sentence for `row` of the view's model ("" when there is no such row).
  QString Describe(int row) const;

 private:
  void Announce();

  QPointer<QAbstractItemView> view_;
  QString what_;
  QString help_;
};
