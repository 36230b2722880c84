#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

// Small services of the task store that the rest of the program shares: where the program's
// files live, the two message boxes every part uses, and the text helpers for blank-padded
// field values and separated lists.
class StoreHelpers {
 public:
  // The folder of the program's executable, ending in "/": every task, backup, settings and
  // default export file lives there. A test may point it elsewhere with SetDataDirectory.
  static QString DataDirectory();
  // Puts `directory` in place of the executable's folder ("/" is added when missing); an empty
  // text restores the executable's folder.
  static void SetDataDirectory(const QString& directory);

  // The settings file (main window preferences, re-index reminder, window placements).
  static QString SettingsFileName();
  // The report settings file (report titles and export file names).
  static QString ReportSettingsFileName();

  // An information box with the caption "Information" and an OK button. A busy cursor is taken
  // away first: the user must see that the program waits for them.
  static void ShowInformation(const QString& message);
  // A question with the caption "Listwise" and Yes and No; true for Yes.
  static bool AskYesNo(const QString& question);

  // Blanks only (not tabs or line breaks), as the fixed-width text fields pad with blanks.
  static QString TrimLeading(const QString& text);
  static QString TrimTrailing(const QString& text);
  static QString TrimBoth(const QString& text);
  // Appends to `pieces` every piece of `text` between separators, in order; the text after the
  // last separator is a piece also when it is empty, and a text without a separator (the empty
  // text too) is one piece.
  static void SplitText(const QString& text, QChar separator, QStringList* pieces);
};
