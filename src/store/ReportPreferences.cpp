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
    {"ReportTitle", &ReportPreferences::report_title},
    {"HTMLTitle", &ReportPreferences::html_title},
    {"RTFTitle", &ReportPreferences::rtf_title},
    {"TextTitle", &ReportPreferences::text_title},
    {"HTMLFilespec", &ReportPreferences::html_filespec},
    {"RTFFilespec", &ReportPreferences::rtf_filespec},
    {"TextFilespec", &ReportPreferences::text_filespec},
}};

}  // namespace

ReportPreferences ReportPreferences::Defaults() {
  const QString dir = StoreHelpers::ExportDirectory();
  ReportPreferences prefs;
  prefs.report_title = prefs.html_title = prefs.rtf_title = prefs.text_title =
      QStringLiteral("Listwise");
  prefs.html_filespec = dir + QStringLiteral("Tasq.htm");
  prefs.rtf_filespec = dir + QStringLiteral("Tasq.rtf");
  prefs.text_filespec = dir + QStringLiteral("Tasq.txt");
  return prefs;
}

ReportPreferences ReportPreferences::Load() {
  return LoadFrom(StoreHelpers::ReportSettingsFileName());
}

ReportPreferences ReportPreferences::LoadFrom(const QString& file_name) {
  const IniDocument doc = IniFile(file_name).Read();
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

bool ReportPreferences::SaveTo(const QString& file_name) const {
  IniFile file(file_name);
  return file.Update([this](IniDocument& doc) {
    for (const auto& [key, member] : kKeys) {
      if (!doc.SetValue(kReport, QString::fromLatin1(key), this->*member)) return false;
    }
    return true;
  });
}
