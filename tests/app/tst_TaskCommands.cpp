// The task commands of the main window, driven through the real window and its dialogs:
// adding and editing through the task editor, the filter dialog and the filter expression, the
// bulk deletes and Undo Delete, key words, sorting and text the task file cannot hold.

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>

#include "MainScreenFixture.h"
#include "app/TaskDateRules.h"
#include "db/DateTimeValue.h"
#include "db/RegionalFormats.h"
#include "db/RegionalSettings.h"
#include "db/TTableEngine.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TTaskEditor.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"

namespace {

const char* const kSettled = "[Preferences]\nOrder=1\n[Reindex]\nNeeded=0\n";

QStringList MenuWords(QWidget* dialog) {
  QStringList words;
  if (auto* menu = dialog->findChild<QMenu*>("KeyListMenu"))
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) words << a->text();
  return words;
}

// Sends the characters as typed text, also those no key of the test's keyboard has.
void TypeText(QWidget* widget, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &release);
}

}  // namespace

class TaskCommandsTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  std::unique_ptr<TMainScreen> Open(const QList<Task>& tasks, const QString& settings = kSettled) {
    return OpenMainScreen(tasks, dir_->path(), settings);
  }
  // Tasks not marked deleted, whatever the filter.
  int Unmarked(TMainScreen& w) {
    const TaskFilter chosen = w.Filter();
    TaskFilter everything;
    everything.showDone = true;
    w.ApplyFilter(everything);
    const int n = Grid(w)->rowCount();
    w.ApplyFilter(chosen);
    return n;
  }
  QStringList Descriptions(TMainScreen& w) {
    QStringList list;
    for (int r = 0; r < Grid(w)->rowCount(); ++r) list << GridCell(w, r, 3);
    return list;
  }
  QString Stored(TMainScreen& w, const char* field) { return w.Store().TasqTable.FieldByName(field)->AsString(); }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    messages_.answer = true;
    UserMessages::Install(&messages_);
    FixtureToday() = (DateTimeValue::EncodeDate(2024, 2, 29));
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
    FixtureToday() = (0);
  }

  void newTaskWithOkAndWithCancel() {
    auto w = Open({});
    QVERIFY(w);
    QVERIFY(!Control<TFlatButton>(*w, "Editbutton")->isVisible());
    QString label;
    WhenModal<TTaskEditor>([&](TTaskEditor& editor) {
      label = editor.TaskLabel->text() + "|" + editor.Task->text();
      editor.OKButtonClick();
    });
    Control<TFlatButton>(*w, "Newbutton")->click();
    QCOMPARE(label, QString("Adding Task|{Task description}"));
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 1L);
    QCOMPARE(Stored(*w, "DESCRIPT"), QString("{Task description}"));
    QVERIFY(w->Store().TasqTable.FieldByName("DATE")->IsNull());
    QVERIFY(w->Store().TasqTable.FieldByName("TIME")->IsNull());
    QCOMPARE(Stored(*w, "PRIORITY"), QString("B"));
    QVERIFY(!w->Store().TasqTable.FieldByName("DONE")->AsBoolean());
    QVERIFY(Control<TFlatButton>(*w, "Editbutton")->isVisible());
    QCOMPARE(GridCell(*w, 0, 0), QString("Medium"));

    WhenModal<TTaskEditor>([](TTaskEditor& editor) {
      editor.Task->setText("never stored");
      editor.CancelButtonClick();
    });
    Control<TFlatButton>(*w, "Newbutton")->click();
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 1L);
    QVERIFY(messages_.shown.isEmpty());
  }

  void editingUnderTheUsersOwnFormats() {
    auto w = Open({{"20240305", "09:30", "dentist", false, "health", "C", "ask about it"}});
    QVERIFY(w);
    // The user writes dates with month names; the editor gets day and month numbers only.
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd MMMM yyyy", " ", ":", "AM", "PM"});
    RegionalSettings::SetShortTimeFormat("hh:nn");
    QString seen, patternWhileOpen;
    WhenModal<TTaskEditor>([&](TTaskEditor& editor) {
      seen = QStringList({editor.TaskLabel->text(), editor.Task->text(), editor.KeyWords->text(),
                          editor.DateEdit->text(), editor.TimeEdit->text(), editor.Notes->toPlainText(),
                          editor.pLow->isChecked() ? "low" : "?"})
                 .join("|");
      patternWhileOpen = RegionalSettings::UserFormats().ShortDateFormat;
      editor.TimeEdit->setText("2:5 pm");
      editor.OKButtonClick();
    });
    Control<TFlatButton>(*w, "Editbutton")->click();
    QCOMPARE(seen, QString("Editing Task|dentist|health|05 03 2024|09:30|ask about it|low"));
    QCOMPARE(patternWhileOpen, QString("dd MM yyyy"));
    QCOMPARE(RegionalSettings::UserFormats().ShortDateFormat, QString("dd MMMM yyyy"));
    QCOMPARE(Stored(*w, "DATE"), QString("20240305"));
    QCOMPARE(Stored(*w, "TIME"), QString("14:05"));
    QCOMPARE(Stored(*w, "PRIORITY"), QString("C"));

    auto editTime = [&](const QString& typed) {
      WhenModal<TTaskEditor>([typed](TTaskEditor& editor) {
        editor.TimeEdit->setText(typed);
        editor.OKButtonClick();
        if (editor.ModalResult == 0) editor.CancelButtonClick();  // refused: the dialog stayed
      });
      Control<TFlatButton>(*w, "Editbutton")->click();
    };
    editTime("12:15 AM");
    QCOMPARE(Stored(*w, "TIME"), QString("00:15"));
    for (const char* refused : {"0:30 AM", "13:00 PM", "24:00", "9:60"}) {
      messages_.shown.clear();
      editTime(refused);
      QCOMPARE(messages_.shown.size(), 1);
      QVERIFY2(messages_.shown[0].startsWith("Invalid time. Please use your Windows Time format\r   Example: "),
               refused);
      QCOMPARE(Stored(*w, "TIME"), QString("00:15"));
    }
    RegionalSettings::SaveUserFormats(QLocale::system());
  }

  void noteLengthRule_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("4 characters") << "abcd" << "abcd ";
    QTest::newRow("5 characters") << "abcde" << "abcde";
    QTest::newRow("12 characters") << "abcdefghijkl" << "abcdefghijkl ";
    QTest::newRow("two lines of 8 with the break") << "abc\nabc" << "abc\r\nabc ";
    QTest::newRow("empty") << "" << "";
  }
  void noteLengthRule() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    auto w = Open({{"", "", "t", false, "", "B", "old"}});
    QVERIFY(w);
    WhenModal<TTaskEditor>([typed](TTaskEditor& editor) {
      editor.Notes->setPlainText(typed);
      editor.OKButtonClick();
    });
    Control<TFlatButton>(*w, "Editbutton")->click();
    QCOMPARE(Stored(*w, "NOTE"), stored);
  }

  void cloneOfADoneHighTask() {
    auto w = Open({{"20240305", "09:00", "source", true, "HOME", "A", "line one\r\nline two"}});
    QVERIFY(w);
    Control<TFlatButton>(*w, "ShowDone")->click();
    Control<TFlatButton>(*w, "CloneButton")->click();
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 2L);
    QCOMPARE(w->Store().TasqTable.GetBookmark(), quint32(2));
    QCOMPARE(Stored(*w, "DESCRIPT"), QString("source"));
    QCOMPARE(Stored(*w, "NOTE"), QString("line one\r\nline two"));
    QCOMPARE(Stored(*w, "KEYS"), QString("HOME"));
    QCOMPARE(Stored(*w, "DATE") + Stored(*w, "TIME"), QString("2024030509:00"));
    QVERIFY(!w->Store().TasqTable.FieldByName("DONE")->AsBoolean());
    QVERIFY(w->Store().TasqTable.FieldByName("PRIORITY")->IsNull());
  }

  void bulkDeletesWithCountsAndUndo() {
    // Today is Thursday 29 February 2024.
    auto w = Open({{"20240101", "", "done old", true, "", "B", ""},
                   {"20240228", "", "yesterday", false, "", "B", ""},
                   {"20240229", "", "today", false, "", "B", ""},
                   {"", "", "undated", false, "", "B", ""},
                   {"20240310", "", "done new", true, "", "B", ""},
                   {"20241399", "", "bad date", false, "", "B", ""}});
    QVERIFY(w);
    QCOMPARE(Unmarked(*w), 6);
    QVERIFY(!Control<QAction>(*w, "UndoDelete1")->isEnabled());

    // Saying No deletes nothing, but the question told how many it would.
    messages_.answer = false;
    QVERIFY(Trigger(*w, "AllMarkedDone1"));
    QCOMPARE(messages_.shown, QStringList({"CONFIRM: Delete all tasks marked as done?\r\rThis will delete 2 tasks."}));
    QCOMPARE(Unmarked(*w), 6);
    messages_.answer = true;

    struct Case {
      const char* command;  // the menu item
      QString question, result;
      int left;
    };
    const Case cases[] = {
        {"AllMarkedDone1",
         "CONFIRM: Delete all tasks marked as done?\r\rThis will delete 2 tasks.",
         "All tasks marked DONE have been deleted (2 records)", 4},
        {"AllWithDatesBeforeToday1",
         "CONFIRM: Delete all with dates before today?\r\rThis will delete 2 tasks.",
         "All tasks with dates before today have been deleted (2 records)", 4},
        {"AllTasksMatchingCurrentFilter1",
         "CONFIRM: Delete all tasks matching the current filter?\r(i.e. all showing tasks)\r\rThis will delete 4 tasks.",
         "All tasks matching filter have been deleted\r(4 records)\rFILTER WILL NOW BE CLEARED", 2},
        {"AllTasksNOTMatchingCurrentFilter1",
         "CONFIRM: Delete all tasks NOT matching the current filter?\r(i.e. all tasks not showing)\r\rThis will delete 2 "
         "tasks.",
         "All tasks NOT matching filter have been deleted\r(2 records)", 4},
    };
    for (const Case& c : cases) {
      messages_.shown.clear();
      TaskFilter keys = w->Filter();
      keys.keyText = "a,,b";  // every task passes this key-word term
      w->ApplyFilter(keys);
      QVERIFY(Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());
      QVERIFY(Trigger(*w, c.command));
      QCOMPARE(messages_.shown, QStringList({c.question, c.result}));
      QCOMPARE(Unmarked(*w), c.left);
      QCOMPARE(w->Store().TasqEngine.RecordCount(), 6L);  // marked, not removed
      // Only the matching delete clears the filter settings; done tasks stay hidden.
      QCOMPARE(w->Filter().keyText.isEmpty(), QByteArray(c.command) == "AllTasksMatchingCurrentFilter1");
      QVERIFY(!w->Filter().showDone);
      QVERIFY(Control<QAction>(*w, "UndoDelete1")->isEnabled());
      messages_.shown.clear();
      Control<QAction>(*w, "UndoDelete1")->trigger();
      QCOMPARE(messages_.shown.size(), 1);
      QVERIFY(messages_.shown[0].endsWith("deleted tasks have been brought back."));
      QCOMPARE(Unmarked(*w), 6);
      QVERIFY(!Control<QAction>(*w, "UndoDelete1")->isEnabled());
    }
    // The two dated before today are the two deleted, done or not; a date that is no date stays.
    Control<TFlatButton>(*w, "ShowDone")->click();
    QVERIFY(Trigger(*w, "AllWithDatesBeforeToday1"));
    QCOMPARE(Descriptions(*w).size(), 4);
    QVERIFY(!Descriptions(*w).contains("done old"));
    QVERIFY(!Descriptions(*w).contains("yesterday"));
    messages_.shown.clear();
    QVERIFY(Trigger(*w, "AllWithDatesBeforeToday1"));
    QCOMPARE(messages_.shown.last(), QString("No tasks with dates before today have been deleted"));

    // With done tasks shown and nothing else set there is no filter to match.
    TaskFilter cleared = w->Filter();
    cleared.keyText.clear();
    w->ApplyFilter(cleared);
    messages_.shown.clear();
    QVERIFY(Trigger(*w, "AllTasksMatchingCurrentFilter1"));
    QVERIFY(Trigger(*w, "AllTasksNOTMatchingCurrentFilter1"));
    QCOMPARE(messages_.shown, QStringList({"No Filter currently set", "No Filter currently set"}));
    QCOMPARE(Unmarked(*w), 4);

    // All Tasks empties the table for good and leaves the date order ticked.
    SortItem(*w, true, 1)->trigger();
    messages_.shown.clear();
    QVERIFY(Trigger(*w, "AllTasks1"));
    QCOMPARE(messages_.shown,
             QStringList({"CONFIRM: Delete ALL tasks?\r\rThis will delete 4 tasks. It cannot be undone.", "Done!"}));
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 0L);
    QVERIFY(SortItem(*w, true, 0)->isChecked());
    QVERIFY(!SortItem(*w, true, 1)->isChecked());
    QVERIFY(!Control<QAction>(*w, "UndoDelete1")->isEnabled());
    QVERIFY(!Control<TFlatButton>(*w, "Editbutton")->isVisible());
  }

  void undoOfASingleDeleteAndAfterAPack() {
    auto w = Open({{"20240301", "", "first", false, "", "B", ""}, {"20240302", "", "second", false, "", "B", ""}});
    QVERIFY(w);
    Grid(*w)->SetCurrentRow(GridRowOf(*w, "first"));
    Control<TFlatButton>(*w, "DeleteButton")->click();
    QCOMPARE(Descriptions(*w), QStringList({"second"}));
    QTest::keySequence(w.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QTRY_COMPARE(Descriptions(*w), QStringList({"first", "second"}));
    QCOMPARE(Stored(*w, "DESCRIPT"), QString("first"));  // the task brought back is current
    // A pack removes marked tasks for good: nothing is left to bring back.
    Control<TFlatButton>(*w, "DeleteButton")->click();
    QVERIFY(Trigger(*w, "RebuildIndexes1"));
    QVERIFY(!Control<QAction>(*w, "UndoDelete1")->isEnabled());
    QCOMPARE(w->Store().TasqEngine.RecordCount(), 1L);
  }

  void keyWords() {
    auto w = Open({{"20240301", "", "a", false, "Home", "B", ""},
                   {"20240302", "", "b", false, "home work", "B", ""},
                   {"20240303", "", "c", false, "  lots   of  blanks ", "B", ""},
                   {"20240304", "", "d", false, "home, work", "B", ""},
                   {"20240305", "", "e", false, QString(57, 'x'), "B", ""}});
    QVERIFY(w);
    QCOMPARE(w->KeyWords(), QStringList({"Home", "work", "lots", "of", "blanks", "home,", QString(57, 'x')}));
    // A word picked from the Key words cell's menu is appended; the field keeps 60 characters.
    const auto pickFor = [&](const QString& task, const QString& word) {
      WhenPopupPick("KeyListMenu", word);
      DoubleClickCell(*w, GridRowOf(*w, task), 5);
    };
    pickFor("a", QString(57, 'x'));
    QCOMPARE(Stored(*w, "DESCRIPT"), QString("a"));
    QCOMPARE(Stored(*w, "KEYS"), "Home " + QString(55, 'x'));
    pickFor("a", "Clear Entry");
    QVERIFY(w->Store().TasqTable.FieldByName("KEYS")->IsNull());
    pickFor("a", "work");
    QCOMPARE(Stored(*w, "KEYS"), QString("work"));

    // A word typed into the grid's Key words cell is offered at once by the editor and the filter.
    const QModelIndex cell = Grid(*w)->index(GridRowOf(*w, "b"), 5);
    Control<QTableView>(*w, "ActiveGrid")->setFocus();
    Control<QTableView>(*w, "ActiveGrid")->setCurrentIndex(cell);
    Control<QTableView>(*w, "ActiveGrid")->edit(cell);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    editor->selectAll();
    QTest::keyClicks(editor, "garden Home");
    QTest::keyClick(editor, Qt::Key_Tab);
    QTRY_COMPARE(GridCell(*w, GridRowOf(*w, "b"), 5), QString("garden Home"));
    QCOMPARE(w->KeyWords().last(), QString("garden"));
    QStringList inEditor, inFilter;
    WhenModal<TTaskEditor>([&](TTaskEditor& e) {
      inEditor = MenuWords(&e);
      e.CancelButtonClick();
    });
    Control<TFlatButton>(*w, "Editbutton")->click();
    WhenModal<TFilterForm>([&](TFilterForm& f) {
      inFilter = MenuWords(&f);
      f.CancelButtonClick();
    });
    Control<TFlatButton>(*w, "Filterbutton")->click();
    QVERIFY(inEditor.contains("garden"));
    QVERIFY(inFilter.contains("garden"));
  }

  void filterExpression() {
    auto w = Open({{"20240305", "", "home task", false, "HOMEWORK", "A", ""},
                   {"20240305", "", "done", true, "home", "A", ""},
                   {"", "", "undated", false, "home", "A", ""}});
    QVERIFY(w);
    QCOMPARE(w->Store().TasqEngine.CurrentQuery(), QString("(.not.DONE)"));
    FixtureToday() = (DateTimeValue::EncodeDate(2024, 3, 5));
    TaskFilter chosen;
    chosen.dateIndex = 1;
    chosen.priorityIndex = 1;
    chosen.keyText = " home, Work";
    w->ApplyFilter(chosen);
    QCOMPARE(w->Store().TasqEngine.CurrentQuery(),
             QString("(DATE >=\"20240305\" and DATE <=\"20240305\").and.(PRIORITY=\"A\").and.(.not.DONE).and."
                     "(\"HOME\"$UPPER(KEYS).or.\"WORK\"$UPPER(KEYS))"));
    QCOMPARE(Descriptions(*w), QStringList({"home task"}));  // contained text, any case; undated never passes
    QVERIFY(Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());

    // The filter dialog edits three settings; Cancel changes nothing.
    WhenModal<TFilterForm>([](TFilterForm& f) {
      f.SetDateFilterIndex(6);
      f.CancelButtonClick();
    });
    Control<TFlatButton>(*w, "Filterbutton")->click();
    QCOMPARE(w->Filter().dateIndex, quint8(1));
    FixtureToday() = (DateTimeValue::EncodeDate(2025, 1, 1));
    int shownDate = -1;
    WhenModal<TFilterForm>([&](TFilterForm& f) {
      shownDate = f.DateFilterIndex();
      f.SetDateFilterIndex(6);
      f.SetPriorityFilterIndex(0);
      f.SetKeyFilterText("a,,b");
      f.OKButtonClick();
    });
    Control<TFlatButton>(*w, "Filterbutton")->click();
    QCOMPARE(shownDate, 1);
    QCOMPARE(w->Store().TasqEngine.CurrentQuery(),
             QString("(DATE >=\"19000101\" and DATE <=\"20241231\").and.(.not.DONE).and."
                     "(\"A\"$UPPER(KEYS).or.\"\"$UPPER(KEYS).or.\"B\"$UPPER(KEYS))"));
    QCOMPARE(Descriptions(*w), QStringList({"home task"}));

    // Blanks only: no key-word term, but still filtered; done shown and nothing else: no query.
    Control<TFlatButton>(*w, "FilterClearbutton")->click();
    QVERIFY(!Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());
    TaskFilter blanks;
    blanks.keyText = "   ";
    w->ApplyFilter(blanks);
    QCOMPARE(w->Store().TasqEngine.CurrentQuery(), QString("(.not.DONE)"));
    QVERIFY(Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());
    w->ApplyFilter(TaskFilter());
    Control<TFlatButton>(*w, "ShowDone")->click();
    QCOMPARE(w->Store().TasqEngine.CurrentQuery(), QString());
    QCOMPARE(Control<TFlatButton>(*w, "ShowDone")->Caption(), QString("Hide DONE"));
    QCOMPARE(Control<TFlatButton>(*w, "ShowDone")->Bitmap(), Control<QLabel>(*w, "Hidebmp")->pixmap().toImage());
    QVERIFY(Control<TFlatButton>(*w, "ShowDone")->Bitmap() != Control<QLabel>(*w, "Showbmp")->pixmap().toImage());
    QVERIFY(!Control<TFlatButton>(*w, "FilterClearbutton")->isVisible());
    QCOMPARE(Grid(*w)->rowCount(), 3);
  }

  void sortByPriority() {
    auto w = Open({{"20240305", "10:00", "low", false, "", "C", ""},
                   {"20240306", "09:00", "high later", false, "", "A", ""},
                   {"20240305", "11:00", "none", false, "", "", ""},
                   {"20240304", "", "medium", false, "", "B", ""},
                   {"20240306", "08:00", "high earlier", false, "", "A", ""},
                   {"20240301", "", "high first", false, "", "A", ""}});
    QVERIFY(w);
    SortItem(*w, true, 2)->trigger();
    QCOMPARE(Descriptions(*w), QStringList({"none", "high first", "high earlier", "high later", "medium", "low"}));
    QCOMPARE(w->Store().TasqTable.FieldByName("DESCRIPT")->AsString(), QString("none"));  // first task current
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(SortItem(*w, true, i)->isChecked(), i == 2);
      QCOMPARE(SortItem(*w, false, i)->isChecked(), i == 2);
    }
    // Opening the Sort button's menu ticks the order in force again.
    SortItem(*w, false, 2)->setChecked(false);
    QMenu* sortMenu = Control<QMenu>(*w, "ButtonSortMenu");
    sortMenu->popup(w->mapToGlobal(QPoint(10, 10)));
    QVERIFY(SortItem(*w, false, 2)->isChecked());
    sortMenu->close();
    QCOMPARE(w->SortOrderNumber(), w->Store().TasqEngine.TagOrder("PRIORITY"));
  }

  void textTheFileCannotHoldIsRefusedWhereTyped() {
    auto w = Open({{"20240305", "", "plain", false, "", "B", "note"}});
    QVERIFY(w);
    // In a grid cell.
    const QModelIndex cell = Grid(*w)->index(0, 3);
    Control<QTableView>(*w, "ActiveGrid")->setFocus();
    Control<QTableView>(*w, "ActiveGrid")->setCurrentIndex(cell);
    Control<QTableView>(*w, "ActiveGrid")->edit(cell);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    editor->setCursorPosition(editor->text().size());
    TypeText(editor, QString::fromUtf8("\xce\xa9"));  // Greek capital omega
    QCOMPARE(messages_.shown.size(), 1);
    QVERIFY(messages_.shown[0].contains(QString::fromUtf8("\xce\xa9")));
    QCOMPARE(editor->text(), QString("plain"));
    TypeText(editor, QString::fromUtf8("\xc3\xa9"));  // e acute: Windows-1252 has it
    QTest::keyClick(editor, Qt::Key_Tab);
    QTRY_COMPARE(Stored(*w, "DESCRIPT"), QString::fromUtf8("plain\xc3\xa9"));
    // In the note.
    messages_.shown.clear();
    Control<QPlainTextEdit>(*w, "ActiveNotes")->setFocus();
    Control<QPlainTextEdit>(*w, "ActiveNotes")->moveCursor(QTextCursor::End);
    TypeText(Control<QPlainTextEdit>(*w, "ActiveNotes"), QString::fromUtf8("\xe2\x82\xac\xe2\x98\x83"));  // euro sign, snowman
    QCOMPARE(messages_.shown.size(), 1);
    QVERIFY(LeaveNotesPane(*w));
    QCOMPARE(Stored(*w, "NOTE"), QString::fromUtf8("note\xe2\x82\xac"));
  }

  void reducedDatePattern_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("reduced");
    QTest::newRow("names") << "dd MMMM yyyy" << "dd MM yyyy";
    QTest::newRow("numbers") << "d.M.yyyy" << "d.M.yyyy";
    QTest::newRow("weekday first") << "dddd, MMMM d, yyyy" << "dd, MM , yyyy";
    QTest::newRow("mixed case") << "Dd/mM/yyyy" << "Dd/mM/yyyy";
  }
  void reducedDatePattern() {
    QFETCH(QString, pattern);
    QFETCH(QString, reduced);
    QCOMPARE(TaskDateRules::ReducedDatePattern(pattern), reduced);
  }
};

QTEST_MAIN(TaskCommandsTest)
#include "tst_TaskCommands.moc"
