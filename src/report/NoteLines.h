#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// Breaks a task's note into the lines a word-wrapping multi-line text box of the given width
// and font would show, which is how the exports and the printed report lay notes out.
class NoteLines {
 public:
  // The display lines of `note` at `width` pixels in `font`. Every line break of the note (CR
  // LF, or a lone CR or LF) ends a line; a break at the very end adds no empty line; within a
  // line the text wraps at blanks, and a word wider than the box is split where it no longer
  // fits. The lines keep their blanks. A note that comes out as one blank line has no display
  // lines at all (the empty list); two or more blank lines are kept.
  static QStringList Of(const QString& note, const QFont& font, int width);

  // The font of the report dialog, in which export notes are wrapped: Arial, 11 pixels high.
  static QFont DialogFont();
  // The text file's wrap width: 34 digits in `font`.
  static int TextFileWidth(const QFont& font);
};
