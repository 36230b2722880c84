#include "store/ReportPreferences.h"

#include <array>
#include <utility>

#include "store/IniFile.h"
#include "store/StoreHelpers.h"

namespace {

const QString kReport = QStringLiteral("Report");

using Member = QString ReportPreferences::*;

// Every key with the member that holds it, in the order they are written.
const std::array<std::pair<const char*, Member>, 7> kKeys = {{
    {"ReportTitle", &ReportPreferences::reportTitle},
    {"HTMLTitle", &ReportPreferences::htmlTitle},
    {"RTFTitle", &ReportPreferences::rtfTitle},
    {"TextTitle", &ReportPreferences::textTitle},
    {"HTMLFilespec", &ReportPreferences::htmlFilespec},
    {"RTFFilespec", &ReportPreferences::rtfFilespec},
    {"TextFilespec", &ReportPreferences::textFilespec},
}};

}  // namespace

ReportPreferences ReportPreferences::Defaults() {
  const QString dir = StoreHelpers::ExportDirectory();
  ReportPreferences prefs;
  prefs.reportTitle = prefs.htmlTitle = prefs.rtfTitle = prefs.textTitle =
      QStringLiteral("Listwise");
  prefs.htmlFilespec = dir + QStringLiteral("Tasq.htm");
  prefs.rtfFilespec = dir + QStringLiteral("Tasq.rtf");
  prefs.textFilespec = dir + QStringLiteral("Tasq.txt");
  return prefs;
}

ReportPreferences ReportPreferences::Load() {
  return LoadFrom(StoreHelpers::ReportSettingsFileName());
}

ReportPreferences ReportPreferences::LoadFrom(const QString& fileName) {
  const IniDocument doc = IniFile(fileName).Read();
  ReportPreferences prefs = Defaults();
  for (const auto& [key, member] : kKeys) {
    if (std::optional<QString> value = doc.Value(kReport, QString::fromLatin1(key))) {
      prefs.*member = *value;
    }
  }
  return prefs;
}

bool ReportPreferences::Save() const {
  return SaveTo(StoreHelpers::ReportSettingsFileName());
}

bool ReportPreferences::SaveTo(const QString& fileName) const {
  IniFile file(fileName);
  return file.Update([this](IniDocument& doc) {
    for (const auto& [key, member] : kKeys) {
      if (!doc.SetValue(kReport, QString::fromLatin1(key), this->*member)) return false;
    }
    return true;
  });
}
