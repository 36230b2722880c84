#pragma once

class QMenu;
class QWidget;
class TPopupHelp;

// The filter dialog's "What's this?" help: the texts of its groups and buttons (the key-words
// group borrows the text of its edit), the right-click menu, the help-mode button, F1 (topic
// 1018) and Shift+F1.
class FilterFormHelp {
 public:
  // Gives `filter` (its controls built and named) its popup help component, "PopupHelp1", and
  // wires `whatsThisMenu` to it.
  static TPopupHelp* Install(QWidget* filter, QMenu* whatsThisMenu);
};
