#include "store/StoreHelpers.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "platform/UserMessages.h"

namespace {

QString& DataDirectoryOverride() {
  static QString directory;
  return directory;
}

QString WithSlash(QString directory) {
  if (!directory.endsWith(u'/')) directory += u'/';
  return directory;
}

}  // namespace

QString StoreHelpers::DataDirectory() {
  if (!DataDirectoryOverride().isEmpty()) return DataDirectoryOverride();
  return WithSlash(QCoreApplication::applicationDirPath());
}

void StoreHelpers::SetDataDirectory(const QString& directory) {
  DataDirectoryOverride() = directory.isEmpty() ? QString() : WithSlash(directory);
}

QString StoreHelpers::SettingsFileName() {
  return DataDirectory() + QStringLiteral("TASQ.INI");
}

QString StoreHelpers::ReportSettingsFileName() {
  return DataDirectory() + QStringLiteral("LWISE.INI");
}

void StoreHelpers::ShowInformation(const QString& message) {
  // The whole stack of busy cursors goes: a message box under an hourglass looks like a hang.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
  }
  UserMessages::Current().Information(QStringLiteral("Information"), message);
}

bool StoreHelpers::AskYesNo(const QString& question) {
  return UserMessages::Current().YesNo(QStringLiteral("Listwise"), question);
}

QString StoreHelpers::TrimLeading(const QString& text) {
  qsizetype first = 0;
  while (first < text.size() && text[first] == u' ') ++first;
  return text.mid(first);
}

QString StoreHelpers::TrimTrailing(const QString& text) {
  qsizetype last = text.size();
  while (last > 0 && text[last - 1] == u' ') --last;
  return text.left(last);
}

QString StoreHelpers::TrimBoth(const QString& text) {
  return TrimLeading(TrimTrailing(text));
}

void StoreHelpers::SplitText(const QString& text, QChar separator, QStringList* pieces) {
  pieces->append(text.split(separator, Qt::KeepEmptyParts));
}
