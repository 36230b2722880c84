// The real main window, driven offscreen on a task table in a temporary data directory.

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "db/TaskFileNames.h"
#include "MainScreenFixture.h"
#include "app/TMainScreen.h"
#include "dialogs/TTaskEditor.h"
#include "db/DateTimeValue.h"
#include "db/DataSetModel.h"
#include "dialogs/TSetTimeDialog.h"
#include "platform/UserMessages.h"
#include "store/MainPreferences.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"
#include "widgets/TSplitPanes.h"

class MainScreenTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  std::unique_ptr<TMainScreen> Open(const QList<Task>& tasks, const QString& settings = QString()) {
    return OpenMainScreen(tasks, dir_->path(), settings);
  }

  QString Cell(TMainScreen& w, int row, int column) { return GridCell(w, row, column); }
  int RowOf(TMainScreen& w, const QString& descript) { return GridRowOf(w, descript); }
  void Select(TMainScreen& w, int row, int column) {
    Control<QTableView>(w, "ActiveGrid")->setCurrentIndex(Grid(w)->index(row, column));
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

  void firstStartWithoutSettings() {
    auto w = Open({{"20240301", "", "later", false, "", "B", ""},
                   {"20240101", "", "earlier", false, "", "B", ""},
                   {"20240229", "", "finished", true, "", "B", ""}});
    QVERIFY(w);
    // Natural order, no sort item ticked, done tasks hidden, splitter at 200.
    QCOMPARE(Grid(*w)->rowCount(), 2);
    QCOMPARE(Cell(*w, 0, 3), QString("later"));
    for (int i = 0; i < 4; ++i) QVERIFY(!SortItem(*w, true, i)->isChecked());
    QCOMPARE(Control<TSplitPanes>(*w, "SplitPanes1")->BarPosition(), 200);
    QCOMPARE(Control<TFlatButton>(*w, "ShowDone")->Caption(), QString("Show DONE"));
    QVERIFY(!Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());
    QVERIFY(!Control<QFrame>(*w, "UpdateStatus")->isVisible());
    QCOMPARE(messages_.shown, QStringList({"Please rebuild indexes ASAP"}));
    // Closing saves what was loaded; a later start sorts as chosen.
    SortItem(*w, true, 0)->trigger();
    QCOMPARE(Cell(*w, 0, 3), QString("earlier"));
    QVERIFY(SortItem(*w, true, 0)->isChecked());
    w->close();
    w.reset();
    messages_.shown.clear();
    w = Open({});
    QVERIFY(w);
    QCOMPARE(w->SortOrderNumber(), 1);
    QCOMPARE(Cell(*w, 0, 3), QString("earlier"));
  }

  void emptyTableHidesTheTaskButtons() {
    auto w = Open({}, "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    for (const char* name :
         {"DeleteButton", "Editbutton", "DoneToggleButton", "CloneButton", "CalendarButton", "Printbutton"})
      QVERIFY2(!Control<TFlatButton>(*w, name)->isVisible(), name);
    for (const char* name : {"Newbutton", "Filterbutton", "OrderButton", "ShowDone", "Helpbutton", "ExitButton"})
      QVERIFY2(Control<TFlatButton>(*w, name)->isVisible(), name);
    QVERIFY(messages_.shown.isEmpty());
    // A double click in an empty view does nothing.
    DoubleClickCell(*w, 0, 0);
    QVERIFY(messages_.shown.isEmpty());
  }

  void failedStartKeepsThePreferences() {
    const QString settings = "[Preferences]\nSplitterBar=150\nOrder=2\nShowDone=1\n[Reindex]\nNeeded=0\n";
    QFile dbf(TaskFileNames::TaskTable(dir_->path()));
    QVERIFY(dbf.open(QIODevice::WriteOnly));
    dbf.write("this is not a table");
    dbf.close();
    QFile ini(dir_->filePath("TASQ.INI"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(settings.toUtf8());
    ini.close();
    auto w = std::make_unique<TMainScreen>(nullptr, FixtureClock());
    w->show();
    QTRY_VERIFY(!w->isVisible());
    QCOMPARE(messages_.shown.last(), QString("Unable to open the Tasq file: LWISE.DBF"));
    const MainPreferences kept = MainPreferences::Load();
    QCOMPARE(kept.splitterBar, 150);
    QCOMPARE(kept.order, 2);
    QVERIFY(kept.showDone);
    QVERIFY(!kept.reindexNeeded);
  }

  void displayTextsAndEmphasis() {
    auto w = Open({{"20240229", "14:05", "leap", false, "", "A", ""},
                   {"20240301", "00:00", "midnight", false, "", "a", ""},
                   {"20240229", "", "done today", true, "", "A", ""},
                   {"2024022X", "", "bad date", false, "", "", ""}},
                  "[Preferences]\nOrder=0\nShowDone=1\n[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    const int leap = RowOf(*w, "leap"), midnight = RowOf(*w, "midnight"), done = RowOf(*w, "done today"),
              bad = RowOf(*w, "bad date");
    QCOMPARE(Cell(*w, leap, 1), QString("29 Feb 2024"));
    QCOMPARE(Cell(*w, leap, 2), QString(" 02:05pm"));
    QCOMPARE(Cell(*w, leap, 0), QString("High"));
    QCOMPARE(Cell(*w, midnight, 2), QString(" 12:00am"));
    QCOMPARE(Cell(*w, midnight, 0), QString("High"));
    QCOMPARE(Cell(*w, done, 4), QString("Y"));
    QCOMPARE(Cell(*w, bad, 1), QString());
    QCOMPARE(Cell(*w, bad, 0), QString());
    auto font = [&](int row, int column) { return Grid(*w)->data(Grid(*w)->index(row, column), Qt::FontRole); };
    QVERIFY(font(leap, 0).value<QFont>().bold());
    QVERIFY(font(leap, 1).value<QFont>().bold() && font(leap, 1).value<QFont>().italic());
    QVERIFY(!font(midnight, 0).isValid());  // lower-case a: High, but not bold
    QVERIFY(!font(done, 0).isValid() && !font(done, 1).isValid());
    QVERIFY(!font(leap, 3).isValid());
  }

  void columnActions() {
    auto w = Open({{"20240305", "09:00", "task", false, "HOME", "B", "a note"}}, "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    // Priority column: its menu; the items edit the task in place.
    DoubleClickCell(*w, 0, 0);
    QTRY_VERIFY(Control<QMenu>(*w, "PriorityColumnMenu")->isVisible());
    Control<QMenu>(*w, "PriorityColumnMenu")->close();
    QVERIFY(Trigger(*w, "High1"));
    QCOMPARE(Cell(*w, 0, 0), QString("High"));
    QVERIFY(Trigger(*w, "Low1"));
    QCOMPARE(w->Store().TasqTable.FieldByName("PRIORITY")->AsString(), QString("C"));
    // Date column: its menu; a quick date counts from the day of the click; Clear Date.
    DoubleClickCell(*w, 0, 1);
    QTRY_VERIFY(Control<QMenu>(*w, "DateColumnMenu")->isVisible());
    Control<QMenu>(*w, "DateColumnMenu")->close();
    QAction* week2 = Control<QMenu>(*w, "QuickDateMenu")->findChild<QAction*>("Week2");
    QVERIFY(week2 != nullptr);
    FixtureToday() = (DateTimeValue::EncodeDate(2024, 3, 1));  // past "midnight"
    week2->trigger();
    QCOMPARE(w->Store().TasqTable.FieldByName("DATE")->AsString(), QString("20240310"));
    QVERIFY(Trigger(*w, "ClearDate1"));
    QVERIFY(w->Store().TasqTable.FieldByName("DATE")->IsNull());
    QCOMPARE(Cell(*w, 0, 1), QString());
    // Time column: the set-time dialog; noon chosen gives 12:00.
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<TSetTimeDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->findChild<QWidget*>("GraphicPanel13");  // the PM panel captioned 12
      QMetaObject::invokeMethod(dialog, [dialog] {
        for (QObject* o : dialog->findChildren<QObject*>())
          if (o->objectName() == "GraphicPanel13" || o->objectName() == "GraphicPanel25") {
            auto* panel = qobject_cast<QWidget*>(o);
            QTest::mouseClick(panel, Qt::LeftButton);
          }
        dialog->done(1);
      });
    });
    DoubleClickCell(*w, 0, 2);
    QCOMPARE(w->Store().TasqTable.FieldByName("TIME")->AsString(), QString("12:00"));
    QCOMPARE(Cell(*w, 0, 2), QString(" 12:00pm"));
    // Key words: the list offers the words in use; Clear Entry empties the field.
    QCOMPARE(w->KeyWords(), QStringList({"HOME"}));
    WhenPopupPick("KeyListMenu", "HOME");
    DoubleClickCell(*w, 0, 5);
    QCOMPARE(w->Store().TasqTable.FieldByName("KEYS")->AsString(), QString("HOME HOME"));
    WhenPopupPick("KeyListMenu", "Clear Entry");
    DoubleClickCell(*w, 0, 5);
    QVERIFY(w->Store().TasqTable.FieldByName("KEYS")->IsNull());
    // Task and Done columns reach their commands: the editor, here cancelled, and the toggle.
    bool edited = false;
    WhenModal<TTaskEditor>([&](TTaskEditor& editor) {
      edited = editor.Task->text() == "task";
      editor.CancelButtonClick();
    });
    DoubleClickCell(*w, 0, 3);
    QVERIFY(edited);
    DoubleClickCell(*w, 0, 4);
    QCOMPARE(Grid(*w)->rowCount(), 0);  // done now, and done tasks are hidden
  }

  void typedTextIsPostedOnClose() {
    auto w = Open({{"20240305", "", "old text", false, "", "B", ""}}, "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    // A note typed into the memo is stored when the memo loses the focus.
    Control<QPlainTextEdit>(*w, "ActiveNotes")->setFocus();
    Control<QPlainTextEdit>(*w, "ActiveNotes")->setPlainText("typed note");
    QVERIFY(LeaveNotesPane(*w));
    QCOMPARE(w->Store().TasqTable.FieldByName("NOTE")->AsString(), QString("typed note"));
    // A description being typed in its cell is posted by the close.
    Select(*w, 0, 3);
    Control<QTableView>(*w, "ActiveGrid")->setFocus();
    Control<QTableView>(*w, "ActiveGrid")->edit(Grid(*w)->index(0, 3));
    QTRY_VERIFY(QApplication::focusWidget() != Control<QTableView>(*w, "ActiveGrid"));
    QTest::keyClicks(QApplication::focusWidget(), "new text");
    w->close();
    w.reset();
    w = Open({});
    QVERIFY(w);
    QVERIFY(Cell(*w, 0, 3).contains("new text"));
    QCOMPARE(w->Store().TasqTable.FieldByName("NOTE")->AsString(), QString("typed note"));
  }

  void cloneDeleteAndDone() {
    auto w = Open({{"20240305", "09:00", "first", false, "HOME", "A", "note"},
                   {"20240306", "", "second", false, "", "B", ""}},
                  "[Preferences]\nOrder=1\n[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    Grid(*w)->SetCurrentRow(RowOf(*w, "first"));
    // Clone: everything but the priority, and never done.
    Control<TFlatButton>(*w, "CloneButton")->click();
    QCOMPARE(messages_.shown.last(), QString("Clone this task?"));
    QCOMPARE(Grid(*w)->rowCount(), 3);
    QCOMPARE(w->Store().TasqTable.FieldByName("DESCRIPT")->AsString(), QString("first"));
    QVERIFY(w->Store().TasqTable.FieldByName("PRIORITY")->IsNull());
    QCOMPARE(w->Store().TasqTable.FieldByName("NOTE")->AsString(), QString("note"));
    QCOMPARE(w->Store().TasqTable.FieldByName("TIME")->AsString(), QString("09:00"));
    const quint32 clone = w->Store().TasqTable.GetBookmark();
    // Done toggles and, with done tasks hidden, the task leaves the view.
    Control<TFlatButton>(*w, "DoneToggleButton")->click();
    QCOMPARE(Grid(*w)->rowCount(), 2);
    // Delete makes the following task current; deleting the last ones hides the buttons.
    Grid(*w)->SetCurrentRow(RowOf(*w, "first"));
    Control<TFlatButton>(*w, "DeleteButton")->click();
    QCOMPARE(messages_.shown.last(), QString("Delete this task? "));
    QCOMPARE(w->Store().TasqTable.FieldByName("DESCRIPT")->AsString(), QString("second"));
    Control<TFlatButton>(*w, "DeleteButton")->click();
    QCOMPARE(Grid(*w)->rowCount(), 0);
    QVERIFY(!Control<TFlatButton>(*w, "Editbutton")->isVisible());
    QVERIFY(clone != 0);
  }

  void rebuildPacksAndClearsTheReminder() {
    auto w = Open({{"20240305", "", "keep", false, "", "B", ""}, {"20240306", "", "gone", false, "", "B", ""}});
    QVERIFY(w);
    QCOMPARE(Grid(*w)->rowCount(), 2);
    QVERIFY(w->ReindexNeeded());
    // Mark one task the way the grid's own delete would, then rebuild with the pack step.
    Grid(*w)->SetCurrentRow(RowOf(*w, "gone"));
    w->Store().TasqTable.Delete();
    QVERIFY(Trigger(*w, "RebuildIndexes1"));
    QCOMPARE(messages_.shown.mid(messages_.shown.size() - 2), QStringList({"Rebuild Index Files?", "Done!"}));
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 1L);
    QCOMPARE(Grid(*w)->rowCount(), 1);
    QVERIFY(!w->ReindexNeeded());
    QVERIFY(!MainPreferences::Load().reindexNeeded);
    QVERIFY(SortItem(*w, true, 0)->isChecked());
  }

  void resizeChangesOnlyTheDescription() {
    auto w = Open({{"20240305", "", "t", false, "", "B", ""}}, "[Reindex]\nNeeded=0\n");
    QVERIFY(w);
    QList<int> before;
    for (int c = 0; c < 6; ++c) before << Control<QTableView>(*w, "ActiveGrid")->columnWidth(c);
    w->resize(w->width() + 120, w->height());
    QTRY_VERIFY(Control<QTableView>(*w, "ActiveGrid")->columnWidth(3) != before[3]);
    int sum = 0;
    for (int c = 0; c < 6; ++c) {
      if (c != 3) QCOMPARE(Control<QTableView>(*w, "ActiveGrid")->columnWidth(c), before[c]);
      sum += Control<QTableView>(*w, "ActiveGrid")->columnWidth(c);
    }
    QCOMPARE(sum, Control<TSplitPanes>(*w, "SplitPanes1")->width() - 30);
  }

  void oneCopyPerTaskFolder() {
    // A second start on the same folder ends at once without touching a file (the first copy's
    // window comes forward); a start on another folder opens its own task list.
    QTemporaryDir a, b;
    const QString exe = QStringLiteral(LISTWISE_PATH);
    QFile ini(a.filePath("TASQ.INI"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Reindex]\nNeeded=0\n");
    ini.close();
    QProcess first;
    first.start(exe, {"--data-dir", a.path()});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(a.filePath("LWISE.cdx")), 20000);
    const QStringList filesOfA = QDir(a.path()).entryList(QDir::Files);

    QProcess second;
    // The same folder by another spelling.
    second.start(exe, {"--data-dir", a.path() + "/."});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(QDir(a.path()).entryList(QDir::Files), filesOfA);

    QProcess other;
    other.start(exe, {"--data-dir", b.path()});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(TaskFileNames::TaskTable(b.path())), 20000);
    QCOMPARE(other.state(), QProcess::Running);
    QCOMPARE(first.state(), QProcess::Running);
    for (QProcess* p : {&first, &other}) {
      p->terminate();
      p->waitForFinished(10000);
      if (p->state() != QProcess::NotRunning) p->kill();
    }
  }

  void commandLineAnswersWithoutADisplay() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LISTWISE_PATH), {"--version"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().startsWith("listwise "));
    p.start(QStringLiteral(LISTWISE_PATH), {"--help"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("--data-dir"));
    p.start(QStringLiteral(LISTWISE_PATH), {"--no-such-option"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
  }
};

QTEST_MAIN(MainScreenTest)
#include "tst_MainScreen.moc"
