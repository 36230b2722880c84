#include "dialogs/TMonthGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"

TMonthGrid::TMonthGrid(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setFocusPolicy(Qt::StrongFocus);
  date_ = DateTimeValue::Today();
  Reposition();
}

void TMonthGrid::SetSelectedDate(double value) {
  if (!DateTimeValue::IsValidValue(value)) return;
  date_ = value;
  Reposition();
  emit OnChange();
}

void TMonthGrid::SetStartOfWeek(int day) {
  if (day < 0 || day > 6 || day == startOfWeek_) return;
  startOfWeek_ = day;
  Reposition();
}

void TMonthGrid::SetUseCurrentDate(bool use) {
  useCurrentDate_ = use;
  if (use) SetSelectedDate(DateTimeValue::Today());
}

void TMonthGrid::SetReadOnly(bool readOnly) {
  readOnly_ = readOnly;
  update();
}

void TMonthGrid::SetGridLineWidth(int width) {
  gridLineWidth_ = std::max(0, width);
  update();
}

int TMonthGrid::Day() const {
  int year, month, day;
  DateTimeValue::DecodeDate(date_, year, month, day);
  return day;
}

int TMonthGrid::Month() const {
  int year, month, day;
  DateTimeValue::DecodeDate(date_, year, month, day);
  return month;
}

int TMonthGrid::Year() const {
  int year, month, day;
  DateTimeValue::DecodeDate(date_, year, month, day);
  return year;
}

int TMonthGrid::DaysThisMonth() const {
  int year, month, day;
  DateTimeValue::DecodeDate(date_, year, month, day);
  return DateTimeValue::DaysInMonth(year, month);
}

bool TMonthGrid::SetDateParts(int year, int month, int day) {
  double value = 0;
  if (!DateTimeValue::TryEncodeDate(year, month, day, value)) return false;
  date_ = value;
  useCurrentDate_ = false;
  Reposition();
  emit OnChange();
  return true;
}

void TMonthGrid::SetDay(int day) {
  int y, m, d;
  DateTimeValue::DecodeDate(date_, y, m, d);
  if (day < 1 || day == d || day > DateTimeValue::DaysInMonth(y, m)) return;
  SetDateParts(y, m, day);
}

void TMonthGrid::SetMonth(int month) {
  int y, m, d;
  DateTimeValue::DecodeDate(date_, y, m, d);
  if (month < 1 || month == m || month > 12) return;
  // 31 January becoming February must still be a date: the day is cut to the month's length.
  SetDateParts(y, month, std::min(d, DateTimeValue::DaysInMonth(y, month)));
}

void TMonthGrid::SetYear(int year) {
  int y, m, d;
  DateTimeValue::DecodeDate(date_, y, m, d);
  if (year < 1 || year == y) return;
  // Only 29 February can be missing in another year.
  SetDateParts(year, m, std::min(d, DateTimeValue::DaysInMonth(year, m)));
}

void TMonthGrid::ShiftMonth(int step) {
  int y, m, d;
  DateTimeValue::DecodeDate(date_, y, m, d);
  // Step over the month's edge (last day + 1 or first day - 1) to reach the neighbour.
  m += step;
  if (m > 12) {
    m = 1;
    ++y;
  } else if (m < 1) {
    m = 12;
    --y;
  }
  double value = 0;
  if (!DateTimeValue::TryEncodeDate(y, m, std::min(d, DateTimeValue::DaysInMonth(y, m)), value))
    return;  // before January of the year 1 or after December 9999
  SetSelectedDate(value);
}

void TMonthGrid::NextMonth() {
  ShiftMonth(1);
}

void TMonthGrid::PrevMonth() {
  ShiftMonth(-1);
}

void TMonthGrid::NextYear() {
  if (Year() >= 9999) return;
  if (Month() == 2 && Day() == 29) SetDay(28);
  SetYear(Year() + 1);
}

void TMonthGrid::PrevYear() {
  if (Year() <= 1) return;
  if (Month() == 2 && Day() == 29) SetDay(28);
  SetYear(Year() - 1);
}

void TMonthGrid::Reposition() {
  int y, m, d;
  DateTimeValue::DecodeDate(date_, y, m, d);
  const int weekday = DateTimeValue::DayOfWeek(DateTimeValue::EncodeDate(y, m, 1));
  const int w = (weekday - startOfWeek_ + 7) % 7;
  // Day 1 always stands in row 1, in the column of its weekday; a month beginning on
  // StartOfWeek would otherwise start in row 2.
  monthOffset_ = 2 - w;
  if (monthOffset_ == 2) monthOffset_ = -5;
  repositioning_ = true;
  col_ = (d - monthOffset_) % 7;
  row_ = (d - monthOffset_) / 7 + 1;
  repositioning_ = false;
  update();
}

int TMonthGrid::DayNumberAt(int col, int row) const {
  return monthOffset_ + col + (row - 1) * 7;
}

