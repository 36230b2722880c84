#pragma once

class QMenu;
class QWidget;
class TPopupHelp;

// The task editor's "What's this?" help: the text of each control, the right-click menu on the
// controls that offer it, the help-mode button, F1 (topic 1004) and Shift+F1. Kept apart from
// the dialog so that its texts live in one place.
class TaskEditorHelp {
 public:
  // Gives `editor` (its controls built and named) its popup help component, "PopupHelp1", and
  // wires `whatsThisMenu` to it.
  static TPopupHelp* Install(QWidget* editor, QMenu* whatsThisMenu);
};
