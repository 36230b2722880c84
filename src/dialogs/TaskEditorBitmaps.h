#pragma once

#include <QImage>

// The pictures of the task editor's and the filter dialog's picture-only buttons, drawn in code
// so that the dialogs need no image files. Each has a magenta ground in its top-left pixel,
// which the flat button treats as transparent.
class TaskEditorBitmaps {
 public:
  // A pointer with a question mark: starts the "What's this?" mode.
  static QImage HelpMode();
  // A short list with a pointer: drops down the key words in use.
  static QImage KeyList();
  // A calendar sheet: opens the date selector.
  static QImage Calendar();
  // A clock face: opens the set-time dialog.
  static QImage Clock();
};
