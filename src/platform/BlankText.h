#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

// Text helpers for the fixed-width field values, which are padded with blanks, and for lists
// kept in one text with a separator.
class BlankText {
 public:
  // Blanks only (not tabs or line breaks) are taken off.
  static QString TrimLeading(const QString& text);
  static QString TrimTrailing(const QString& text);
  static QString TrimBoth(const QString& text);
  // Appends to `pieces` every piece of `text` between separators, in order; the text after the
  // last separator is a piece also when it is empty, and a text without a separator (the empty
  // text too) is one piece.
  static void Split(const QString& text, QChar separator, QStringList* pieces);
};
