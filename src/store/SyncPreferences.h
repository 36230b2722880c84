#pragma once

#include <QString>

// The sync settings, kept in the settings file (StoreHelpers::SettingsFileName()) in the
// section "Sync". The password is never among them: it lives in the desktop's keyring, or is
// asked for at each sync.
struct SyncPreferences {
  static constexpr int kDefaultMinutes = 15;

  QString server;          // Sync/Server: the server's address
  QString user;            // Sync/User
  QString collection;      // Sync/Collection: the task collection's href on the server
  QString collectionName;  // Sync/CollectionName: its display name, for the dialog
  bool every = false;      // Sync/Every: sync while the program runs...
  int minutes = kDefaultMinutes;  // Sync/Minutes: ...every this many minutes (1 to 1440)

  bool Configured() const { return !server.isEmpty() && !user.isEmpty() && !collection.isEmpty(); }
  // A key for the keyring: the same user on another server has another password.
  QString PasswordKey() const { return user + QLatin1Char('@') + server; }

  static SyncPreferences Load();
  static SyncPreferences LoadFrom(const QString& fileName);
  // All values in one replacement of the file; false (after the message) when it cannot be
  // written.
  bool Save() const;
  bool SaveTo(const QString& fileName) const;
};