QString TMonthGrid::CellText(int col, int row) const {
  if (col < 0 || col >= kColCount || row < 0 || row >= kRowCount) return {};
  if (row == 0) return RegionalSettings::DayName((startOfWeek_ + col) % 7 + 1, true);
  const int day = DayNumberAt(col, row);
  if (day < 1 || day > DaysThisMonth()) return {};
  return QString::number(day);
}

bool TMonthGrid::CanSelectCell(int col, int row) const {
  if (col < 0 || col >= kColCount || row < 1 || row >= kRowCount) return false;
  if (readOnly_ && !repositioning_) return false;
  return !CellText(col, row).isEmpty();
}

bool TMonthGrid::ClickCell(int col, int row) {
  if (!CanSelectCell(col, row)) return false;
  col_ = col;
  row_ = row;
  SetDay(DayNumberAt(col, row));
  update();
  return true;
}

QRect TMonthGrid::CellRect(int col, int row) const {
  const QRect client = contentsRect();
  return QRect(client.left() + col * (DefaultColWidth() + gridLineWidth_),
               client.top() + row * (DefaultRowHeight() + gridLineWidth_), DefaultColWidth(),
               DefaultRowHeight());
}

bool TMonthGrid::CellAt(const QPoint& point, int* col, int* row) const {
  for (int r = 0; r < kRowCount; ++r) {
    for (int c = 0; c < kColCount; ++c) {
      if (CellRect(c, r).contains(point)) {
        *col = c;
        *row = r;
        return true;
      }
    }
  }
  return false;
}

QSize TMonthGrid::sizeHint() const {
  const int frame = 2 * frameWidth();
  return QSize(kColCount * 40 + (kColCount - 1) * gridLineWidth_ + frame,
               kRowCount * 18 + (kRowCount - 1) * gridLineWidth_ + frame);
}

int TMonthGrid::DefaultColWidth() const {
  return std::max(0, (contentsRect().width() - 6 * gridLineWidth_) / 7);
}

int TMonthGrid::DefaultRowHeight() const {
  return std::max(0, (contentsRect().height() - 6 * gridLineWidth_) / 7);
}

void TMonthGrid::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QPalette& pal = palette();
  const QRect client = contentsRect();
  painter.setClipRect(client);
  painter.fillRect(client, pal.color(QPalette::Base));
  painter.setFont(font());

  for (int row = 0; row < kRowCount; ++row) {
    for (int col = 0; col < kColCount; ++col) {
      const QRect cell = CellRect(col, row);
      QColor text = pal.color(QPalette::Text);
      if (row == 0) {
        // The heading looks like a row of fixed cells: raised, in the button face.
        painter.fillRect(cell, pal.color(QPalette::Button));
        painter.setPen(pal.color(QPalette::Light));
        painter.drawLine(cell.topLeft(), cell.topRight());
        painter.drawLine(cell.topLeft(), cell.bottomLeft());
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawLine(cell.bottomLeft(), cell.bottomRight());
        painter.drawLine(cell.topRight(), cell.bottomRight());
        text = pal.color(QPalette::ButtonText);
      } else if (col == col_ && row == row_) {
        // The selected day is always drawn highlighted, focused or not, so the date stays
        // visible while the focus is elsewhere.
        painter.fillRect(cell, pal.color(QPalette::Highlight));
        text = pal.color(QPalette::HighlightedText);
      }
      painter.setPen(text);
      painter.drawText(cell, Qt::AlignCenter, CellText(col, row));
      if (row > 0 && col == col_ && row == row_ && hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = cell.adjusted(1, 1, -1, -1);
        option.backgroundColor = pal.color(QPalette::Highlight);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
      }
    }
  }

  if (gridLineWidth_ > 0) {
    const QColor line = pal.color(QPalette::Mid);
    for (int col = 0; col < kColCount - 1; ++col) {
      const QRect cell = CellRect(col, 0);
      painter.fillRect(cell.right() + 1, client.top(), gridLineWidth_, client.height(), line);
    }
    for (int row = 0; row < kRowCount - 1; ++row) {
      const QRect cell = CellRect(0, row);
      painter.fillRect(client.left(), cell.bottom() + 1, client.width(), gridLineWidth_, line);
    }
  }
}

void TMonthGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QFrame::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  int col = 0, row = 0;
  if (CellAt(event->position().toPoint(), &col, &row)) ClickCell(col, row);
  event->accept();
}

void TMonthGrid::keyPressEvent(QKeyEvent* event) {
  int col = col_, row = row_;
  switch (event->key()) {
    case Qt::Key_Left:
      --col;
      break;
    case Qt::Key_Right:
      ++col;
      break;
    case Qt::Key_Up:
      --row;
      break;
    case Qt::Key_Down:
      ++row;
      break;
    default:
      QFrame::keyPressEvent(event);
      return;
  }
  // A move onto the heading, off the grid or onto an empty cell is refused; the selection
  // stays where it was.
  ClickCell(col, row);
  event->accept();
}

void TMonthGrid::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  update();
}

void TMonthGrid::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  update();
}
