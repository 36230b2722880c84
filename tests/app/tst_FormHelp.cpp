// "What's this?" help in the program's real windows: every control with a help text shows it,
// through its right-click menu where it has one and through the help mode everywhere; the
// windows' own help keys and buttons; the wrap widths, the key-words redirect and the empty
// label of the task editor.

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "MainScreenFixture.h"
#include "app/TMainScreen.h"
#include "db/DataSetModel.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TSetTimeDialog.h"
#include "dialogs/TTaskEditor.h"
#include "platform/UserMessages.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "store/StoreHelpers.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"
#include "widgets/TPopupHelpMask.h"
#include "widgets/TPopupHelpPopup.h"
#include "../store/RecordingMessages.h"

namespace {

// A control's help text as the forms hold it, and whether its right-click menu offers it.
struct Row {
  const char* control;
  const char* text;
  bool menu;
};

const Row kTaskEditor[] = {
    {"CalendarButton", "Click here to select a date from a calendar", true},
    {"CancelButton", "Click here to cancel and exit", true},
    {"DateEdit", "Enter the date here (format will depend upon your Windows settings)", true},
    {"IsDone", "Check here to mark the task as done or not", false},
    {"KeyListbutton", "Click here for a menu of key words you have used", true},
    {"KeyWords",
     "Enter any Key Words here. A Key word is useful for later filtering of the tasks. \r\n\r\n"
     "For instance, if Joe and Betty use this program, Joe might use the Key Word  'Joe' and "
     "Betty the Key Word 'Betty' when entering tasks. Later, they can use the Filter to view only "
     "tasks with  Key Words of 'Joe' or \"Betty'.\r\n\r\nOr you might divide your tasks into "
     "'Home' and 'School', using those  Key Words, and later use the filter to view only tasks "
     "matching one or the other.\r\n",
     true},
    {"Notes", "Enter any notes about this task here", true},
    {"OKButton", "Click here to save changes", true},
    {"pHigh", "Check for high priority", true},
    {"pLow", "Check for low priority", true},
    {"pMedium", "Check for medium priority", true},
    {"QuickDateButton", "Click here for a quick dropdown list of dates", true},
    {"QuickTimeButton", "Click here to call up the point-and-click Quick Time Set dialog", true},
    {"Task", "Enter a description for the task here", true},
    {"TimeEdit", "Enter the time here (HH:MMam/pm)", true},
};

const Row kDateSelector[] = {
    {"CancelButton", "Click to cancel and return to the previous screen", true},
    {"NextMonth", "Click here to see the next month's calendar", true},
    {"NextYear", "Click here to see the next year's calendar", true},
    {"OKButton", "Click here to use the selected date", true},
    {"PrevMonth", "Click here to see the previous month's calendar", true},
    {"PrevYear", "Click here to see the previous year's calendar", true},
};

const char kFilterKeyWords[] =
    "Enter any Key Words to filter on here. If you use more than one Key Word, separate them with "
    "a comma. i.e. 'Joe, Betty'.\r\n";

const Row kFilterForm[] = {
    {"CancelButton", "Click here to cancel your selection and exit", true},
    {"DateFilter", "Select a range of dates to filter on, or select 'All Dates'.", true},
    {"KeyListbutton", "Click here for a menu of key words you have used", true},
    {"KeysBox", kFilterKeyWords, false},
    {"KeyWords", kFilterKeyWords, false},
    {"OKButton", "Click here to accept your selection and exit", true},
    {"PriorityFilter", "Select a priority level to filter by", true},
    {"ResetButton", "Click here to reset the filter back to its defaults - which is all tasks.",
     true},
};

const Row kMainScreen[] = {
    {"ActiveGrid",
     "The Task Grid:\r\n\r\nDouble-click on the Priority Column, Date Column,Time Column or Key "
     "Words Column for a quick change menu. \r\n\r\nDouble-click on the Done column to toggle the "
     "status.\r\n\r\nSelect the Description field and start typing to change the description "
     "value",
     true},
    {"ActiveNotes",
     "This shows any notes for the current task.\r\n\r\nYou may type directly into this box to "
     "change the notes",
     true},
    {"CalendarButton",
     "Click here to pop up a calendar. Select a date, and you will be taken to the task which "
     "most closely matches that date.",
     true},
    {"CloneButton", "Click here to make an exact duplicate of the currently highlighted task.",
     true},
    {"DeleteButton", "Click here to delete  the currently highlighted task. ", true},
    {"DoneToggleButton", "Click here to toggle the DONE status to yes or no.", true},
    {"ExitButton", "Click here to exit this program", true},
    {"Filterbutton",
     "Click here to set a filter for only the tasks you wish to see.\r\n\r\nThe filter can "
     "include a date range, a key word or key words, and whether or not to view tasks marked "
     "'done'.",
     true},
    {"FilterClearbutton", "Click here to clear the current filter (view all records)", true},
    {"OrderButton",
     "Click here to change the sort order of the task list. Available viewing orders are:\r\n\r\n"
     "1. By DATE+TIME  (blank dates show first)\r\n2. By Description \r\n3. By Priority (High "
     "Priority first)",
     true},
    {"Printbutton", "Click here to create reports to Printer, HTML, RTF or TEXT", true},
    {"ShowDone", "Click this button to toggle whether or not 'Done' tasks will be shown. ", true},
};

const Row kReportSetup[] = {
    {"ColorPanel", "Click here to change the background color for the HTML document", true},
    {"DoubleSpace", "Select this option to use double-space printing", true},
    {"HTMLDoNotes", "Check here to write the notes (memo) as part of the HTML document", true},
    {"HTMLPageTitle", "Enter the HTML page title here", true},
    {"HTMLSaveAs", "Click here to save the current Tasq List as an HTML file", true},
    {"Previewbutton", "Click here to preview the printed report", true},
    {"PrintCheckBox",
     "Select this option to also print a small checkbox next to each task (for your use in "
     "checking them off)",
     true},
    {"PrintMemoBox", "Select this option to also print the notes information", true},
    {"PrintNow", "Click here to print the list now.", true},
    {"PrintSetup", "Click here to set up the printer prior to printing the list.", true},
    {"ReportTitleField", "Enter a title to be printed at the top of the report", true},
    {"ReturnButton", "Click here to return to the main screen", true},
    {"RTFDoNotes", "Check here to write the notes (memo) as part of the RTF file", true},
    {"RTFPageTitle", "Enter a title to print on the top of the RTF file page here", true},
    {"SaveAsRTFClick", "Click here to save the current Tasq List as an RTF file", true},
    {"SaveAsText", "Click here to save the current Tasq List as a text file (ASCII)", true},
    {"TextDoNotes", "Check here to write the notes (memo) as part of the text file", true},
    {"TextPageTitle", "Enter a title for the text file page here", true},
};

// What the popup shows for a stored text: its lines, without the carriage returns.
QString Lines(const char* text) {
  return QString::fromLatin1(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

TPopupHelpPopup* Popup() {
  return TPopupHelp::Popup();
}
bool PopupShown() {
  return Popup() && Popup()->isVisible();
}
QString Shown() {
  return PopupShown() ? Popup()->ShownText() : QStringLiteral("<nothing shown>");
}
void HidePopup() {
  if (Popup()) Popup()->hide();
}
void DeleteLater() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TPopupHelp* HelpOf(QWidget* form) {
  return form->findChild<TPopupHelp*>(QStringLiteral("PopupHelp1"), Qt::FindDirectChildrenOnly);
}

// Brings `control` into view: the page it lies on becomes the current one, and a control kept
// hidden until it is needed (the main window's "FILTERED" button) is shown.
void Reveal(QWidget* control) {
  for (QWidget* w = control; w && !w->isWindow(); w = w->parentWidget()) {
    if (auto* pages = qobject_cast<QStackedWidget*>(w->parentWidget())) pages->setCurrentWidget(w);
  }
  if (!control->isVisible()) control->show();
}

// Right-clicks `control` and picks the first item of the menu that opens, when it is the form's
// "What's this?" menu. False when that menu did not open.
bool ViaMenu(QWidget* form, QWidget* control) {
  auto* menu = form->findChild<QMenu*>(QStringLiteral("WhatsThisMenu"));
  bool opened = false;
  QTimer::singleShot(0, form, [&] {
    auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!open || open != menu) return;
    opened = true;
    QTest::keyClick(open, Qt::Key_Down);
    QTest::keyClick(open, Qt::Key_Return);
  });
  auto* area = qobject_cast<QAbstractScrollArea*>(control);
  QWidget* target = area ? area->viewport() : control;
  const QPoint at = target->rect().center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
  QApplication::sendEvent(target, &event);
  QCoreApplication::processEvents();
  return opened;
}

// Clicks the form's help-mode button, then `control` (at `local`, its centre by default).
// False when the help mode did not start.
bool ViaHelpMode(QWidget* form, QWidget* control, const char* button = "MouseHelpButton",
                 QPoint local = QPoint(-1, -1)) {
  auto* mouse_help = form->findChild<QAbstractButton*>(QString::fromLatin1(button));
  if (!mouse_help) return false;
  mouse_help->click();
  auto* mask = form->findChild<TPopupHelpMask*>();
  if (!mask) return false;
  if (local == QPoint(-1, -1)) local = control->rect().center();
  QTest::mouseClick(mask, Qt::LeftButton, {}, mask->mapFromGlobal(control->mapToGlobal(local)));
  DeleteLater();
  return !form->findChild<TPopupHelpMask*>();
}

bool ShowActive(QWidget* form) {
  form->show();
  form->activateWindow();
  if (!QTest::qWaitForWindowActive(form)) return false;
  // The offscreen platform may leave a closed popup menu as the application's active window
  // when the focus window itself never changed; a real display gives the activation back.
  if (QApplication::activeWindow() != form) QApplication::setActiveWindow(form);
  return QApplication::activeWindow() == form;
}

using Recorded = RecordingMessages;

}  // namespace

class FormHelpTest : public QObject {
  Q_OBJECT

