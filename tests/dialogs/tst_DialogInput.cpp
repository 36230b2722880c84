// Every command of the task editor, the filter dialog and the date selector, reached the way a
// user reaches it: a mouse click on the control, or keys only (Tab, the control's own key, the
// arrows, Enter and Esc), all delivered through the platform window to whatever has the focus.
// Each table row names the command, how it is reached and what must come of it.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QtTest>
#include <functional>
#include <vector>

#include "RealEvents.h"
#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TMonthGrid.h"
#include "dialogs/TTaskEditor.h"
#include "widgets/HelpWindow.h"

using namespace RealEvents;

namespace {

// Tuesday 5 March 2024, 14:37.
const double kToday = DateTimeValue::EncodeDate(2024, 3, 5);
const double kNow = kToday + DateTimeValue::EncodeTime(14, 37);

QString ShortDate(double value) { return DateTimeText::FormatDateTime(QStringLiteral("ddddd"), value); }

struct Row {
  const char* command;
  const char* how;
  std::function<void(QDialog&)> act;    // what the user does
  std::function<void(QDialog&)> check;  // what must have come of it (QVERIFY inside)
};

int ModalResultOf(QDialog& d) {
  if (auto* e = qobject_cast<TTaskEditor*>(&d)) return e->ModalResult;
  if (auto* f = qobject_cast<TFilterForm*>(&d)) return f->ModalResult;
  if (auto* s = qobject_cast<TDateSelector*>(&d)) return s->ModalResult;
  return -1;
}

auto Closed(int result) {
  return [result](QDialog& d) {
    QCOMPARE(ModalResultOf(d), result);
    QVERIFY(!d.isVisible());
  };
}

auto StillOpen() {
  return [](QDialog& d) {
    QCOMPARE(ModalResultOf(d), 0);
    QVERIFY(d.isVisible());
  };
}

auto ClickOn(const char* name) {
  return [name](QDialog& d) { Click(Named(&d, name)); };
}

auto Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  return [key, modifiers](QDialog&) { Key(key, modifiers); };
}

// The help window shows `context`; it is closed again and the dialog made active.
auto HelpShows(int context) {
  return [context](QDialog& d) {
    QTRY_VERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), context);
    HelpWindow::Instance()->close();
    QVERIFY(Activate(&d));
    QVERIFY(d.isVisible());
  };
}

// Opens the dialog as its caller does (modal, on screen, active), puts the focus where it
// starts, runs the row and checks it.
void RunRow(QDialog& dialog, const Row& row, QWidget* startFocus) {
  dialog.show();
  QVERIFY(Activate(&dialog));
  if (startFocus) startFocus->setFocus();
  QTRY_VERIFY(QApplication::focusWidget() != nullptr);
  row.act(dialog);
  if (QTest::currentTestFailed()) return;
  QCoreApplication::processEvents();
  row.check(dialog);
  if (HelpWindow::Instance()) HelpWindow::Instance()->close();
}

// ---- Task editor ---------------------------------------------------------------------------

