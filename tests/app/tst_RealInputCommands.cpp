// Every command of the main window, reached the way a user reaches it: a click on the tool bar,
// a click or double click on a grid cell, the accelerator keys, Insert and Delete, Enter and the
// Menu key in the grid, Tab and Space to the bottom bar, the menus opened and walked with the
// keys. The input goes through the platform window, so Qt routes it to the focus, the shortcut
// or the open menu as it does for the user. Each table row names the command, how it is reached
// and what must come of it. Controls are found by object name; questions are answered Yes by a
// stand-in for the message boxes.

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "../dialogs/RealEvents.h"
#include "SeedTasks.h"
#include "app/TMainScreen.h"
#include "db/DateTimeValue.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TMonthGrid.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "store/TaskStore.h"
#include "widgets/HelpWindow.h"

using namespace RealEvents;

// The tests run on 29 February 2024 (the current time of day), whatever the date.
Clock LeapDayClock() {
  return [] { return DateTimeValue::EncodeDate(2024, 2, 29) + DateTimeValue::CurrentTime(); };
}

namespace {

class Answers : public UserMessages {
 public:
  void Information(const QString&, const QString& text) override { shown << text; }
  bool YesNo(const QString&, const QString& text) override {
    shown << text;
    return true;
  }
  QStringList shown;
};

Answers* messages = nullptr;

const char* const kSettings = "[Preferences]\nOrder=1\nShowDone=0\n[Reindex]\nNeeded=0\n";

// Date order: Zulu, Alpha (today, so the window opens on it), Beta; Gamma is done and hidden.
const QList<Task> kTasks = {{"20240228", "", "Zulu", false, "shop", "B", ""},
                           {"20240229", "", "Alpha", false, "home", "A", "first note"},
                           {"20240301", "", "Beta", false, "shop", "C", ""},
                           {"20240227", "", "Gamma", true, "home", "C", ""}};

QTableView* Grid(QWidget* w) { return Named<QTableView>(w, "ActiveGrid"); }

QString Cell(QWidget* w, int row, int column) { return Grid(w)->model()->index(row, column).data().toString(); }

QStringList Tasks(QWidget* w) {
  QStringList list;
  for (int r = 0; r < Grid(w)->model()->rowCount(); ++r) list << Cell(w, r, 3);
  return list;
}

int RowOf(QWidget* w, const QString& task) { return int(Tasks(w).indexOf(task)); }

QString CellOf(QWidget* w, const QString& task, int column) { return Cell(w, RowOf(w, task), column); }

QString CurrentTask(QWidget* w) {
  const QModelIndex i = Grid(w)->currentIndex();
  return i.isValid() ? Cell(w, i.row(), 3) : QString();
}

QRect CellRect(QWidget* w, const QString& task, int column) {
  return Grid(w)->visualRect(Grid(w)->model()->index(RowOf(w, task), column));
}

// Before each key: the main window is the one on top again once a dialog or menu has gone, as
// a window manager makes it.
void MainKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  if (!QApplication::activePopupWidget() && !QApplication::activeModalWidget()) Activate(w);
  Key(key, modifiers);
}

// The grid gets the focus and the current cell moves to `column` of Alpha with the keys.
void KeysToAlpha(QWidget* w, int column) {
  Activate(w);
  Grid(w)->setFocus();
  MainKey(w, Qt::Key_Home, Qt::ControlModifier);
  for (int i = 0; i < RowOf(w, "Alpha"); ++i) MainKey(w, Qt::Key_Down);
  for (int i = 0; i < column; ++i) MainKey(w, Qt::Key_Right);
}

void ClickCell(QWidget* w, const QString& task, int column) {
  Click(Grid(w)->viewport(), CellRect(w, task, column).center());
}

// The task editor, when it comes up, gets `text` typed over its description and Enter.
void EditorTypes(const QString& text) {
  WhenModal("TaskEditor", [text](QWidget&) {
    Key(Qt::Key_A, Qt::ControlModifier);
    Type(text);
    Key(Qt::Key_Return);
  });
}