 private:
  Recorded messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  // Every row's control shows its text: through the menu where it has one, and in the help mode.
  template <size_t N>
  void Walk(QWidget* form, const Row (&rows)[N], const char* button = "MouseHelpButton") {
    TPopupHelp* help = HelpOf(form);
    QVERIFY(help);
    for (const Row& row : rows) {
      const QString name = QString::fromLatin1(row.control);
      auto* control = form->findChild<QWidget*>(name);
      QVERIFY2(control, qPrintable(name));
      Reveal(control);
      // A disabled control takes no right click; the help mode still explains it.
      if (row.menu && control->isEnabled()) {
        QVERIFY2(ViaMenu(form, control), qPrintable(name + ": no \"What's this?\" menu"));
        QVERIFY2(Shown() == Lines(row.text), qPrintable(name + ": " + Shown()));
        QCOMPARE(Popup()->ControlRect(), TPopupHelp::ScreenRect(control));
        HidePopup();
      } else if (!row.menu) {
        QVERIFY2(control->contextMenuPolicy() != Qt::CustomContextMenu, qPrintable(name));
      }
      QVERIFY2(ViaHelpMode(form, control, button), qPrintable(name + ": no help mode"));
      QVERIFY2(Shown() == Lines(row.text), qPrintable(name + " (help mode): " + Shown()));
      HidePopup();
    }
    // The popup takes the window colour the form had at its activation.
    QCOMPARE(help->Color(), form->palette().color(QPalette::Base));
  }

