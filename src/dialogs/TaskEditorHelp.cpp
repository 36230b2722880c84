#include "dialogs/TaskEditorHelp.h"

#include <QAbstractButton>
#include <QWidget>

#include "widgets/AccessibleNames.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1004;

struct HelpText {
  const char* control;
  const char* text;
};

// The key-words text holds one double-quote character, before Betty's name.
constexpr HelpText kTexts[] = {
    {"CalendarButton", "Click here to select a date from a calendar"},
    {"CancelButton", "Click here to cancel and exit"},
    {"DateEdit", "Enter the date here (format will depend upon your Windows settings)"},
    {"IsDone", "Check here to mark the task as done or not"},
    {"KeyListbutton", "Click here for a menu of key words you have used"},
    {"KeyWords",
     "Enter any Key Words here. A Key word is useful for later filtering of the tasks. "
     "\r\n\r\nFor instance, if Joe and Betty use this program, Joe might use the Key Word  'Joe' "
     "and Betty the Key Word 'Betty' when entering tasks. Later, they can use the Filter to view "
     "only tasks with  Key Words of 'Joe' or \"Betty'.\r\n\r\nOr you might divide your tasks into "
     "'Home' and 'School', using those  Key Words, and later use the filter to view only tasks "
     "matching one or the other.\r\n"},
    {"Notes", "Enter any notes about this task here"},
    {"OKButton", "Click here to save changes"},
    {"pHigh", "Check for high priority"},
    {"pLow", "Check for low priority"},
    {"pMedium", "Check for medium priority"},
    {"QuickDateButton", "Click here for a quick dropdown list of dates"},
    {"QuickTimeButton", "Click here to call up the point-and-click Quick Time Set dialog"},
    {"Task", "Enter a description for the task here"},
    {"TimeEdit", "Enter the time here (HH:MMam/pm)"},
};

// Controls with a record but no text: a click on them passes on to their parent. The labels
// and the priority panel have nothing to add to the controls they stand by.
constexpr const char* kWithoutText[] = {"TaskLabel",     "KeyWordsLabel", "DateEditLabel",
                                        "TimeEditLabel", "NotesLabel",    "Label1",
                                        "PriorityPanel", "DateFormat",    "TimeFormat",
                                        "Panel1",        "Helpbutton",    "MouseHelpButton"};

}  // namespace

TPopupHelp* TaskEditorHelp::Install(QWidget* editor, QMenu* whatsThisMenu) {
  auto* help = new TPopupHelp(editor);
  help->SetMaxWidth(300);
  for (const HelpText& entry : kTexts) {
    help->AddHelp(QLatin1String(entry.control), QLatin1String(entry.text));
  }
  for (const char* name : kWithoutText) help->AddRecord(QLatin1String(name));
  // The done box, the priority panel with its label and the two help buttons have no menu.
  help->WireForm(whatsThisMenu,
                 {QStringLiteral("TaskLabel"), QStringLiteral("KeyWordsLabel"),
                  QStringLiteral("DateEditLabel"), QStringLiteral("TimeEditLabel"),
                  QStringLiteral("NotesLabel"), QStringLiteral("Task"), QStringLiteral("KeyWords"),
                  QStringLiteral("DateEdit"), QStringLiteral("TimeEdit"), QStringLiteral("Notes"),
                  QStringLiteral("pHigh"), QStringLiteral("pMedium"), QStringLiteral("pLow"),
                  QStringLiteral("KeyListbutton"), QStringLiteral("CalendarButton"),
                  QStringLiteral("QuickDateButton"), QStringLiteral("QuickTimeButton"),
                  QStringLiteral("OKButton"), QStringLiteral("CancelButton")},
                 editor->findChild<QAbstractButton*>(QStringLiteral("MouseHelpButton")),
                 kHelpContext);
  // What a screen reader says for each box (its label) and each picture button.
  NameControls(editor, {{"Task", "Description", nullptr},
                        {"KeyWords", "Key words", nullptr},
                        {"DateEdit", "Date", nullptr},
                        {"TimeEdit", "Time", nullptr},
                        {"Notes", "Notes", nullptr},
                        {"KeyListbutton", "Key word list", nullptr},
                        {"CalendarButton", "Calendar", nullptr},
                        {"QuickTimeButton", "Quick time", nullptr},
                        {"Helpbutton", "Help", "Opens the help window at the task editor"},
                        {"MouseHelpButton", "What's this?", "Click here, then on a control, to see what it is for"}});
  return help;
}
