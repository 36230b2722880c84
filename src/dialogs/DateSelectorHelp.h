#pragma once

class QMenu;
class QWidget;
class TPopupHelp;

// The date selector's "What's this?" help: the texts of its navigation and closing buttons, the
// right-click menu on them, the help-mode button, F1 (the task editor's topic, 1004) and
// Shift+F1. Its popups wrap at 200 pixels, narrower than elsewhere, to suit the small window.
class DateSelectorHelp {
 public:
  // Gives `selector` (its controls built and named) its popup help component, "PopupHelp1",
  // and wires `whatsThisMenu` to it.
  static TPopupHelp* Install(QWidget* selector, QMenu* whatsThisMenu);
};