  // F1 opens `context`'s topic; Shift+F1 starts the help mode where the form has one.
  void HelpKeys(QWidget* form, int context, bool help_mode = true) {
    QVERIFY(ShowActive(form));
    if (HelpWindow::Instance()) HelpWindow::Instance()->hide();
    QTest::keyClick(form, Qt::Key_F1);
    QVERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), context);
    HelpWindow::Instance()->hide();
    // The help button opens the same topic (from another one on show).
    HelpWindow::ShowHelpContext(HelpWindow::kPreviewWindow)->hide();
    auto* help_button = form->findChild<QAbstractButton*>(QStringLiteral("Helpbutton"));
    QVERIFY(help_button);
    help_button->click();
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), context);
    HelpWindow::Instance()->hide();
    if (!help_mode) return;
    QVERIFY(ShowActive(form));
    QTest::keyClick(form, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(HelpOf(form)->InHelpMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!HelpOf(form)->InHelpMode());
  }

  std::unique_ptr<TMainScreen> OpenMainScreen() {
    {
      TaskStore store;
      if (!store.OpenTaskStore(false)) return nullptr;
      store.TasqTable.Append();
      store.TasqTable.FieldByName("DATE")->SetAsString("20240301");
      store.TasqTable.FieldByName("DESCRIPT")->SetAsString("Call the dentist");
      store.TasqTable.FieldByName("PRIORITY")->SetAsString("B");
      store.TasqTable.FieldByName("DONE")->SetAsBoolean(false);
      store.TasqTable.Post();
    }
    auto w = std::make_unique<TMainScreen>(nullptr, FixtureClock());
    w->show();
    if (!QTest::qWaitFor([&] { return w->Opened() && Control<TFlatButton>(*w, "ExitButton")->isVisible(); },
                         10000)) {
      return nullptr;
    }
    return w;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    UserMessages::Install(&messages_);
  }
  void cleanup() {
    HidePopup();
    if (HelpWindow::Instance()) HelpWindow::Instance()->hide();
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
  }

  void TaskEditor() {
    TTaskEditor editor({QStringLiteral("Home")});
    QVERIFY(ShowActive(&editor));
    Walk(&editor, kTaskEditor);
    HelpKeys(&editor, 1004);
  }

  void TaskEditorDetails() {
    TTaskEditor editor({QStringLiteral("Home")});
    QVERIFY(ShowActive(&editor));
    TPopupHelp* help = HelpOf(&editor);
    QCOMPARE(help->MaxWidth(), 300);
    QCOMPARE(editor.findChild<QAction*>(QStringLiteral("Whatsthis"))->text(),
             QStringLiteral("What's this?"));

    // The key-words text wraps at 300 pixels.
    help->ShowHelpFor(editor.KeyWords);
    QVERIFY(PopupShown());
    QVERIFY(Popup()->TextSize().width() <= 300);
    QVERIFY(Popup()->TextSize().width() > 200);
    QVERIFY(!Popup()->MoreLineShown());
    HidePopup();

    // Its stored bytes hold exactly one double quote, and the whole list survives a round trip
    // through its "HelpData" bytes unchanged.
    const TPopupHelpData* key_words = help->HelpText().FindText(QStringLiteral("KeyWords"));
    QVERIFY(key_words && key_words->RawText());
    QCOMPARE(key_words->RawText()->count('"'), 1);
    const QByteArray bytes = help->HelpText().WriteHelpData();
    TPopupHelpText names;
    for (const QString& name : help->HelpText().Names()) names.Add(name);
    QString error;
    QVERIFY2(names.ReadHelpData(bytes, &error), qPrintable(error));
    QCOMPARE(names.WriteHelpData(), bytes);

    // The label in the priority panel has an empty record, and the panel none: nothing shows,
    // neither through ShowHelpFor nor in the help mode (which ends all the same).
    auto* label1 = editor.findChild<QWidget*>(QStringLiteral("Label1"));
    QSignalSpy done(help, &TPopupHelp::HelpDone);
    help->ShowHelpFor(label1);
    QVERIFY(!PopupShown());
    QVERIFY(ViaHelpMode(&editor, label1));
    QVERIFY(!PopupShown());
    QCOMPARE(done.count(), 1);

    // Esc ends the help mode with the focus back where it was; a click on an empty part of the
    // form shows nothing.
    editor.KeyWords->setFocus();
    QVERIFY(ViaHelpMode(&editor, &editor, "MouseHelpButton", QPoint(editor.width() - 2, 2)));
    QVERIFY(!PopupShown());
    QCOMPARE(QApplication::focusWidget(), editor.KeyWords);
    editor.findChild<QAbstractButton*>(QStringLiteral("MouseHelpButton"))->click();
    QVERIFY(help->InHelpMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!help->InHelpMode());
    QCOMPARE(QApplication::focusWidget(), editor.KeyWords);
    QCOMPARE(editor.ModalResult, 0);  // Esc did not cancel the dialog
    QVERIFY(editor.isVisible());
  }

  void DateSelector() {
    TDateSelector selector;
    QVERIFY(ShowActive(&selector));
    Walk(&selector, kDateSelector);
    QCOMPARE(selector.findChild<QAction*>(QStringLiteral("WhatsthisMenuItem"))->text(),
             QStringLiteral("What's this?"));
    // Today has a record but no text: its menu shows nothing.
    auto* today = selector.findChild<QWidget*>(QStringLiteral("DoCurrentDate"));
    QVERIFY(ViaMenu(&selector, today));
    QVERIFY(!PopupShown());

    // Texts wrap at 200 pixels here.
    TPopupHelp* help = HelpOf(&selector);
    QCOMPARE(help->MaxWidth(), 200);
    help->ShowHelpFor(selector.findChild<QWidget*>(QStringLiteral("CancelButton")));
    QVERIFY(PopupShown());
    const int line = QFontMetrics(selector.font()).height();
    QVERIFY2(Popup()->TextSize().width() <= 200, qPrintable(QString::number(Popup()->width())));
    QVERIFY(Popup()->TextSize().height() >= 2 * line);
    HidePopup();
    HelpKeys(&selector, 1004);
  }

  void FilterForm() {
    TFilterForm filter({QStringLiteral("Home")});
    QVERIFY(ShowActive(&filter));
    Walk(&filter, kFilterForm);
    // The key-words group borrows its edit's text, and the popup stands at the group.
    auto* keys_box = filter.findChild<QWidget*>(QStringLiteral("KeysBox"));
    HelpOf(&filter)->ShowHelpFor(keys_box);
    QCOMPARE(Shown(), Lines(kFilterKeyWords));
    QCOMPARE(Popup()->ControlRect(), TPopupHelp::ScreenRect(keys_box));
    HidePopup();
    // So does the hint under the edit, which has nothing of its own.
    auto* hint = filter.findChild<QWidget*>(QStringLiteral("Label3"));
    QVERIFY(ViaHelpMode(&filter, hint));
    QCOMPARE(Shown(), Lines(kFilterKeyWords));
    HidePopup();
    // A radio item passes on to its group, in the help mode and by its menu.
    auto* today = filter.findChild<QWidget*>(QStringLiteral("DateFilterItem1"));
    QVERIFY(today);
    QVERIFY(ViaHelpMode(&filter, today));
    QCOMPARE(Shown(), Lines(kFilterForm[1].text));
    HidePopup();
    HelpKeys(&filter, 1018);
  }

  void SetTimeDialog() {
    TSetTimeDialog dialog;
    HelpKeys(&dialog, 2986, false);
  }

  void MainScreenAndReportDialog() {
    auto w = OpenMainScreen();
    QVERIFY(w);
    QVERIFY(ShowActive(w.get()));
    Walk(w.get(), kMainScreen, "MouseHelpbutton");
    QCOMPARE(w->findChild<QAction*>(QStringLiteral("Whatsthis"))->text(),
             QStringLiteral("What's this?"));
    // The grid's title row explains the grid.
    QVERIFY(ViaMenu(w.get(), Control<QTableView>(*w, "ActiveGrid")->horizontalHeader()));
    QCOMPARE(Shown(), Lines(kMainScreen[0].text));
    HidePopup();
    // Edit has a record without text: nothing shows.
    QVERIFY(ViaMenu(w.get(), Control<TFlatButton>(*w, "Editbutton")));
    QVERIFY(!PopupShown());

    // F1 is the Help menu's Contents item.
    QVERIFY(ShowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F1);
    QVERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1009);
    HelpWindow::Instance()->hide();
    Control<TFlatButton>(*w, "Helpbutton")->click();
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1009);
    HelpWindow::Instance()->hide();

    // In the help mode the window's command keys are off: Delete deletes nothing.
    QVERIFY(ShowActive(w.get()));
    Control<QTableView>(*w, "ActiveGrid")->setFocus();
    const int rows = Grid(*w)->rowCount();
    QCOMPARE(rows, 1);
    messages_.shown.clear();  // the reminder to rebuild the indexes of a first start
    QTest::keyClick(w.get(), Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(Control<TPopupHelp>(*w, "PopupHelp1")->InHelpMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
    QVERIFY(Control<TPopupHelp>(*w, "PopupHelp1")->InHelpMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!Control<TPopupHelp>(*w, "PopupHelp1")->InHelpMode());
    QCOMPARE(messages_.shown, QStringList());
    QCOMPARE(Grid(*w)->rowCount(), rows);
    QCOMPARE(QApplication::focusWidget(), Control<QTableView>(*w, "ActiveGrid"));

    TReportSetup report(w->Store().TasqTable, w->Store().TasqEngine, w.get());
    ReportPrinting::Install(report);
    QVERIFY(ShowActive(&report));
    Walk(&report, kReportSetup);
    HelpKeys(&report, 1007);
    report.close();
    w->close();
  }
};

QTEST_MAIN(FormHelpTest)
#include "tst_FormHelp.moc"
