#include "app/MainScreenHelp.h"

#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>

#include "widgets/AccessibleNames.h"
#include "widgets/GridAnnouncer.h"
#include "widgets/TFlatButton.h"
#include "widgets/TPopupHelp.h"

namespace {

struct HelpText {
  const char* control;
  const char* text;
};

constexpr HelpText kTexts[] = {
    {"ActiveGrid",
     "The Task Grid:\r\n\r\nDouble-click on the Priority Column, Date Column,Time Column or Key "
     "Words Column for a quick change menu. \r\n\r\nDouble-click on the Done column to toggle the "
     "status.\r\n\r\nSelect the Description field and start typing to change the description "
     "value"},
    {"ActiveNotes",
     "This shows any notes for the current task.\r\n\r\nYou may type directly into this box to "
     "change the notes"},
    {"CalendarButton",
     "Click here to pop up a calendar. Select a date, and you will be taken to the task which "
     "most closely matches that date."},
    {"CloneButton", "Click here to make an exact duplicate of the currently highlighted task."},
    {"DeleteButton", "Click here to delete  the currently highlighted task. "},
    {"DoneToggleButton", "Click here to toggle the DONE status to yes or no."},
    {"ExitButton", "Click here to exit this program"},
    {"Filterbutton",
     "Click here to set a filter for only the tasks you wish to see.\r\n\r\nThe filter can "
     "include a date range, a key word or key words, and whether or not to view tasks marked "
     "'done'."},
    {"FilterClearbutton", "Click here to clear the current filter (view all records)"},
    {"OrderButton",
     "Click here to change the sort order of the task list. Available viewing orders "
     "are:\r\n\r\n1. By DATE+TIME  (blank dates show first)\r\n2. By Description \r\n3. By "
     "Priority (High Priority first)"},
    {"Printbutton", "Click here to create reports to Printer, HTML, RTF or TEXT"},
    {"ShowDone", "Click this button to toggle whether or not 'Done' tasks will be shown. "},
};

// Buttons with a record but no text: Edit and New explain themselves, and the two help buttons
// are how the user got here.
constexpr const char* kWithoutText[] = {"Editbutton", "Newbutton", "Helpbutton", "MouseHelpbutton"};

}  // namespace

TPopupHelp* MainScreenHelp::Install(QWidget* window) {
  auto* whatsThisMenu = window->findChild<QMenu*>(QStringLiteral("WhatsThisMenu"));
  auto* grid = window->findChild<QTableView*>(QStringLiteral("ActiveGrid"));
  auto* mouseHelp = window->findChild<TFlatButton*>(QStringLiteral("MouseHelpbutton"));
  auto* help = new TPopupHelp(window);
  help->SetMaxWidth(300);
  for (const HelpText& entry : kTexts) {
    help->AddHelp(QLatin1String(entry.control), QLatin1String(entry.text));
  }
  for (const char* name : kWithoutText) help->AddRecord(QLatin1String(name));

  // The menu is the window's own; it needs its item to reach this help.
  TPopupHelp::ConnectWhatsThisMenu(whatsThisMenu);
  QStringList controls;
  for (const char* name : {"Editbutton", "Newbutton", "CloneButton", "DeleteButton", "Filterbutton", "OrderButton",
                           "DoneToggleButton", "Printbutton", "CalendarButton", "ExitButton", "FilterClearbutton",
                           "ShowDone", "Helpbutton", "MouseHelpbutton", "ActiveGrid", "ActiveNotes"})
    controls << QLatin1String(name);
  // F1 is the Help menu's Contents item; a second F1 key would make both ambiguous.
  help->WireForm(whatsThisMenu, controls, mouseHelp, 0);
  // The title row is part of the grid: its right click explains the grid as well.
  TPopupHelp::SetWhatsThisMenu(grid->horizontalHeader(), whatsThisMenu);
  // What a screen reader says; the help texts above describe the other controls.
  NameControls(window, {{"Pane1", "Task list", "The task grid; the bar below it sets its height"},
                        {"Pane2", "Notes pane", "The notes of the current task"},
                        {"ActiveGrid", "Tasks", nullptr},
                        {"ActiveNotes", "Notes", nullptr},
                        {"Editbutton", "Edit", "Opens the highlighted task in the task editor"},
                        {"Newbutton", "New", "Adds a new task in the task editor"},
                        {"Helpbutton", "Help", "Opens the help window"},
                        {"MouseHelpbutton", "What's this?", "Click here, then on a control, to see what it is for"}});
  new GridAnnouncer(grid, QStringLiteral("Task"), help->TextFor(QStringLiteral("ActiveGrid")));
  return help;
}
