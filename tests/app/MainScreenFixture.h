// Shared by the main window's tests: a message stub, tasks written through the store, and the
// real window opened on them in the current data directory.
#pragma once

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "SeedTasks.h"
#include "app/TMainScreen.h"
#include "db/DateTimeValue.h"
#include "db/DataSetModel.h"
#include "platform/UserMessages.h"
#include "widgets/TFlatButton.h"

class RecordedMessages : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown << text; }
  bool YesNo(const QString&, const QString& text) override {
    shown << text;
    return answer;
  }
  QStringList shown;
  bool answer = true;  // what every question is answered
};

// The day the windows the tests open take as today (at the present time of day); 0 is the
// system clock. Tests set it before or while a window is open.
inline double& FixtureToday() {
  static double today = 0;
  return today;
}

inline Clock FixtureClock() {
  return [] { return FixtureToday() != 0 ? FixtureToday() + DateTimeValue::CurrentTime() : DateTimeValue::Now(); };
}

// A control of the window by its object name (null when there is none of that type).
template <typename T>
T* Control(QObject& w, const char* name) {
  return w.findChild<T*>(QString::fromLatin1(name));
}

// Runs the window's menu command named `name` ("High1", "UndoDelete1") as choosing it does; false
// when there is no such command or it cannot be chosen now.
inline bool Trigger(QObject& w, const char* name) {
  QAction* action = Control<QAction>(w, name);
  if (action == nullptr || !action->isEnabled()) return false;
  action->trigger();
  return true;
}

// The grid's model, and the sort items of the File menu (`main`) or the Sort button's menu
// in their order: Date+Time, Description, Priority, Key Words.
inline DataSetModel* Grid(QObject& w) { return Control<DataSetModel>(w, "GridModel"); }
inline QAction* SortItem(QObject& w, bool main, int index) {
  static const char* const kNames[4] = {"mnuSortDateTime", "mnuSortDescription", "mnuSortPriority", "mnuSortKeyWords"};
  return w.findChild<QAction*>((main ? QStringLiteral("main") : QString()) + QString::fromLatin1(kNames[index]));
}

// Writes the tasks through the store (in the data directory in force), opens the window and
// waits for its opening sequence to end; null when that fails.
inline std::unique_ptr<TMainScreen> OpenMainScreen(const QList<Task>& tasks, const QString& dataDir,
                                                   const QString& settings = QString()) {
  if (!SeedTasks(tasks, dataDir, settings)) return nullptr;
  auto w = std::make_unique<TMainScreen>(nullptr, FixtureClock());
  w->show();
  if (!QTest::qWaitFor([&] { return w->Opened() && Control<TFlatButton>(*w, "ExitButton")->isVisible(); }, 10000))
    return nullptr;
  return w;
}

inline QString GridCell(TMainScreen& w, int row, int column) {
  return Grid(w)->data(Grid(w)->index(row, column)).toString();
}

inline int GridRowOf(TMainScreen& w, const QString& descript) {
  for (int r = 0; r < Grid(w)->rowCount(); ++r)
    if (GridCell(w, r, 3) == descript) return r;
  return -1;
}

// Runs `drive` on the modal dialog of type T as soon as it is up (the caller then starts the
// command that shows it); `drive` must end the dialog.
template <typename T>
void WhenModal(std::function<void(T&)> drive) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, drive] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      drive(*dialog);
    }
  });
  timer->start();
}

// A double click with the mouse on the grid's cell at (row, column), or on `at` in the grid's
// viewport when the cell is invalid (an empty list).
inline void DoubleClickCell(TMainScreen& w, int row, int column, QPoint at = QPoint(10, 10)) {
  auto* grid = w.findChild<QTableView*>(QStringLiteral("ActiveGrid"));
  const QModelIndex cell = Grid(w)->index(row, column);
  if (cell.isValid()) {
    grid->scrollTo(cell);
    at = grid->visualRect(cell).center();
  }
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
}

// Picks the item captioned `caption` from the popup menu named `menu` with the mouse, as soon as
// that menu is up (the caller then does what opens it). A menu without that item is closed;
// after ten seconds without the menu the wait ends, and the caller's checks fail.
inline void WhenPopupPick(const QString& menu, const QString& caption) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, menu, caption, waited = 0]() mutable {
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const bool up = popup != nullptr && popup->objectName() == menu;
    if (!up && ++waited < 1000) return;
    timer->stop();
    timer->deleteLater();
    if (!up) return;
    for (QAction* item : popup->actions())
      if (item->text() == caption) {
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(item).center());
        return;
      }
    popup->close();
  });
  timer->start();
}

// Leaves the note pane the way a user does with the keyboard (Ctrl+Tab), after putting the
// focus in it; false when the pane could not take the focus or keep it until then.
inline bool LeaveNotesPane(TMainScreen& w) {
  auto* notes = w.findChild<QPlainTextEdit*>(QStringLiteral("ActiveNotes"));
  notes->setFocus(Qt::OtherFocusReason);
  if (!QTest::qWaitFor([notes] { return notes->hasFocus(); }, 5000)) return false;
  QTest::keyClick(notes, Qt::Key_Tab, Qt::ControlModifier);
  return !notes->hasFocus();
}
