#include "store/MainPreferences.h"

#include "store/IniFile.h"
#include "store/StoreHelpers.h"

namespace {

const QString kPreferences = QStringLiteral("Preferences");
const QString kReindex = QStringLiteral("Reindex");
const QString kSplitterBar = QStringLiteral("SplitterBar");
const QString kOrder = QStringLiteral("Order");
const QString kShowDone = QStringLiteral("ShowDone");
const QString kNeeded = QStringLiteral("Needed");

}  // namespace

MainPreferences MainPreferences::Load() {
  return LoadFrom(StoreHelpers::SettingsFileName());
}

MainPreferences MainPreferences::LoadFrom(const QString& fileName) {
  // One read of the file for all four values, so that they come from the same version of it.
  const IniFile file(fileName);
  const IniDocument doc = file.Read();
  auto integer = [&doc](const QString& section, const QString& key, int defaultValue) {
    const std::optional<QString> text = doc.Value(section, key);
    return text ? IniFile::ParseInteger(*text).value_or(defaultValue) : defaultValue;
  };
  MainPreferences prefs;
  prefs.splitterBar = integer(kPreferences, kSplitterBar, kDefaultSplitterBar);
  prefs.order = integer(kPreferences, kOrder, kDefaultOrder);
  prefs.showDone = integer(kPreferences, kShowDone, kDefaultShowDone ? 1 : 0) != 0;
  prefs.reindexNeeded = integer(kReindex, kNeeded, kDefaultReindexNeeded ? 1 : 0) != 0;
  return prefs;
}

bool MainPreferences::Save() const {
  return SaveTo(StoreHelpers::SettingsFileName());
}

bool MainPreferences::SaveTo(const QString& fileName) const {
  IniFile file(fileName);
  return file.Update([this](IniDocument& doc) {
    return doc.SetValue(kPreferences, kSplitterBar, QString::number(splitterBar)) &&
           doc.SetValue(kPreferences, kOrder, QString::number(order)) &&
           doc.SetValue(kPreferences, kShowDone, IniFile::FormatBool(showDone)) &&
           doc.SetValue(kReindex, kNeeded, IniFile::FormatBool(reindexNeeded));
  });
}

bool MainPreferences::SaveReindexNeeded(bool needed) {
  IniFile file(StoreHelpers::SettingsFileName());
  return file.WriteBool(kReindex, kNeeded, needed);
}
