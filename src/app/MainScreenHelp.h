#pragma once

class QWidget;
class TPopupHelp;

// The main window's "What's this?" help: the texts of the grid, the note pane and the command
// buttons, the right-click menu on them (the window's WhatsThisMenu), the help-mode button and
// Shift+F1. F1 stays with the Help menu's Contents item.
class MainScreenHelp {
 public:
  // Gives the main window (its controls and WhatsThisMenu built, found by their object names)
  // its popup help component, "PopupHelp1".
  static TPopupHelp* Install(QWidget* window);
};
