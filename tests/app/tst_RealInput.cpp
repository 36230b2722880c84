// The main window driven the way a person drives it: mouse presses and releases on the grid's
// cells, tool-bar buttons pressed with the mouse, keys delivered through the event loop to
// whatever has the focus. Calling the window's functions or click() on buttons skips the focus
// changes, the view's own mouse handling and the activation that follows a modal dialog, which
// is where faults hid before.

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include "MainScreenFixture.h"
#include "db/DateTimeValue.h"
#include "db/TTableEngine.h"
#include "dialogs/TTaskEditor.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"

namespace {

const char* const kSettled = "[Preferences]\nOrder=1\n[Reindex]\nNeeded=0\n";

template <typename T = QWidget>
T* Find(QWidget* root, const char* name) {
  T* w = root->findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no control named %s", name);
  return w;
}

// A press and a release at the middle of a widget, through the event loop.
void Click(QWidget* w, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseClick(w, button, Qt::NoModifier, w->rect().center());
}

// Clicks the grid's cell with the mouse, the way a user picks a task.
void ClickCell(QTableView* grid, int row, int column) {
  const QRect cell = grid->visualRect(grid->model()->index(row, column));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

// Types into whatever has the focus in the active window, as a keyboard does.
void TypeIntoFocus(const QString& text) {
  QWidget* target = QApplication::focusWidget();
  QVERIFY(target != nullptr);
  QTest::keyClicks(target, text);
}

void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr) target = QApplication::activeWindow();
  QVERIFY(target != nullptr);
  QTest::keyClick(target, key, modifiers);
}

// Answers the task editor, once it is up, by typing: the description replaces the selected
// placeholder, Enter confirms. When the editor closes, the main window becomes active again
// through the event loop, as a window manager makes it; the offscreen platform has no window
// manager, so the activation is queued here, to arrive while the window is still at work on
// the command.
void TypeTaskWhenEditorOpens(const QString& description, QWidget* mainWindow) {
  WhenModal<TTaskEditor>([description, mainWindow](TTaskEditor& editor) {
    QObject::connect(&editor, &QDialog::finished, mainWindow,
                     [mainWindow] { QTimer::singleShot(0, mainWindow, [mainWindow] { mainWindow->activateWindow(); }); });
    // A window manager activates a dialog as it opens; here the test does.
    editor.activateWindow();
    QTRY_VERIFY(editor.isActiveWindow());
    QLineEdit* task = Find<QLineEdit>(&editor, "Task");
    task->setFocus();
    task->selectAll();
    TypeIntoFocus(description);
    PressKey(Qt::Key_Return);
  });
}

}  // namespace

class RealInputTest : public QObject {
  Q_OBJECT
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  static QStringList StoredDescriptions(TMainScreen& w) {
    QStringList list;
    auto* grid = Find<QTableView>(&w, "ActiveGrid");
    for (int r = 0; r < grid->model()->rowCount(); ++r)
      list << grid->model()->index(r, 3).data().toString();
    list.sort();
    return list;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    UserMessages::Install(&messages_);
    FixtureToday() = (DateTimeValue::EncodeDate(2024, 2, 29));
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
    FixtureToday() = (0);
  }

  // A click on any cell of the grid, then New from the tool bar or the Insert key: the second
  // task is appended and stored whole, and no blank record appears.
  void newAfterAClickInTheGrid_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("byKey");
    for (int c = 0; c < 6; ++c) {
      QTest::addRow("column %d, New button", c) << c << false;
      QTest::addRow("column %d, Insert key", c) << c << true;
    }
  }
  void newAfterAClickInTheGrid() {
    QFETCH(int, column);
    QFETCH(bool, byKey);
    auto w = OpenMainScreen({}, dir_->path(), kSettled);
    QVERIFY(w);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    auto* grid = Find<QTableView>(w.get(), "ActiveGrid");
    auto* newButton = Find(w.get(), "Newbutton");

    TypeTaskWhenEditorOpens("First task", w.get());
    Click(newButton);
    QTRY_COMPARE(grid->model()->rowCount(), 1);

    QTRY_VERIFY(w->isActiveWindow());
    ClickCell(grid, 0, column);
    QTRY_VERIFY2(grid->hasFocus(), QApplication::focusWidget() ? qPrintable(QApplication::focusWidget()->objectName()) : "none");
    TypeTaskWhenEditorOpens("Second task", w.get());
    if (byKey) PressKey(Qt::Key_Insert);
    else Click(newButton);
    QTRY_COMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(StoredDescriptions(*w), QStringList({"First task", "Second task"}));
    QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.shown.join('|')));
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 2L);

    // And once more, from the row just added.
    QTRY_VERIFY(w->isActiveWindow());
    ClickCell(grid, 1, column);
    TypeTaskWhenEditorOpens("Third task", w.get());
    Click(newButton);
    QTRY_COMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(StoredDescriptions(*w), QStringList({"First task", "Second task", "Third task"}));
    QVERIFY2(messages_.shown.isEmpty(), qPrintable(messages_.shown.join('|')));
  }
};

QTEST_MAIN(RealInputTest)
#include "tst_RealInput.moc"
