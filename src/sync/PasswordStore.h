#pragma once

#include <QString>

// The sync password in the desktop's keyring (Secret Service, KWallet) through QtKeychain.
// Where no keyring runs, nothing is stored anywhere: the caller asks for the password at each
// sync. Calls wait for the keyring's answer in a local event loop.
class PasswordStore {
 public:
  enum class Outcome {
    Done,       // read (the password is set), written or removed
    NotFound,   // the keyring runs but holds no password for the key
    NoKeyring,  // no keyring to be used: ask each time
  };

  static Outcome Read(const QString& key, QString* password, QString* why = nullptr);
  static Outcome Write(const QString& key, const QString& password, QString* why = nullptr);
  static Outcome Remove(const QString& key, QString* why = nullptr);

  // Tests (and machines without a desktop) can turn the keyring off for the process.
  static void SetDisabled(bool disabled);
};
