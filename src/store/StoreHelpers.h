#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

// Small services of the task store that the rest of the program shares: where the program's
// files live, the two message boxes every part uses, and the text helpers for blank-padded
// field values and separated lists.
class StoreHelpers {
 public:
  // The folder of the task files and their backups, ending in "/" (AppFolders has the rule:
  // beside the executable, the user's data folder when installed, or the folder given).
  static QString DataDirectory();
  // The folder of the two settings files, ending in "/".
  static QString ConfigDirectory();
  // The folder the default export and PDF files are offered in, ending in "/".
  static QString ExportDirectory();
  // Puts `directory` in place of all three ("/" is added when missing), as --data-dir does and
  // the tests do; an empty text restores the program's own choice.
  static void SetDataDirectory(const QString& directory);
  // Creates the data and settings folders when missing; the folder that could not be created,
  // or an empty text when both are there.
  static QString CreateFolders();

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
