// A newcomer's first session with Listwise, played on the real window with real message boxes:
// add tasks, edit one, filter, sort, mark one done, delete and undo, a bulk delete and its undo,
// and a rebuild. Every step prints what it checked; the exit code is the number of failures.
// Run it under a display (tools/walkthrough.sh starts a virtual one).
//
//   lwwalk DATA_DIR [SCREENSHOT.png]
//
// DATA_DIR must exist; the task files are created there and left for inspection.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/TMainScreen.h"
#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "db/DataSetModel.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TTaskEditor.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"

namespace {

int g_failures = 0;

void Check(bool ok, const QString& what) {
  std::printf("%s  %s\n", ok ? "ok  " : "FAIL", qPrintable(what));
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

// The next modal window of type T, once it is up, is handed to `act`, which must end it.
template <typename T>
void WhenModal(std::function<void(T&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
    if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(*window);
    }
  });
  timer->start();
}

// Message boxes are answered in the order they were expected: each one that comes up takes the
// next expectation, checks its text against it and clicks its button.
struct Expected {
  QString text;
  QMessageBox::StandardButton button;
};
QList<Expected> g_expected;
QPointer<QMessageBox> g_last_box;

void AnswerBoxes() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || box == g_last_box || !box->isVisible()) return;
  g_last_box = box;
  if (g_expected.isEmpty()) {
    Check(false, "unexpected message box: " + box->text());
    box->done(QMessageBox::No);
    return;
  }
  const Expected e = g_expected.takeFirst();
  Check(box->text().startsWith(e.text), QStringLiteral("message box says \"%1\"").arg(box->text().replace('\n', ' ')));
  if (QAbstractButton* b = box->button(e.button)) QTest::mouseClick(b, Qt::LeftButton);
  else box->done(e.button);
}

void Answer(const QString& expected, QMessageBox::StandardButton button) { g_expected.append({expected, button}); }

// The window's controls are its own; the walk finds them by their object names.
template <typename T>
T* Ctl(QObject& w, const char* name) {
  return w.findChild<T*>(QString::fromLatin1(name));
}

// The sort items of the File menu (`main`) or of the Sort button's menu: Date+Time,
// Description, Priority, Key Words.
QAction* SortAction(QObject& w, bool main, int index) {
  static const char* const kNames[4] = {"mnuSortDateTime", "mnuSortDescription", "mnuSortPriority", "mnuSortKeyWords"};
  return w.findChild<QAction*>((main ? QStringLiteral("main") : QString()) + QString::fromLatin1(kNames[index]));
}

QStringList Column(TMainScreen& w, int column) {
  QStringList cells;
  for (int r = 0; r < Ctl<DataSetModel>(w, "GridModel")->rowCount(); ++r)
    cells << Ctl<DataSetModel>(w, "GridModel")->data(Ctl<DataSetModel>(w, "GridModel")->index(r, column)).toString().trimmed();
  return cells;
}

// After a dialog closes, the window manager gives the focus back to the main window a moment
// later; keys typed before that would go nowhere.
void Activate(TMainScreen& w) {
  w.activateWindow();
  if (!QTest::qWaitForWindowActive(&w)) std::printf("      (the main window did not become active)\n");
  Ctl<QTableView>(w, "ActiveGrid")->setFocus();
  QCoreApplication::processEvents();
}

void SelectRow(TMainScreen& w, const QString& description) {
  const int row = int(Column(w, 3).indexOf(description));
  if (row >= 0) {
    Activate(w);
    Ctl<QTableView>(w, "ActiveGrid")->setCurrentIndex(Ctl<DataSetModel>(w, "GridModel")->index(row, 3));
  }
}

void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton);
  QCoreApplication::processEvents();
}

// Types into the task editor as a user would: the date in the format the editor shows.
void FillEditor(TTaskEditor& editor, const QString& task, double date, QRadioButton* TTaskEditor::*priority,
                const QString& keys, const QString& note) {
  editor.Task->selectAll();
  QTest::keyClicks(editor.Task, task);
  if (date != 0) {
    editor.DateEdit->clear();
    QTest::keyClicks(editor.DateEdit, DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date));
  }
  Click(editor.*priority);
  QTest::keyClicks(editor.KeyWords, keys);
  QTest::keyClicks(editor.Notes, note);
}