std::vector<Row> EditorRows() {
  auto pickKeyWord = [](bool byKeys) {
    return [byKeys](QDialog&) {
      WhenMenu([byKeys](QMenu&) { byKeys ? ChooseByKeys("Betty") : ChooseByMouse("Betty"); });
    };
  };
  auto keyWordAdded = [](QDialog& d) { QCOMPARE(Named<QLineEdit>(&d, "KeyWords")->text(), QString("home Betty")); };
  // The calendar starts at the date typed (5 March 2024); Page Down is a month on, Enter takes it.
  auto calendarByKeys = [](QDialog&) {
    WhenModal("DateSelector", [](QWidget&) {
      Key(Qt::Key_PageDown);
      Key(Qt::Key_Return);
    });
  };
  auto calendarByMouse = [](QDialog&) {
    WhenModal("DateSelector", [](QWidget& s) {
      Click(Named(&s, "NextMonth"));
      Click(Named(&s, "OKButton"));
    });
  };
  auto dateIsAprilFifth = [](QDialog& d) {
    QCOMPARE(Named<QLineEdit>(&d, "DateEdit")->text(), ShortDate(DateTimeValue::EncodeDate(2024, 4, 5)));
    QVERIFY(d.isVisible());
  };
  auto tomorrow = [](bool byKeys) {
    return [byKeys](QDialog&) {
      WhenMenu([byKeys](QMenu&) { byKeys ? ChooseByKeys("Tomorrow") : ChooseByMouse("Tomorrow"); });
    };
  };
  auto dateIsTomorrow = [](QDialog& d) {
    QCOMPARE(Named<QLineEdit>(&d, "DateEdit")->text(), ShortDate(kToday + 1));
  };
  // The clock starts at the time typed; Enter takes it, written in the short time format.
  auto clockAnswered = [](bool byKeys) {
    return [byKeys](QDialog&) {
      WhenModal("SetTimeDialog", [byKeys](QWidget& t) {
        if (byKeys) Key(Qt::Key_Return);
        else Click(Named(&t, "Okbutton"));
      });
    };
  };
  auto timeIsTyped = [](QDialog& d) {
    QCOMPARE(Named<QLineEdit>(&d, "TimeEdit")->text(),
             DateTimeText::FormatDateTime(QStringLiteral("t"), DateTimeValue::EncodeTime(9, 15)));
    QVERIFY(d.isVisible());
  };
  auto lowChosen = [](QDialog& d) {
    QVERIFY(Named<QRadioButton>(&d, "pLow")->isChecked());
    QVERIFY(!Named<QRadioButton>(&d, "pMedium")->isChecked());
  };
  auto doneChecked = [](QDialog& d) { QVERIFY(Named<QCheckBox>(&d, "IsDone")->isChecked()); };

  return {
      {"OK", "click", ClickOn("OKButton"), Closed(1)},
      {"OK", "Enter in the description", Press(Qt::Key_Return), Closed(1)},
      {"OK", "Enter in the key words",
       [](QDialog& d) { Named(&d, "KeyWords")->setFocus(); Key(Qt::Key_Return); }, Closed(1)},
      {"Cancel", "click", ClickOn("CancelButton"), Closed(2)},
      {"Cancel", "Esc", Press(Qt::Key_Escape), Closed(2)},
      {"new line in the note", "Enter in the note",
       [](QDialog& d) { Named(&d, "Notes")->setFocus(); Type("a"); Key(Qt::Key_Return); Type("b"); },
       [](QDialog& d) {
         QCOMPARE(Named<QPlainTextEdit>(&d, "Notes")->toPlainText(), QString("a\nb"));
         StillOpen()(d);
       }},
      {"key-word list", "click",
       [pickKeyWord](QDialog& d) { pickKeyWord(false)(d); Click(Named(&d, "KeyListbutton")); }, keyWordAdded},
      {"key-word list", "Alt+L", [pickKeyWord](QDialog& d) { pickKeyWord(true)(d); Key(Qt::Key_L, Qt::AltModifier); },
       keyWordAdded},
      {"calendar", "click",
       [calendarByMouse](QDialog& d) { calendarByMouse(d); Click(Named(&d, "CalendarButton")); }, dateIsAprilFifth},
      {"calendar", "Alt+C", [calendarByKeys](QDialog& d) { calendarByKeys(d); Key(Qt::Key_C, Qt::AltModifier); },
       dateIsAprilFifth},
      {"quick date", "click", [tomorrow](QDialog& d) { tomorrow(false)(d); Click(Named(&d, "QuickDateButton")); },
       dateIsTomorrow},
      {"quick date", "Alt+Q", [tomorrow](QDialog& d) { tomorrow(true)(d); Key(Qt::Key_Q, Qt::AltModifier); },
       dateIsTomorrow},
      {"clock", "click", [clockAnswered](QDialog& d) { clockAnswered(false)(d); Click(Named(&d, "QuickTimeButton")); },
       timeIsTyped},
      {"clock", "Alt+T", [clockAnswered](QDialog& d) { clockAnswered(true)(d); Key(Qt::Key_T, Qt::AltModifier); },
       timeIsTyped},
      {"priority Low", "click", ClickOn("pLow"), lowChosen},
      {"priority Low", "Tab to the group, Right",
       [](QDialog&) {
         for (int i = 0; i < 8 && QApplication::focusWidget()->objectName() != "pMedium"; ++i) Key(Qt::Key_Tab);
         Key(Qt::Key_Right);
       },
       lowChosen},
      {"done mark", "click", ClickOn("IsDone"), doneChecked},
      {"done mark", "Tab, Space", [](QDialog&) { Key(Qt::Key_Tab); Key(Qt::Key_Space); }, doneChecked},
      {"help", "click", ClickOn("Helpbutton"), HelpShows(HelpWindow::kTaskEditor)},
      {"help", "F1", Press(Qt::Key_F1), HelpShows(HelpWindow::kTaskEditor)},
  };
}

