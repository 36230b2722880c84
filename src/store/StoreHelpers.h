#pragma once

#include <QString>

// Where the program's files live: the task files, the settings files and the exports.
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
};
