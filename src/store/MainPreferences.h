#pragma once

#include <QString>

// The main window's preferences and the re-index reminder, kept in the settings file
// (StoreHelpers::SettingsFileName()) in the sections "Preferences" and "Reindex". A missing file
// or key, or a number that does not read, gives the default below.
struct MainPreferences {
  static constexpr int kDefaultSplitterBar = 200;
  static constexpr int kDefaultOrder = 0;
  static constexpr bool kDefaultShowDone = false;
  static constexpr bool kDefaultReindexNeeded = true;

  int splitterBar = kDefaultSplitterBar;       // Preferences/SplitterBar: grid pane height, pixels
  int order = kDefaultOrder;                    // Preferences/Order: 0 natural, 1..5 the tags
  bool showDone = kDefaultShowDone;            // Preferences/ShowDone
  bool reindexNeeded = kDefaultReindexNeeded;  // Reindex/Needed

  static MainPreferences Load();
  static MainPreferences LoadFrom(const QString& fileName);
  // Writes all four values in one replacement of the file; false (after the message) when the
  // file cannot be written.
  bool Save() const;
  bool SaveTo(const QString& fileName) const;
  // Only the reminder, written at once when a confirmed rebuild has run.
  static bool SaveReindexNeeded(bool needed);
};