// Tab until the named control has the focus (Ctrl+Tab out of the grid and the note).
void TabTo(QWidget* w, const char* name) {
  Activate(w);
  for (int i = 0; i < 12 && QApplication::focusWidget() && QApplication::focusWidget()->objectName() != name; ++i) {
    const QString now = QApplication::focusWidget()->objectName();
    MainKey(w, Qt::Key_Tab, now == "ActiveGrid" || now == "ActiveNotes" ? Qt::ControlModifier : Qt::NoModifier);
  }
}

void OpenFileMenu(QWidget* w, bool byKeys) {
  if (byKeys) {
    MainKey(w, Qt::Key_F, Qt::AltModifier);
    return;
  }
  auto* bar = w->findChild<QMenuBar*>();
  for (QAction* a : bar->actions())
    if (a->text() == "&File") Click(bar, bar->actionGeometry(a).center());
}

// Walks the open menu and its submenus along `path`, by keys or by mouse.
void MenuPath(QStringList path, bool byKeys) {
  if (path.isEmpty()) return;
  WhenMenu([path, byKeys](QMenu&) {
    const QString first = path.front();
    if (byKeys) ChooseByKeys(first);
    else ChooseByMouse(first);
    MenuPath(path.mid(1), byKeys);
  });
}

// The Menu key: the key press, then the context-menu event the X platform sends for it to the
// focused control (the offscreen platform sends none of its own).
auto MenuKey() {
  return [](QWidget* w) {
    MainKey(w, Qt::Key_Menu);
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos());
    QCoreApplication::sendEvent(QApplication::focusWidget(), &menu);
  };
}

struct Row {
  const char* command;
  const char* how;
  std::function<void(QWidget*)> act;
  std::function<void(QWidget*)> check;
};

auto Button(const char* name) {
  return [name](QWidget* w) { Click(Named(w, name)); };
}
auto Keys(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  return [key, modifiers](QWidget* w) { MainKey(w, key, modifiers); };
}
auto Then(std::function<void(QWidget*)> first, std::function<void(QWidget*)> second) {
  return [first, second](QWidget* w) {
    first(w);
    second(w);
  };
}
auto Before(std::function<void()> arm, std::function<void(QWidget*)> act) {
  return [arm, act](QWidget* w) {
    arm();
    act(w);
  };
}

// A filter on the key word "shop", set through the filter dialog by keys.
void FilterShop(QWidget* w) {
  WhenModal("FilterForm", [](QWidget&) {
    Key(Qt::Key_K, Qt::AltModifier);
    Type("shop");
    Key(Qt::Key_Return);
  });
  MainKey(w, Qt::Key_I, Qt::AltModifier);
  QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Beta"}));
}