void Walk(TMainScreen& w, const QString& screenshot) {
  const double today = DateTimeValue::DateOf(DateTimeValue::Now());
  w.activateWindow();
  Check(QTest::qWaitForWindowActive(&w), "the main window is the active window");
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 0 && !Ctl<TFlatButton>(w, "Editbutton")->isVisible(),
        "a first start shows an empty list, and only New among the task buttons");

  // ---- Adding three tasks ----
  struct NewTask {
    QString task;
    double date;
    QRadioButton* TTaskEditor::*priority;
    QString keys, note;
  };
  const NewTask tasks[] = {{"Call the plumber", today + 1, &TTaskEditor::pHigh, "home", "The kitchen tap drips"},
                           {"Write the report", today + 3, &TTaskEditor::pMedium, "work", ""},
                           {"Buy paint", today - 2, &TTaskEditor::pLow, "home shop", "white, 2 litres"}};
  for (const NewTask& t : tasks) {
    WhenModal<TTaskEditor>([&t](TTaskEditor& editor) {
      Check(editor.windowTitle() == "Task Editor" && editor.TaskLabel->text() == "Adding Task",
            "Insert opens the task editor for a new task");
      FillEditor(editor, t.task, t.date, t.priority, t.keys, t.note);
      QTest::keyClick(editor.Task, Qt::Key_Return);  // Enter is OK
    });
    Activate(w);
    QTest::keyClick(Ctl<QTableView>(w, "ActiveGrid"), Qt::Key_Insert);
  }
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 3, QStringLiteral("three tasks in the list (%1)").arg(Ctl<DataSetModel>(w, "GridModel")->rowCount()));
  Check(Column(w, 3).contains("Call the plumber") && Column(w, 0).contains("High"),
        "the plumber task shows with priority High");

  // ---- Editing one ----
  SelectRow(w, "Write the report");
  WhenModal<TTaskEditor>([](TTaskEditor& editor) {
    Check(editor.TaskLabel->text() == "Editing Task" && editor.Task->text() == "Write the report" &&
              editor.KeyWords->text() == "work",
          "Enter on a task opens it in the editor with its description and key words");
    editor.Task->selectAll();
    QTest::keyClicks(editor.Task, "Write the yearly report");
    editor.TimeEdit->clear();
    QTest::keyClicks(editor.TimeEdit, DateTimeText::FormatDateTime(QStringLiteral("t"), DateTimeValue::EncodeTime(9, 30)));
    Click(editor.findChild<TFlatButton*>("OKButton"));
  });
  Activate(w);
  QTest::keyClick(Ctl<QTableView>(w, "ActiveGrid"), Qt::Key_Return);
  Check(Column(w, 3).contains("Write the yearly report"), "the edited description is in the list");
  Check(w.Store().TasqTable.FieldByName("TIME")->AsString() == "09:30", "the time typed is stored as 09:30");

  // ---- Filtering by a key word ----
  WhenModal<TFilterForm>([](TFilterForm& form) {
    Check(form.windowTitle() == "Task Filter", "Filter opens the filter dialog");
    auto* keys = form.findChild<QLineEdit*>("KeyWords");
    QTest::keyClicks(keys, "home");
    Click(form.findChild<TFlatButton*>("OKButton"));
  });
  Click(Ctl<TFlatButton>(w, "Filterbutton"));
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 2 && !Column(w, 3).contains("Write the yearly report"),
        "the key-word filter home shows the two home tasks");
  Check(Ctl<TFlatButton>(w, "FilterClearbutton")->isVisible(), "the FILTERED button shows");
  Click(Ctl<TFlatButton>(w, "FilterClearbutton"));
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 3 && !Ctl<TFlatButton>(w, "FilterClearbutton")->isVisible(), "clicking FILTERED shows all tasks again");

  // ---- Sorting ----
  SortAction(w, false, 2)->trigger();
  Check(Column(w, 0) == QStringList({"High", "Medium", "Low"}), "Sort by Priority lists High, Medium, Low");
  SortAction(w, false, 0)->trigger();
  Check(Column(w, 3).value(0) == "Buy paint", "Sort by Date+Time puts the oldest date first");

  // ---- Done ----
  SelectRow(w, "Buy paint");
  Click(Ctl<TFlatButton>(w, "DoneToggleButton"));
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 2, "a task marked done leaves the list while done tasks are hidden");
  Click(Ctl<TFlatButton>(w, "ShowDone"));
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 3 && Ctl<TFlatButton>(w, "ShowDone")->Caption() == "Hide DONE", "Show DONE brings it back");

  // ---- Delete and undo ----
  SelectRow(w, "Call the plumber");
  Answer("Delete this task?", QMessageBox::Yes);
  Activate(w);
  QTest::keyClick(Ctl<QTableView>(w, "ActiveGrid"), Qt::Key_Delete);
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 2 && !Column(w, 3).contains("Call the plumber"), "Delete removes the task");
  Answer("1 deleted task has been brought back.", QMessageBox::Ok);
  Activate(w);
  QTest::keyClick(Ctl<QTableView>(w, "ActiveGrid"), Qt::Key_Z, Qt::ControlModifier);
  Check(Column(w, 3).contains("Call the plumber"), "Ctrl+Z brings the deleted task back");

  // ---- A bulk delete and its undo ----
  Answer("CONFIRM: Delete all tasks marked as done?\n\nThis will delete 1 task.", QMessageBox::Yes);
  Answer("All tasks marked DONE have been deleted (1 records)", QMessageBox::Ok);
  w.findChild<QAction*>("AllMarkedDone1")->trigger();
  Check(Ctl<DataSetModel>(w, "GridModel")->rowCount() == 2 && !Column(w, 3).contains("Buy paint"), "File, Delete, All Marked Done");
  Answer("1 deleted task has been brought back.", QMessageBox::Ok);
  Ctl<QAction>(w, "UndoDelete1")->trigger();
  Check(Column(w, 3).contains("Buy paint"), "Undo Delete brings the bulk-deleted task back");

  if (!screenshot.isEmpty()) {
    const bool saved = w.grab().save(screenshot);
    Check(saved, "screenshot of the main window saved as " + screenshot);
  }

  // ---- Rebuild ----
  SelectRow(w, "Buy paint");
  Answer("Delete this task?", QMessageBox::Yes);
  Click(Ctl<TFlatButton>(w, "DeleteButton"));
  Answer("Rebuild Index Files?", QMessageBox::Yes);
  Answer("Done!", QMessageBox::Ok);
  w.findChild<QAction*>("RebuildIndexes1")->trigger();
  Check(w.Store().TasqEngine.RecordCount() == 2, "Rebuild Indexes packs the table: two tasks are left in the file");
  Check(SortAction(w, true, 0)->isChecked(), "after the rebuild the list is in date and time order");
  Check(!Ctl<QAction>(w, "UndoDelete1")->isEnabled(), "after the pack there is nothing left to undo");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: lwwalk DATA_DIR [SCREENSHOT.png]\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  const QString screenshot = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  QFile ini(dir + QStringLiteral("/TASQ.INI"));
  if (!ini.open(QIODevice::WriteOnly) || ini.write("[Reindex]\nNeeded=0\n") < 0) {
    std::fprintf(stderr, "lwwalk: cannot write in %s\n", argv[1]);
    return 2;
  }
  ini.close();
  StoreHelpers::SetDataDirectory(dir);
  QTimer boxes;
  QObject::connect(&boxes, &QTimer::timeout, &boxes, &AnswerBoxes);
  boxes.start(20);
  TMainScreen window;
  window.show();
  // The walk starts from the main loop once the opening sequence has ended; started from inside
  // that sequence (which lets messages through) it would hold the sequence up.
  QTimer opened;
  QElapsedTimer waited;
  waited.start();
  QObject::connect(&opened, &QTimer::timeout, &opened, [&] {
    const bool ready = window.Opened() && Ctl<TFlatButton>(window, "ExitButton")->isVisible();
    if (!ready && waited.elapsed() < 20000) return;
    opened.stop();
    Check(ready, "the main window opened its task files in " + dir);
    if (ready) Walk(window, screenshot);
    window.close();
    QApplication::quit();
  });
  opened.start(50);
  QApplication::exec();
  if (!g_expected.isEmpty()) Check(false, QStringLiteral("%1 expected message box(es) never came").arg(g_expected.size()));
  std::printf("%d failure(s)\n", g_failures);
  return g_failures;
}