// ---- Filter dialog -------------------------------------------------------------------------

std::vector<Row> FilterRows() {
  auto pickKeyWord = [](bool byKeys) {
    return [byKeys](QDialog&) {
      WhenMenu([byKeys](QMenu&) { byKeys ? ChooseByKeys("Betty") : ChooseByMouse("Betty"); });
    };
  };
  auto wordAdded = [](QDialog& d) {
    QCOMPARE(qobject_cast<TFilterForm*>(&d)->KeyFilterText(), QString("home,Betty"));
  };
  auto resetDone = [](QDialog& d) {
    auto* f = qobject_cast<TFilterForm*>(&d);
    Closed(1)(d);
    QCOMPARE(f->DateFilterIndex(), 0);
    QCOMPARE(f->PriorityFilterIndex(), 0);
    QCOMPARE(f->KeyFilterText(), QString());
  };
  return {
      {"OK", "click", ClickOn("OKButton"), Closed(1)},
      {"OK", "Enter", Press(Qt::Key_Return), Closed(1)},
      {"Cancel", "click", ClickOn("CancelButton"), Closed(2)},
      {"Cancel", "Esc", Press(Qt::Key_Escape), Closed(2)},
      {"Reset", "click", ClickOn("ResetButton"), resetDone},
      {"Reset", "Alt+R", Press(Qt::Key_R, Qt::AltModifier), resetDone},
      {"key-word list", "click",
       [pickKeyWord](QDialog& d) { pickKeyWord(false)(d); Click(Named(&d, "KeyListbutton")); }, wordAdded},
      {"key-word list", "Alt+L", [pickKeyWord](QDialog& d) { pickKeyWord(true)(d); Key(Qt::Key_L, Qt::AltModifier); },
       wordAdded},
      {"key words typed", "Alt+K, typing",
       [](QDialog&) { Key(Qt::Key_K, Qt::AltModifier); Key(Qt::Key_End); Type(",shop"); },
       [](QDialog& d) { QCOMPARE(qobject_cast<TFilterForm*>(&d)->KeyFilterText(), QString("home,shop")); }},
      {"date range Tomorrow", "click", ClickOn("DateFilterItem2"),
       [](QDialog& d) { QCOMPARE(qobject_cast<TFilterForm*>(&d)->DateFilterIndex(), 2); }},
      {"date range Tomorrow", "Alt+D, Down",
       [](QDialog&) { Key(Qt::Key_D, Qt::AltModifier); Key(Qt::Key_Down); },
       [](QDialog& d) { QCOMPARE(qobject_cast<TFilterForm*>(&d)->DateFilterIndex(), 2); }},
      {"priority High only", "click", ClickOn("PriorityFilterItem1"),
       [](QDialog& d) { QCOMPARE(qobject_cast<TFilterForm*>(&d)->PriorityFilterIndex(), 1); }},
      {"priority High only", "Tab to the group, Down",
       [](QDialog&) {
         for (int i = 0; i < 12 && !QApplication::focusWidget()->objectName().startsWith("PriorityFilter"); ++i)
           Key(Qt::Key_Tab);
         Key(Qt::Key_Down);
       },
       [](QDialog& d) { QCOMPARE(qobject_cast<TFilterForm*>(&d)->PriorityFilterIndex(), 1); }},
      {"help", "click", ClickOn("Helpbutton"), HelpShows(HelpWindow::kFilterDialog)},
      {"help", "F1", Press(Qt::Key_F1), HelpShows(HelpWindow::kFilterDialog)},
  };
}

// ---- Date selector -------------------------------------------------------------------------

