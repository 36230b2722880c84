// The task editor: what the caller fills and reads, the date and time checks with their
// messages and rewriting, the pickers, the key-word menu, the close question, and text the task
// file cannot hold.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "../store/RecordingMessages.h"
#include "db/DateTimeValue.h"
#include "db/RegionalFormats.h"
#include "db/RegionalSettings.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TMonthGrid.h"
#include "dialogs/TSetTimeDialog.h"
#include "dialogs/TTaskEditor.h"
#include "widgets/TFlatButton.h"

namespace {

// Tuesday 5 March 2024, 14:37:20.
const double kNow = DateTimeValue::EncodeDate(2024, 3, 5) + DateTimeValue::EncodeTime(14, 37, 20);

TTaskEditor::Clock FixedClock() {
  return [] { return kNow; };
}

const QString kDateMessage =
    QStringLiteral("Please use the date format dd MMMM yyyy\r   Example: 05 March 2024");
const QString kTimeMessage =
    QStringLiteral("Invalid time. Please use your Windows Time format\r   Example: 14:37");

// Runs `act` on the modal dialog of type T as soon as it is up.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(dialog);
      return;
    }
    WhenModal<T>(act);
  });
}

void ClickButton(QWidget* dialog, const char* name) {
  auto* button = dialog->findChild<TFlatButton*>(name);
  QVERIFY2(button, name);
  button->click();
}

void ShowActive(QWidget* window) {
  window->show();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window));
}

// Moves the focus on with Tab, as the user leaves a field, and lets the field's check run.
void Leave(QWidget* field) {
  QTest::keyClick(field, Qt::Key_Tab);
  QCoreApplication::processEvents();
}

// Types `text` as key presses carrying the characters, also those no key of the test's
// keyboard has (QTest::keyClicks takes Latin-1 only).
void TypeText(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text.mid(i, length));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text.mid(i, length));
    QCoreApplication::sendEvent(widget, &release);
    i += length - 1;
  }
}

}  // namespace

class TaskEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // A user pattern with month names and a blank as date separator: what is typed as numbers
    // is written back with the month's name.
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd MMMM yyyy", " ", ":", "AM", "PM"});
    RegionalSettings::SetShortTimeFormat("hh:nn");
  }

  void init() { RegionalSettings::UseFixedFormats(); }

  void FormAsCreated() {
    TTaskEditor editor({}, nullptr, FixedClock());
    QCOMPARE(editor.windowTitle(), QString("Task Editor"));
    QCOMPARE(editor.size(), QSize(392, 376));
    QVERIFY(!(editor.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(editor.windowFlags() & Qt::WindowSystemMenuHint));
    QVERIFY(editor.pMedium->isChecked());
    QCOMPARE(editor.IsDone->text(), QString("Done?"));
    QCOMPARE(editor.Task->maxLength(), 50);
    for (const char* name :
         {"TaskLabel", "KeyWordsLabel", "DateEditLabel", "TimeEditLabel", "NotesLabel", "Label1"})
      QVERIFY2(editor.findChild<QLabel*>(name), name);
    QCOMPARE(editor.findChild<QLabel*>("DateEditLabel")->text(), QString("Date (blank for none)"));
    for (const char* name : {"DateFormat", "TimeFormat", "PriorityPanel", "Panel1"})
      QVERIFY2(editor.findChild<QFrame*>(name), name);
    QVERIFY(editor.findChild<QMenu*>("WhatsThisMenu"));
    QVERIFY(editor.findChild<QMenu*>("KeyListMenu"));
    const QStringList captions = {"Ok", "Cancel", "Help", "", "Quick Date", "", "", ""};
    const char* names[] = {"OKButton",        "CancelButton",    "Helpbutton",
                           "MouseHelpButton", "QuickDateButton", "CalendarButton",
                           "QuickTimeButton", "KeyListbutton"};
    for (int i = 0; i < 8; ++i) {
      auto* button = editor.findChild<TFlatButton*>(names[i]);
      QVERIFY2(button, names[i]);
      QCOMPARE(button->Caption(), captions[i]);
      QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    }
    QVERIFY(editor.findChild<TFlatButton*>("OKButton")->Default());
    QVERIFY(editor.findChild<TFlatButton*>("CancelButton")->Cancel());
  }

  // Tab walks description, done mark, key words, date, time, the chosen priority, note; back
  // with Shift+Tab.
  void TabOrder() {
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    QList<QWidget*> visited;
    for (int i = 0; i < 8; ++i) {
      visited.append(QApplication::focusWidget());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const QList<QWidget*> expected = {editor.Task,     editor.IsDone,   editor.KeyWords,
                                      editor.DateEdit, editor.TimeEdit, editor.pMedium,
                                      editor.Notes,    editor.Task};
    QCOMPARE(visited, expected);
    editor.pLow->setChecked(true);
    editor.Notes->setFocus();
    QTest::keyClick(editor.Notes, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.pLow));
  }

  void DescriptionStopsAtFiftyCharacters() {
    TTaskEditor editor({}, nullptr, FixedClock());
    QTest::keyClicks(editor.Task, QString(60, QChar('x')));
    QCOMPARE(editor.Task->text().size(), 50);
  }

  // The captions are built once, under the settings in force at creation (the fixed ones).
  void QuickDateCaptionsAtCreation() {
    TTaskEditor editor({}, nullptr, FixedClock());
    const QList<QAction*> items = editor.findChild<QMenu*>("QuickDateMenu")->actions();
    QCOMPARE(items.size(), 17);
    QCOMPARE(items[0]->text(), QString("Today\t03/05/2024"));
    QCOMPARE(items[2]->text(), QString("Thursday\t03/07/2024"));
    QCOMPARE(items[9]->objectName(), QString("Week2"));
    QCOMPARE(items[9]->text(), QString("A Week from Thursday\t03/14/2024"));
    QCOMPARE(items[16]->text(), QString("30 Days From Today\t04/04/2024"));
  }

  // An item chosen while the user's settings are in force writes the date in their format.
  void QuickDateItemUsesFormatInForce() {
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    RegionalSettings::UseUserFormats();
    QAction* item = editor.findChild<QAction*>("TodayPlus2");
    QVERIFY(item);
    item->trigger();
    QCOMPARE(editor.DateEdit->text(), QString("07 March 2024"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.DateEdit));
  }

  void FormatHints() {
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    QCOMPARE(editor.findChild<QFrame*>("DateFormat")->toolTip(),
             QString("(use format dd mmmm yyyy)"));
    QCOMPARE(editor.findChild<QFrame*>("TimeFormat")->toolTip(), QString("(use format 14:37)"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.Task));
  }

  void DateEntry_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");  // empty: refused
    const QString year = QString::number(QDate::currentDate().year());
    QTest::newRow("full") << "5 3 2024"
                          << "05 March 2024";
    QTest::newRow("day and month only") << "25 12"
                                        << "25 December " + year;
    QTest::newRow("two-digit year") << "1 2 26"
                                    << "01 February " + year.left(2) + "26";
    QTest::newRow("blanks around") << " 05 03 2024 "
                                   << "05 March 2024";
    QTest::newRow("february 30") << "30 2 2024"
                                 << "";
    QTest::newRow("month 13") << "1 13 2024"
                              << "";
    QTest::newRow("trailing letters") << "5 3 2024x"
                                      << "";
    QTest::newRow("five digits") << "5 3 20245"
                                 << "";
    QTest::newRow("other separator") << "5/3/2024"
                                     << "";
  }

  void DateEntry() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    RecordingMessages messages;
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.DateEdit->setFocus();
    QTest::keyClicks(editor.DateEdit, typed);
    Leave(editor.DateEdit);
    QCOMPARE(editor.DateEdit->text(), shown);
    if (shown.isEmpty()) {
      QCOMPARE(messages.shown, QStringList{kDateMessage});
      QCOMPARE(messages.captions, QStringList{"Information"});
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.DateEdit));
    } else {
      QVERIFY(messages.shown.isEmpty());
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.TimeEdit));
    }
  }

  void TimeEntry_data() {
    QTest::addColumn<QString>("shortTimeFormat");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");  // empty: refused
    QTest::newRow("2:5 pm") << "hh:nn"
                            << "2:5 pm"
                            << "14:05";
    QTest::newRow("2:5 pm, 12-hour clock") << "h:nn ampm"
                                           << "2:5 pm"
                                           << "2:05 PM";
    QTest::newRow("12:15 AM") << "hh:nn"
                              << "12:15 AM"
                              << "00:15";
    QTest::newRow("12 PM is noon") << "hh:nn"
                                   << "12 PM"
                                   << "12:00";
    QTest::newRow("hour only") << "hh:nn"
                               << "14"
                               << "14:00";
    QTest::newRow("seconds") << "hh:nn"
                             << "7:30:45"
                             << "07:30";
    QTest::newRow("0:30 AM") << "hh:nn"
                             << "0:30 AM"
                             << "";
    QTest::newRow("13:00 PM") << "hh:nn"
                              << "13:00 PM"
                              << "";
    QTest::newRow("24:00") << "hh:nn"
                           << "24:00"
                           << "";
    QTest::newRow("9:60") << "hh:nn"
                          << "9:60"
                          << "";
    QTest::newRow("text after") << "hh:nn"
                                << "2:05 soon"
                                << "";
    QTest::newRow("designator first") << "hh:nn"
                                      << "PM 2:05"
                                      << "";
  }

  void TimeEntry() {
    QFETCH(QString, shortTimeFormat);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    RecordingMessages messages;
    RegionalSettings::SetShortTimeFormat(shortTimeFormat);
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.TimeEdit->setFocus();
    QTest::keyClicks(editor.TimeEdit, typed);
    Leave(editor.TimeEdit);
    const QString example = shortTimeFormat == "hh:nn" ? "14:37" : "2:37 PM";
    RegionalSettings::SetShortTimeFormat("hh:nn");
    QCOMPARE(editor.TimeEdit->text(), shown);
    if (shown.isEmpty()) {
      QCOMPARE(messages.shown.size(), 1);
      QCOMPARE(messages.shown[0],
               "Invalid time. Please use your Windows Time format\r   Example: " + example);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.TimeEdit));
    } else {
      QVERIFY(messages.shown.isEmpty());
    }
  }

  // Both refused at OK: both messages in order, both fields emptied, the focus in the time field
  // and the dialog still open; OK again closes it with both blank.
  void OkWithInvalidDateAndTime() {
    RecordingMessages messages;
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.DateEdit->setText("31 2 2024");
    editor.TimeEdit->setText("25:00");
    editor.Task->setFocus();
    ClickButton(&editor, "OKButton");
    QCoreApplication::processEvents();
    QCOMPARE(messages.shown, (QStringList{kDateMessage, kTimeMessage}));
    QCOMPARE(editor.DateEdit->text(), QString());
    QCOMPARE(editor.TimeEdit->text(), QString());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor.TimeEdit));
    QCOMPARE(editor.ModalResult, 0);
    QVERIFY(editor.isVisible());

    ClickButton(&editor, "OKButton");
    QCoreApplication::processEvents();
    QCOMPARE(messages.shown.size(), 2);
    QCOMPARE(editor.ModalResult, 1);
    QCOMPARE(editor.result(), 1);
    QVERIFY(!editor.isVisible());
  }

  // Enter in the field still being typed in checks and rewrites it before closing.
  void EnterChecksFieldStillFocused() {
    RecordingMessages messages;
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.DateEdit->setFocus();
    QTest::keyClicks(editor.DateEdit, "5 3 24");
    QTest::keyClick(editor.DateEdit, Qt::Key_Return);
    QCOMPARE(editor.ModalResult, 1);
    QCOMPARE(editor.DateEdit->text(), QString("05 March 2024"));
    QVERIFY(messages.shown.isEmpty());
  }

  void EnterAndEscape() {
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.Notes->setFocus();
    QTest::keyClicks(editor.Notes, "one");
    QTest::keyClick(editor.Notes, Qt::Key_Return);
    QTest::keyClicks(editor.Notes, "two");
    QCOMPARE(editor.Notes->toPlainText(), QString("one\ntwo"));
    QCOMPARE(editor.ModalResult, 0);
    QTest::keyClick(editor.Notes, Qt::Key_Escape);
    QCOMPARE(editor.ModalResult, 2);
    QVERIFY(!editor.isVisible());

    TTaskEditor second({}, nullptr, FixedClock());
    QTimer::singleShot(0, &second, [&second] { QTest::keyClick(second.Task, Qt::Key_Return); });
    QCOMPARE(second.exec(), 1);
    QCOMPARE(second.ModalResult, 1);
  }

  void CloseQuestion() {
    RecordingMessages messages;
    RegionalSettings::UseUserFormats();
    {
      // No: closes without OK and without a check.
      messages.answer = false;
      TTaskEditor editor({}, nullptr, FixedClock());
      ShowActive(&editor);
      editor.DateEdit->setText("not a date");
      QVERIFY(editor.close());
      QCOMPARE(messages.shown, QStringList{"Save changes"});
      QCOMPARE(messages.captions, QStringList{"Listwise"});
      QCOMPARE(editor.ModalResult, 0);
      QCOMPARE(editor.result(), 0);
    }
    messages.shown.clear();
    {
      // Yes with good entries: OK, with the date rewritten.
      messages.answer = true;
      TTaskEditor editor({}, nullptr, FixedClock());
      ShowActive(&editor);
      editor.DateEdit->setText("5 3 2024");
      QVERIFY(editor.close());
      QCOMPARE(messages.shown, QStringList{"Save changes"});
      QCOMPARE(editor.ModalResult, 1);
      QCOMPARE(editor.DateEdit->text(), QString("05 March 2024"));
    }
    messages.shown.clear();
    {
      // Yes with a refused date: the user wanted the changes kept, so the dialog stays open
      // with the field emptied rather than dropping everything.
      TTaskEditor editor({}, nullptr, FixedClock());
      ShowActive(&editor);
      editor.Task->setText("keep me");
      editor.DateEdit->setText("31 2 2024");
      QVERIFY(!editor.close());
      QCOMPARE(messages.shown, (QStringList{"Save changes", kDateMessage}));
      QVERIFY(editor.isVisible());
      QCOMPARE(editor.ModalResult, 0);
      QCOMPARE(editor.DateEdit->text(), QString());
      QCOMPARE(editor.Task->text(), QString("keep me"));
    }
    messages.shown.clear();
    {
      // After Cancel nothing is asked.
      TTaskEditor editor({}, nullptr, FixedClock());
      editor.CancelButtonClick();
      bool canClose = false;
      editor.FormCloseQuery(canClose);
      QVERIFY(canClose);
      QVERIFY(messages.shown.isEmpty());
      QCOMPARE(editor.ModalResult, 2);
    }
  }

  void KeyWordMenu() {
    TTaskEditor editor({"Joe", "Betty", "R&D"}, nullptr, FixedClock());
    QMenu* menu = editor.findChild<QMenu*>("KeyListMenu");
    const QList<QAction*> items = menu->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[2]->text(), QString("R&&D"));  // shown as R&D, not as an accelerator
    items[0]->trigger();
    QCOMPARE(editor.KeyWords->text(), QString("Joe"));
    items[1]->trigger();
    items[2]->trigger();
    items[0]->trigger();  // repeats are the user's business
    QCOMPARE(editor.KeyWords->text(), QString("Joe Betty R&D Joe"));

    TTaskEditor empty({}, nullptr, FixedClock());
    QVERIFY(empty.findChild<QMenu*>("KeyListMenu")->actions().isEmpty());
  }

  void CalendarButton() {
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    double started = 0;
    // Empty field: the selector starts on today; OK writes its date in the format in force.
    WhenModal<TDateSelector>([&started](TDateSelector* selector) {
      started = selector->Calendar()->SelectedDate();
      selector->Calendar()->SetSelectedDate(DateTimeValue::EncodeDate(2025, 12, 24));
      ClickButton(selector, "OKButton");
    });
    ClickButton(&editor, "CalendarButton");
    QCOMPARE(DateTimeValue::DateOf(started), DateTimeValue::EncodeDate(2024, 3, 5));
    QCOMPARE(editor.DateEdit->text(), QString("24 December 2025"));
    QCOMPARE(editor.focusWidget(), static_cast<QWidget*>(editor.DateEdit));

    // A date in the field is the start; Cancel leaves the field alone.
    editor.DateEdit->setText("1 6 2023");
    WhenModal<TDateSelector>([&started](TDateSelector* selector) {
      started = selector->Calendar()->SelectedDate();
      selector->Calendar()->NextMonth();
      ClickButton(selector, "CancelButton");
    });
    ClickButton(&editor, "CalendarButton");
    QCOMPARE(started, DateTimeValue::EncodeDate(2023, 6, 1));
    QCOMPARE(editor.DateEdit->text(), QString("1 6 2023"));
  }

  void QuickTimeButton() {
    RegionalSettings::UseUserFormats();
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.Task->setFocus();
    int hour = -1, minute = -1;
    auto readAndConfirm = [&hour, &minute](TSetTimeDialog* dialog) {
      hour = dialog->SelectedHour();
      minute = dialog->SelectedMinute();
      ClickButton(dialog, "Okbutton");
    };
    // Empty field: the present hour and minute, seconds dropped.
    WhenModal<TSetTimeDialog>(readAndConfirm);
    ClickButton(&editor, "QuickTimeButton");
    QCOMPARE(hour, 14);
    QCOMPARE(minute, 37);
    QCOMPARE(editor.TimeEdit->text(), QString("14:37"));
    QCOMPARE(editor.focusWidget(), static_cast<QWidget*>(editor.Task));

    // A time in the field is the start, typed in any accepted form.
    editor.TimeEdit->setText("9:15 pm");
    WhenModal<TSetTimeDialog>(readAndConfirm);
    ClickButton(&editor, "QuickTimeButton");
    QCOMPARE(hour, 21);
    QCOMPARE(minute, 15);
    QCOMPARE(editor.TimeEdit->text(), QString("21:15"));

    // No time in the field: the present time; Cancel leaves the field as it was.
    editor.TimeEdit->setText("later");
    WhenModal<TSetTimeDialog>([&hour](TSetTimeDialog* dialog) {
      hour = dialog->SelectedHour();
      ClickButton(dialog, "CancelButton");
    });
    ClickButton(&editor, "QuickTimeButton");
    QCOMPARE(hour, 14);
    QCOMPARE(editor.TimeEdit->text(), QString("later"));
  }

  // Characters the task file's code page has no byte for are taken out where they are typed,
  // with a message; the rest of what was typed stays.
  void UnstorableTextRefused() {
    RecordingMessages messages;
    TTaskEditor editor({}, nullptr, FixedClock());
    ShowActive(&editor);
    editor.Task->setFocus();
    TypeText(editor.Task, QString::fromUtf8("Caf\u00e9 \u2713 \u20ac5"));
    QCOMPARE(editor.Task->text(), QString::fromUtf8("Caf\u00e9  \u20ac5"));
    QCOMPARE(messages.shown.size(), 1);
    QVERIFY(messages.shown[0].contains(QString::fromUtf8("\u2713")));

    // A paste into the middle keeps the storable part and the cursor behind it.
    editor.KeyWords->setText("home");
    editor.KeyWords->setFocus();
    editor.KeyWords->setCursorPosition(2);
    QGuiApplication::clipboard()->setText(QString::fromUtf8("X\u03a9Y"));
    QTest::keySequence(editor.KeyWords, QKeySequence::Paste);
    QCOMPARE(editor.KeyWords->text(), QString("hoXYme"));
    QCOMPARE(editor.KeyWords->cursorPosition(), 4);
    QCOMPARE(messages.shown.size(), 2);

    // The note, also for characters beyond the basic plane (two UTF-16 units).
    editor.Notes->setFocus();
    QTest::keyClicks(editor.Notes, "a");
    QTest::keyClick(editor.Notes, Qt::Key_Return);
    editor.Notes->insertPlainText(QString::fromUtf8("b\U0001F600c\u03a9d"));
    QCOMPARE(editor.Notes->toPlainText(), QString("a\nbcd"));
    QVERIFY(messages.shown.last().contains(QString::fromUtf8("\U0001F600\u03a9")));

    // What the caller puts in came from the task file and is left as it is.
    const int shown = int(messages.shown.size());
    editor.Task->setText(QString::fromUtf8("\u2713 from the caller"));
    QCOMPARE(messages.shown.size(), shown);
  }
};

QTEST_MAIN(TaskEditorTest)
#include "tst_TaskEditor.moc"
