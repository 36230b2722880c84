#pragma once

#include <QFrame>
#include <QRect>
#include <QString>

// A month calendar: a heading row of abbreviated day names over six rows of seven day cells,
// the first column being StartOfWeek. It holds one date, SelectedDate, whose day cell is the one
// selected cell; the user picks another day by clicking it or moving to it with the arrow keys,
// and the owner moves by months and years with the navigation operations. Every change of the
// date the grid makes itself is announced with OnChange. Only real dates can be held: empty
// cells cannot be selected, and a step that would leave the years 1..9999 changes nothing.
class TMonthGrid : public QFrame {
  Q_OBJECT
  Q_PROPERTY(double SelectedDate READ SelectedDate WRITE SetSelectedDate NOTIFY OnChange)
  Q_PROPERTY(int StartOfWeek READ StartOfWeek WRITE SetStartOfWeek)
  Q_PROPERTY(bool UseCurrentDate READ UseCurrentDate WRITE SetUseCurrentDate)
  Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
  Q_PROPERTY(int GridLineWidth READ GridLineWidth WRITE SetGridLineWidth)
  Q_PROPERTY(int Day READ Day WRITE SetDay)
  Q_PROPERTY(int Month READ Month WRITE SetMonth)
  Q_PROPERTY(int Year READ Year WRITE SetYear)

 public:
  static constexpr int kColCount = 7;
  static constexpr int kRowCount = 7;  // row 0 is the heading

  explicit TMonthGrid(QWidget* parent = nullptr);

  // A date-time value; its time of day is kept but plays no part. A value outside the years
  // 1..9999 is refused and the grid stays as it was.
  double SelectedDate() const { return date_; }
  void SetSelectedDate(double value);

  // 0 = Sunday ... 6 = Saturday; other values are ignored.
  int StartOfWeek() const { return startOfWeek_; }
  void SetStartOfWeek(int day);

  // True from creation until a date part is changed; setting it to true brings today's date.
  bool UseCurrentDate() const { return useCurrentDate_; }
  void SetUseCurrentDate(bool use);

  // While true the user cannot select a cell; the owner can still change the date.
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);

  int GridLineWidth() const { return gridLineWidth_; }
  void SetGridLineWidth(int width);

  int Day() const;
  int Month() const;
  int Year() const;
  // Each ignores a value below 1, the value the date already has, a month above 12 and a day
  // beyond the selected month. A month or year change keeps the day, or takes the last day of
  // the new month when the day does not exist there (31 January to month 2 is 28 or 29
  // February); a year that cannot hold a date (above 9999) changes nothing.
  void SetDay(int day);
  void SetMonth(int month);
  void SetYear(int year);

  // Neighbouring months keep the day or take the last day of the month when it is shorter;
  // neighbouring years turn 29 February into 28 February.
  void NextMonth();
  void PrevMonth();
  void NextYear();
  void PrevYear();

  int DaysThisMonth() const;

  // What the cell shows: a day name in row 0, a day number or nothing in rows 1..6.
  QString CellText(int col, int row) const;
  // The selected cell.
  int Col() const { return col_; }
  int Row() const { return row_; }
  // Selects the cell as a click on it would: only a cell with a day number, and never while
  // ReadOnly. A selected cell makes its day the date's day. False when the cell was refused.
  bool ClickCell(int col, int row);

  // The client shared among seven columns and seven rows after the lines between them, whole
  // pixels; what is left over stays at the right and bottom edges.
  int DefaultColWidth() const;
  int DefaultRowHeight() const;
  // Where the cell lies in the grid's widget coordinates.
  QRect CellRect(int col, int row) const;
  // The cell under a point, or false when the point is on no cell.
  bool CellAt(const QPoint& point, int* col, int* row) const;

  QSize sizeHint() const override;

 signals:
  void OnChange();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // The day number a cell of rows 1..6 stands for, which may lie outside the month.
  int DayNumberAt(int col, int row) const;
  bool CanSelectCell(int col, int row) const;
  // Moves the selection to the date's cell after the date changed.
  void Reposition();
  // Stores a new date built from its parts: false (and nothing changed) when it is no date.
  bool SetDateParts(int year, int month, int day);
  void ShiftMonth(int step);

  double date_ = 0;
  int startOfWeek_ = 0;
  bool useCurrentDate_ = true;
  bool readOnly_ = false;
  int gridLineWidth_ = 1;
  int monthOffset_ = 1;
  int col_ = 0;
  int row_ = 1;
  bool repositioning_ = false;
};
