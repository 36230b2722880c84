#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "store/IniDocument.h"

// One settings file, opened by its full path for every read and every write and released at once:
// there is no cache, so two windows of the program (or a user with an editor) never overwrite
// each other's keys with stale copies.
//
// Reads never fail: a missing or unreadable file reads as empty, and a missing key or a value
// that does not read as the wanted type gives the caller's default. Writes replace the file in
// one step (a complete new file beside it, renamed over the old one), so a crash or a full disk
// leaves either the old or the new file, never half of one. A write that cannot be made shows
// "Unable to write to <path>" and returns false.
class IniFile {
 public:
  explicit IniFile(QString path);

  const QString& Path() const { return path_; }

  // The whole file as it is now; empty when it is missing or cannot be read.
  IniDocument Read() const;

  QString ReadString(const QString& section, const QString& key,
                     const QString& defaultValue) const;
  // Decimal, or hexadecimal after "0x"/"0X"; anything else, or a number outside the range of
  // int, gives the default.
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
  // An integer; true for any value other than 0.
  bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
  bool SectionExists(const QString& section) const;
  bool ValueExists(const QString& section, const QString& key) const;

  bool WriteString(const QString& section, const QString& key, const QString& value);
  bool WriteInteger(const QString& section, const QString& key, int value);
  // Written as "1" or "0".
  bool WriteBool(const QString& section, const QString& key, bool value);
  bool DeleteKey(const QString& section, const QString& key);

  // Reads the file, lets `change` edit it and writes it back in one replacement, so that several
  // keys (of one or more sections) change together and a failure is reported once. `change`
  // returns false to refuse (a name or value the file form cannot hold): then nothing is written
  // and the failure is reported as for a refused write.
  bool Update(const std::function<bool(IniDocument&)>& change);

  // The integer rule of ReadInteger on a value already read; nothing for a bad number.
  static std::optional<int> ParseInteger(const QString& text);
  static QString FormatBool(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
  }

 private:
  // False when the file is there but must not be replaced (read-only, or not a plain file).
  bool MayWrite() const;
  // Shows "Unable to write to <path>"; always false.
  bool Fail() const;

  QString path_;
};