std::vector<Row> Rows() {
  auto edited = [](QWidget* w) { QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Alpha 2", "Beta"})); };
  auto added = [](QWidget* w) {
    QTRY_VERIFY(Tasks(w).contains("Delta"));
    QCOMPARE(Tasks(w).size(), 4);
  };
  auto cloned = [](QWidget* w) {
    QTRY_COMPARE(Tasks(w).count("Alpha"), 2);
    QVERIFY(messages->shown.contains("Clone this task?"));
  };
  auto deleted = [](QWidget* w) { QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Beta"})); };
  auto filtered = [](QWidget* w) {
    QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Beta"}));
    QVERIFY(Named(w, "FilterClearbutton")->isVisible());
  };
  auto unfiltered = [](QWidget* w) {
    QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Alpha", "Beta"}));
    QVERIFY(!Named(w, "FilterClearbutton")->isVisible());
  };
  auto doneShown = [](QWidget* w) { QTRY_COMPARE(Tasks(w), QStringList({"Gamma", "Zulu", "Alpha", "Beta"})); };
  auto byDescription = [](QWidget* w) { QTRY_COMPARE(Tasks(w), QStringList({"Alpha", "Beta", "Zulu"})); };
  auto sortMenu = [](bool byKeys) { return [byKeys] { MenuPath({"Sort by Description"}, byKeys); }; };
  auto reportShown = std::make_shared<bool>(false);
  auto report = [reportShown](bool byKeys) {
    return [reportShown, byKeys] {
      *reportShown = false;
      WhenModal("ReportSetup", [reportShown, byKeys](QWidget& d) {
        *reportShown = true;
        if (byKeys) Key(Qt::Key_Escape);
        else Click(Named(&d, "ReturnButton"));
      });
    };
  };
  auto reportClosed = [reportShown](QWidget* w) {
    QTRY_VERIFY(*reportShown);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(w->isVisible());
  };
  // The calendar starts today (the clock's); going back years and then OK makes the first
  // task on or after that date current.
  auto calendar = [](bool byKeys) {
    return [byKeys] {
      WhenModal("DateSelector", [byKeys](QWidget& d) {
        auto* s = qobject_cast<TDateSelector*>(&d);
        for (int i = 0; i < 40 && s->Calendar()->Year() > 2023; ++i)
          if (byKeys) Key(Qt::Key_PageUp, Qt::ControlModifier);
          else Click(Named(&d, "PrevYear"));
        if (byKeys) Key(Qt::Key_Return);
        else Click(Named(&d, "OKButton"));
      });
    };
  };
  auto wentToZulu = [](QWidget* w) { QTRY_COMPARE(CurrentTask(w), QString("Zulu")); };
  auto menuItems = [](QStringList path, bool byKeys) { return [path, byKeys] { MenuPath(path, byKeys); }; };
  auto lowPriority = [](QWidget* w) { QTRY_COMPARE(CellOf(w, "Alpha", 0), QString("Low")); };
  auto dateCleared = [](QWidget* w) { QTRY_COMPARE(CellOf(w, "Alpha", 1), QString()); };
  auto dateMoved = [](QWidget* w) {
    QTRY_VERIFY(RowOf(w, "Alpha") >= 0 && CurrentTask(w) == "Alpha" && CellOf(w, "Alpha", 1) != QString() &&
                Tasks(w) == QStringList({"Zulu", "Beta", "Alpha"}));
  };
  auto calendarOnTask = [](bool byKeys) {
    return [byKeys] {
      MenuPath({"Calendar"}, byKeys);
      WhenModal("DateSelector", [byKeys](QWidget& d) {
        QCOMPARE(qobject_cast<TDateSelector*>(&d)->Calendar()->SelectedDate(), DateTimeValue::EncodeDate(2024, 2, 29));
        if (byKeys) {
          Key(Qt::Key_PageDown);
          Key(Qt::Key_Return);
        } else {
          Click(Named(&d, "NextMonth"));
          Click(Named(&d, "OKButton"));
        }
      });
    };
  };
  auto timeSet = [](QWidget* w) { QTRY_VERIFY(!CellOf(w, "Alpha", 2).isEmpty()); };
  auto clockOk = [](bool byKeys) {
    return [byKeys] {
      WhenModal("SetTimeDialog", [byKeys](QWidget& d) {
        if (byKeys) Key(Qt::Key_Return);
        else Click(Named(&d, "Okbutton"));
      });
    };
  };
  auto keyAdded = [](QWidget* w) { QTRY_COMPARE(CellOf(w, "Alpha", 5), QString("home shop")); };
  auto keysCleared = [](QWidget* w) { QTRY_COMPARE(CellOf(w, "Alpha", 5), QString()); };
  auto rebuilt = [](QWidget* w) {
    QTRY_VERIFY(messages->shown.contains("Done!"));
    QVERIFY(messages->shown.contains("Rebuild Index Files?"));
    QTRY_COMPARE(Tasks(w), QStringList({"Zulu", "Alpha", "Beta"}));
  };
  auto helpShown = [](QWidget*) {
    QTRY_VERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), int(HelpWindow::kMainWindow));
  };
  auto aboutAnswered = std::make_shared<bool>(false);
  auto about = [aboutAnswered] {
    *aboutAnswered = false;
    MenuPath({"About"}, true);
    WhenModal("Splashform", [aboutAnswered](QWidget&) {
      *aboutAnswered = true;
      Key(Qt::Key_Return);
    });
  };
  auto aboutClosed = [aboutAnswered](QWidget*) {
    QTRY_VERIFY(*aboutAnswered);
    QTRY_VERIFY(!QApplication::activeModalWidget());
  };
  auto closed = [](QWidget* w) { QTRY_VERIFY(!w->isVisible()); };
  auto whatsThisShown = std::make_shared<QString>();
  auto whatsThis = [whatsThisShown] {
    whatsThisShown->clear();
    WhenMenu([whatsThisShown](QMenu& menu) {
      *whatsThisShown = menu.objectName();
      Key(Qt::Key_Escape);
    });
  };
  auto whatsThisClosed = [whatsThisShown](QWidget*) {
    QTRY_COMPARE(*whatsThisShown, QString("WhatsThisMenu"));
    QTRY_VERIFY(!QApplication::activePopupWidget());
  };
  auto focusOn = [](const char* name) {
    return [name](QWidget*) {
      QTRY_VERIFY(QApplication::focusWidget());
      QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
    };
  };

  return {
      {"Edit", "click", Before([] { EditorTypes("Alpha 2"); }, Button("Editbutton")), edited},
      {"Edit", "Alt+E", Before([] { EditorTypes("Alpha 2"); }, Keys(Qt::Key_E, Qt::AltModifier)), edited},
      {"Edit", "Enter in the grid", Before([] { EditorTypes("Alpha 2"); }, Then([](QWidget* w) { KeysToAlpha(w, 3); }, Keys(Qt::Key_Return))), edited},
      {"Edit", "double click on the task",
       Before([] { EditorTypes("Alpha 2"); }, [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 3).center()); }),
       edited},
      {"New", "click", Before([] { EditorTypes("Delta"); }, Button("Newbutton")), added},
      {"New", "Alt+N", Before([] { EditorTypes("Delta"); }, Keys(Qt::Key_N, Qt::AltModifier)), added},
      {"New", "Insert after a click in the grid",
       Before([] { EditorTypes("Delta"); }, Then([](QWidget* w) { ClickCell(w, "Beta", 2); }, Keys(Qt::Key_Insert))), added},
      {"New", "keypad +", Before([] { EditorTypes("Delta"); }, Keys(Qt::Key_Plus, Qt::KeypadModifier)), added},
      {"Clone", "click", Button("CloneButton"), cloned},
      {"Clone", "Alt+C", Keys(Qt::Key_C, Qt::AltModifier), cloned},
      {"Delete", "click", Button("DeleteButton"), deleted},
      {"Delete", "Alt+D", Keys(Qt::Key_D, Qt::AltModifier), deleted},
      {"Delete", "Delete key in the grid", Then([](QWidget* w) { KeysToAlpha(w, 0); }, Keys(Qt::Key_Delete)), deleted},
      {"Done", "click", Button("DoneToggleButton"), deleted},
      {"Done", "Alt+O", Keys(Qt::Key_O, Qt::AltModifier), deleted},
      {"Done", "double click on Done?", [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 4).center()); },
       deleted},
      {"Filter", "click",
       Before([] { WhenModal("FilterForm", [](QWidget& d) { Click(Named(&d, "KeyWords")); Type("shop"); Click(Named(&d, "OKButton")); }); },
              Button("Filterbutton")),
       filtered},
      {"Filter", "Alt+I", [](QWidget* w) { FilterShop(w); }, filtered},
      {"FILTERED (clear)", "click", Then([](QWidget* w) { FilterShop(w); }, Button("FilterClearbutton")), unfiltered},
      {"FILTERED (clear)", "Tab, Space",
       Then([](QWidget* w) { FilterShop(w); }, Then([](QWidget* w) { TabTo(w, "FilterClearbutton"); }, Keys(Qt::Key_Space))),
       unfiltered},
      {"Show DONE", "click", Button("ShowDone"), doneShown},
      {"Show DONE", "Tab, Space", Then([](QWidget* w) { TabTo(w, "ShowDone"); }, Keys(Qt::Key_Space)), doneShown},
      {"Sort", "click and menu", Before(sortMenu(false), Button("OrderButton")), byDescription},
      {"Sort", "Alt+S and menu keys", Before(sortMenu(true), Keys(Qt::Key_S, Qt::AltModifier)), byDescription},
      {"Sort", "File menu by keys",
       Before(menuItems({"Sort", "Sort by Description"}, true), [](QWidget* w) { OpenFileMenu(w, true); }), byDescription},
      {"Report", "click", Before(report(false), Button("Printbutton")), reportClosed},
      {"Report", "Alt+R", Before(report(true), Keys(Qt::Key_R, Qt::AltModifier)), reportClosed},
      {"Calendar", "click", Before(calendar(false), Button("CalendarButton")), wentToZulu},
      {"Calendar", "Alt+L", Before(calendar(true), Keys(Qt::Key_L, Qt::AltModifier)), wentToZulu},
      {"priority menu", "double click",
       Before(menuItems({"Low Priority"}, false), [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 0).center()); }),
       lowPriority},
      {"priority menu", "Menu key", Before(menuItems({"Low Priority"}, true), Then([](QWidget* w) { KeysToAlpha(w, 0); }, MenuKey())),
       lowPriority},
      {"priority menu", "Shift+F10",
       Before(menuItems({"Low Priority"}, true), Then([](QWidget* w) { KeysToAlpha(w, 0); }, Keys(Qt::Key_F10, Qt::ShiftModifier))),
       lowPriority},
      {"date menu, Clear Date", "double click",
       Before(menuItems({"Clear Date"}, false), [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 1).center()); }),
       dateCleared},
      {"date menu, Clear Date", "Menu key", Before(menuItems({"Clear Date"}, true), Then([](QWidget* w) { KeysToAlpha(w, 1); }, MenuKey())),
       dateCleared},
      {"date menu, Calendar", "double click",
       Before(calendarOnTask(false), [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 1).center()); }), dateMoved},
      {"date menu, Calendar", "Menu key", Before(calendarOnTask(true), Then([](QWidget* w) { KeysToAlpha(w, 1); }, MenuKey())),
       dateMoved},
      {"date menu, Quick Date", "Menu key",
       Before(menuItems({"Quick Date", "A Week From Today"}, true), Then([](QWidget* w) { KeysToAlpha(w, 1); }, MenuKey())),
       dateMoved},
      {"time", "double click", Before(clockOk(false), [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 2).center()); }),
       timeSet},
      {"time", "Menu key", Before(clockOk(true), Then([](QWidget* w) { KeysToAlpha(w, 2); }, MenuKey())), timeSet},
      {"key-word menu", "double click",
       Before(menuItems({"shop"}, false), [](QWidget* w) { DoubleClick(Grid(w)->viewport(), CellRect(w, "Alpha", 5).center()); }), keyAdded},
      {"key-word menu", "Menu key", Before(menuItems({"shop"}, true), Then([](QWidget* w) { KeysToAlpha(w, 5); }, MenuKey())),
       keyAdded},
      {"key-word menu, Clear Entry", "Menu key",
       Before(menuItems({"Clear Entry"}, true), Then([](QWidget* w) { KeysToAlpha(w, 5); }, MenuKey())), keysCleared},
      {"What's this menu", "right click",
       Before(whatsThis, [](QWidget* w) { Click(Grid(w)->viewport(), CellRect(w, "Alpha", 3).center(), Qt::RightButton); }),
       whatsThisClosed},
      {"Rebuild Indexes", "File menu by mouse", Before(menuItems({"Rebuild Indexes"}, false), [](QWidget* w) { OpenFileMenu(w, false); }),
       rebuilt},
      {"Rebuild Indexes", "File menu by keys", Before(menuItems({"Rebuild Indexes"}, true), [](QWidget* w) { OpenFileMenu(w, true); }),
       rebuilt},
      {"Delete All Marked Done, Undo Delete", "File menu by keys, Ctrl+Z",
       Then(Before(menuItems({"Delete", "All Marked Done"}, true), [](QWidget* w) { OpenFileMenu(w, true); }),
            [](QWidget* w) {
              QTRY_VERIFY(messages->shown.contains("1 deleted task(s) can be brought back with Undo Delete.") ||
                          messages->shown.size() >= 2);
              QVERIFY(messages->shown.first().contains("This will delete 1 task."));
              MainKey(w, Qt::Key_Z, Qt::ControlModifier);
            }),
       [](QWidget* w) {
         QTRY_VERIFY(messages->shown.last().contains("brought back"));
         Click(Named(w, "ShowDone"));
         QTRY_COMPARE(Tasks(w), QStringList({"Gamma", "Zulu", "Alpha", "Beta"}));
       }},
      {"Help", "click", Button("Helpbutton"), helpShown},
      {"Help", "F1", Keys(Qt::Key_F1), helpShown},
      {"Help", "Alt+P", Keys(Qt::Key_P, Qt::AltModifier), helpShown},
      {"About", "Help menu by keys, Enter", Before(about, Keys(Qt::Key_H, Qt::AltModifier)), aboutClosed},
      {"Exit", "click", Button("ExitButton"), closed},
      {"Exit", "Alt+X", Keys(Qt::Key_X, Qt::AltModifier), closed},
      {"leave the grid", "Ctrl+Tab", Then([](QWidget* w) { KeysToAlpha(w, 3); }, Keys(Qt::Key_Tab, Qt::ControlModifier)), focusOn("ActiveNotes")},
      {"back into the grid", "Ctrl+Shift+Tab",
       Then([](QWidget* w) { Named(w, "ActiveNotes")->setFocus(); }, Keys(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier)),
       focusOn("ActiveGrid")},
  };
}

}  // namespace

