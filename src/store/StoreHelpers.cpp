#include "store/StoreHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include "platform/UserMessages.h"
#include "store/AppFolders.h"

namespace {

QString& DataDirectoryOverride() {
  static QString directory;
  return directory;
}

QString WithSlash(QString directory) {
  if (!directory.endsWith(u'/')) directory += u'/';
  return directory;
}

// Symbolic links resolved, so a link to the install folder counts as the install folder.
QString Canonical(const QString& folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

AppFolders Folders() {
  AppFolders::Facts facts;
  facts.dataDirOption = DataDirectoryOverride();
  facts.programFolder = Canonical(QCoreApplication::applicationDirPath());
#ifdef LISTWISE_INSTALL_BINDIR
  facts.installBinFolder = Canonical(QStringLiteral(LISTWISE_INSTALL_BINDIR));
#endif
  facts.userDataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  facts.userConfigHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) facts.documents = documents;
  facts.home = QDir::homePath();
  return AppFolders::Choose(facts);
}

}  // namespace

QString StoreHelpers::DataDirectory() {
  // The override is returned as given: the tests compare it with the text they set.
  if (!DataDirectoryOverride().isEmpty()) return DataDirectoryOverride();
  return Folders().data;
}

QString StoreHelpers::ConfigDirectory() {
  if (!DataDirectoryOverride().isEmpty()) return DataDirectoryOverride();
  return Folders().config;
}

QString StoreHelpers::ExportDirectory() {
  if (!DataDirectoryOverride().isEmpty()) return DataDirectoryOverride();
  return Folders().exports;
}

QString StoreHelpers::CreateFolders() {
  for (const QString& folder : {DataDirectory(), ConfigDirectory()}) {
    if (!QDir().mkpath(folder)) return QDir::cleanPath(folder);
  }
  return QString();
}

void StoreHelpers::SetDataDirectory(const QString& directory) {
  DataDirectoryOverride() = directory.isEmpty() ? QString() : WithSlash(directory);
}

QString StoreHelpers::SettingsFileName() {
  return ConfigDirectory() + QStringLiteral("TASQ.INI");
}

QString StoreHelpers::ReportSettingsFileName() {
  return ConfigDirectory() + QStringLiteral("LWISE.INI");
}