std::vector<Row> SelectorRows() {
  auto selected = [](int year, int month, int day) {
    return [=](QDialog& d) {
      QCOMPARE(qobject_cast<TDateSelector*>(&d)->Calendar()->SelectedDate(), DateTimeValue::EncodeDate(year, month, day));
      QCOMPARE(Named<QLabel>(&d, "DateLabel")->text(),
               DateTimeText::FormatDateTime(QStringLiteral("dddddd"), DateTimeValue::EncodeDate(year, month, day)));
    };
  };
  auto isToday = [](QDialog& d) {
    QCOMPARE(qobject_cast<TDateSelector*>(&d)->Calendar()->SelectedDate(), DateTimeValue::Today());
  };
  // The cell of the 20th of the month shown.
  auto clickDay20 = [](QDialog& d) {
    TMonthGrid* grid = qobject_cast<TDateSelector*>(&d)->Calendar();
    for (int row = 1; row < 7; ++row)
      for (int col = 0; col < 7; ++col)
        if (grid->CellText(col, row) == "20") Click(grid, grid->CellRect(col, row).center());
  };
  return {
      {"OK", "click", ClickOn("OKButton"), Closed(1)},
      {"OK", "Enter", Press(Qt::Key_Return), Closed(1)},
      {"Cancel", "click", ClickOn("CancelButton"), Closed(2)},
      {"Cancel", "Esc", Press(Qt::Key_Escape), Closed(2)},
      {"a year back", "click", ClickOn("PrevYear"), selected(2023, 3, 5)},
      {"a year back", "Ctrl+Page Up", Press(Qt::Key_PageUp, Qt::ControlModifier), selected(2023, 3, 5)},
      {"a month back", "click", ClickOn("PrevMonth"), selected(2024, 2, 5)},
      {"a month back", "Page Up", Press(Qt::Key_PageUp), selected(2024, 2, 5)},
      {"a month on", "click", ClickOn("NextMonth"), selected(2024, 4, 5)},
      {"a month on", "Page Down", Press(Qt::Key_PageDown), selected(2024, 4, 5)},
      {"a year on", "click", ClickOn("NextYear"), selected(2025, 3, 5)},
      {"a year on", "Ctrl+Page Down", Press(Qt::Key_PageDown, Qt::ControlModifier), selected(2025, 3, 5)},
      {"today", "click", ClickOn("DoCurrentDate"), isToday},
      {"today", "Home", Press(Qt::Key_Home), isToday},
      {"another day", "click on its cell", clickDay20, selected(2024, 3, 20)},
      {"another day", "arrow keys", [](QDialog&) { Key(Qt::Key_Right); Key(Qt::Key_Down); }, selected(2024, 3, 13)},
      {"help", "click", ClickOn("Helpbutton"), HelpShows(HelpWindow::kTaskEditor)},
      {"help", "F1", Press(Qt::Key_F1), HelpShows(HelpWindow::kTaskEditor)},
  };
}

void AddRows(const std::vector<Row>& rows) {
  QTest::addColumn<int>("index");
  for (int i = 0; i < int(rows.size()); ++i) QTest::addRow("%s by %s", rows[i].command, rows[i].how) << i;
}

}  // namespace

class DialogInputTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    RegionalSettings::SaveUserFormats(QLocale(QLocale::English, QLocale::UnitedStates));
    RegionalSettings::UseUserFormats();
  }

  void cleanup() {
    // Nothing a row opened stays open for the next.
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) w->close();
  }

  void TaskEditorCommands_data() { AddRows(EditorRows()); }
  void TaskEditorCommands() {
    QFETCH(int, index);
    TTaskEditor editor({"Joe", "Betty", "home"}, nullptr, [] { return kNow; });
    Named<QLineEdit>(&editor, "Task")->setText("Water the plants");
    Named<QLineEdit>(&editor, "KeyWords")->setText("home");
    Named<QLineEdit>(&editor, "DateEdit")->setText(ShortDate(kToday));
    Named<QLineEdit>(&editor, "TimeEdit")->setText(DateTimeText::FormatDateTime(QStringLiteral("t"), DateTimeValue::EncodeTime(9, 15)));
    RunRow(editor, EditorRows()[index], nullptr);
    // The dialog starts in the description, as it does for the user.
  }

  void FilterCommands_data() { AddRows(FilterRows()); }
  void FilterCommands() {
    QFETCH(int, index);
    TFilterForm form({"Joe", "Betty", "home"});
    form.SetDateFilterIndex(1);
    form.SetPriorityFilterIndex(0);
    form.SetKeyFilterText("home");
    RunRow(form, FilterRows()[index], form.findChild<QWidget*>("DateFilterItem1"));
  }

  void DateSelectorCommands_data() { AddRows(SelectorRows()); }
  void DateSelectorCommands() {
    QFETCH(int, index);
    TDateSelector selector;
    selector.Calendar()->SetSelectedDate(kToday);
    RunRow(selector, SelectorRows()[index], selector.Calendar());
  }
};

QTEST_MAIN(DialogInputTest)
#include "tst_DialogInput.moc"
