#pragma once

#include <QString>

// The report dialog's remembered titles and export file names, kept in the report settings file
// (StoreHelpers::ReportSettingsFileName()) in the section "Report". A missing key gives the
// default; a key that is present but empty reads as the empty text.
struct ReportPreferences {
  QString report_title;   // ReportTitle, default "Listwise"
  QString html_title;     // HTMLTitle, default "Listwise"
  QString rtf_title;      // RTFTitle, default "Listwise"
  QString text_title;     // TextTitle, default "Listwise"
  QString html_filespec;  // HTMLFilespec, default data directory + "Tasq.htm"
  QString rtf_filespec;   // RTFFilespec, default data directory + "Tasq.rtf"
  QString text_filespec;  // TextFilespec, default data directory + "Tasq.txt"

  // The values a first opening shows, for the data directory in force now.
  static ReportPreferences Defaults();
  static ReportPreferences Load();
  static ReportPreferences LoadFrom(const QString& file_name);
  // All seven keys in one replacement of the file; false (after the message) when it fails.
  bool Save() const;
  bool SaveTo(const QString& file_name) const;
};
