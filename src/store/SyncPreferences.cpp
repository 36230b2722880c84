#include "store/SyncPreferences.h"

#include <algorithm>

#include "store/IniFile.h"
#include "store/StoreHelpers.h"

namespace {

const QString kSync = QStringLiteral("Sync");
const QString kServer = QStringLiteral("Server");
const QString kUser = QStringLiteral("User");
const QString kCollection = QStringLiteral("Collection");
const QString kCollectionName = QStringLiteral("CollectionName");
const QString kEvery = QStringLiteral("Every");
const QString kMinutes = QStringLiteral("Minutes");

}  // namespace

SyncPreferences SyncPreferences::Load() { return LoadFrom(StoreHelpers::SettingsFileName()); }

SyncPreferences SyncPreferences::LoadFrom(const QString& fileName) {
  const IniDocument doc = IniFile(fileName).Read();
  auto text = [&doc](const QString& key) { return doc.Value(kSync, key).value_or(QString()); };
  SyncPreferences prefs;
  prefs.server = text(kServer);
  prefs.user = text(kUser);
  prefs.collection = text(kCollection);
  prefs.collectionName = text(kCollectionName);
  prefs.every = IniFile::ParseInteger(text(kEvery)).value_or(0) != 0;
  prefs.minutes = std::clamp(IniFile::ParseInteger(text(kMinutes)).value_or(kDefaultMinutes), 1, 1440);
  return prefs;
}

bool SyncPreferences::Save() const { return SaveTo(StoreHelpers::SettingsFileName()); }

bool SyncPreferences::SaveTo(const QString& fileName) const {
  return IniFile(fileName).Update([this](IniDocument& doc) {
    return doc.SetValue(kSync, kServer, server) && doc.SetValue(kSync, kUser, user) &&
           doc.SetValue(kSync, kCollection, collection) && doc.SetValue(kSync, kCollectionName, collectionName) &&
           doc.SetValue(kSync, kEvery, IniFile::FormatBool(every)) &&
           doc.SetValue(kSync, kMinutes, QString::number(minutes));
  });
}
