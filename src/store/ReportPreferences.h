#pragma once

#include <QString>

// The report dialog's remembered titles and export file names, kept in the report settings file
// (StoreHelpers::ReportSettingsFileName()) in the section "Report". A missing key gives the
// default; a key that is present but empty reads as the empty text.
struct ReportPreferences {
  QString reportTitle;   // ReportTitle, default "Listwise"
  QString htmlTitle;     // HTMLTitle, default "Listwise"
  QString rtfTitle;      // RTFTitle, default "Listwise"
  QString textTitle;     // TextTitle, default "Listwise"
  QString htmlFilespec;  // HTMLFilespec, default data directory + "Tasq.htm"
  QString rtfFilespec;   // RTFFilespec, default data directory + "Tasq.rtf"
  QString textFilespec;  // TextFilespec, default data directory + "Tasq.txt"

  // The values a first opening shows, for the data directory in force now.
  static ReportPreferences Defaults();
  static ReportPreferences Load();
  static ReportPreferences LoadFrom(const QString& fileName);
  // All seven keys in one replacement of the file; false (after the message) when it fails.
  bool Save() const;
  bool SaveTo(const QString& fileName) const;
};