class RealInputCommandsTest : public QObject {
  Q_OBJECT
  Answers answers_;
  std::unique_ptr<QTemporaryDir> dir_;

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    answers_.shown.clear();
    messages = &answers_;
    UserMessages::Install(&answers_);
  }
  void cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->objectName() != "MainScreen") w->close();
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
  }

  void Commands_data() {
    QTest::addColumn<int>("index");
    const std::vector<Row> rows = Rows();
    for (int i = 0; i < int(rows.size()); ++i) QTest::addRow("%s by %s", rows[i].command, rows[i].how) << i;
  }
  void Commands() {
    QFETCH(int, index);
    QVERIFY(SeedTasks(kTasks, dir_->path(), QString::fromLatin1(kSettings)));
    auto window = std::make_unique<TMainScreen>(nullptr, LeapDayClock());
    QWidget* w = window.get();
    w->show();
    QTRY_VERIFY(Named(w, "ExitButton")->isVisible());
    QVERIFY(Activate(w));
    QCOMPARE(Tasks(w), QStringList({"Zulu", "Alpha", "Beta"}));
    QCOMPARE(CurrentTask(w), QString("Alpha"));
    // The window opens with the keyboard in the task list.
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Grid(w)));

    const Row row = Rows()[index];
    row.act(w);
    if (QTest::currentTestFailed()) return;
    row.check(w);
  }

  // A note typed in and left with Ctrl+Tab is stored, as leaving it by mouse stores it.
  void NoteLeftByKeysIsStored() {
    QVERIFY(SeedTasks({}, dir_->path(), QString::fromLatin1(kSettings)));
    {
      TaskStore store;
      QVERIFY(store.OpenTaskStore(false));
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString("Alpha");
      store.TasqTable.Post();
    }
    {
      auto window = std::make_unique<TMainScreen>(nullptr, LeapDayClock());
      QWidget* w = window.get();
      w->show();
      QTRY_VERIFY(Named(w, "ExitButton")->isVisible());
      QVERIFY(Activate(w));
      MainKey(w, Qt::Key_Tab, Qt::ControlModifier);
      QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Named(w, "ActiveNotes")));
      Type("call first");
      MainKey(w, Qt::Key_Tab, Qt::ControlModifier);
      QTRY_VERIFY(QApplication::focusWidget() != Named(w, "ActiveNotes"));
      MainKey(w, Qt::Key_X, Qt::AltModifier);
      QTRY_VERIFY(!w->isVisible());
    }
    TaskStore store;
    QVERIFY(store.OpenTaskStore(false));
    store.TasqTable.First();
    QCOMPARE(store.TasqTable.FieldByName("NOTE")->AsString(), QString("call first"));
  }
};

QTEST_MAIN(RealInputCommandsTest)
#include "tst_RealInputCommands.moc"
