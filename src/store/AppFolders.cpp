#include "store/AppFolders.h"

#include <QDir>

namespace {

QString Clean(const QString& folder) {
  QString path = QDir::cleanPath(folder);
  while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
  return path;
}

QString WithSlash(const QString& folder) {
  QString path = Clean(folder);
  if (!path.endsWith(u'/')) path += u'/';
  return path;
}

}  // namespace

bool AppFolders::IsInstalled(const QString& programFolder, const QString& installBinFolder) {
  if (programFolder.isEmpty() || installBinFolder.isEmpty()) return false;
  const QString program = Clean(programFolder);
  const QString bin = Clean(installBinFolder);
  if (program == bin) return true;
  // Under another root the whole configured path follows the root, from one of its own "/".
  return bin.startsWith(u'/') && bin != QStringLiteral("/") && program.endsWith(bin);
}

AppFolders AppFolders::Choose(const Facts& facts) {
  AppFolders folders;
  if (!facts.dataDirOption.isEmpty()) {
    folders.data = folders.config = folders.exports = WithSlash(facts.dataDirOption);
  } else if (IsInstalled(facts.programFolder, facts.installBinFolder)) {
    folders.data = WithSlash(facts.userDataHome + QStringLiteral("/listwise"));
    folders.config = WithSlash(facts.userConfigHome + QStringLiteral("/listwise"));
    // An export offered in a folder that does not exist would fail; the home folder always does.
    folders.exports = WithSlash(facts.documents.isEmpty() ? facts.home : facts.documents);
  } else {
    folders.data = folders.config = folders.exports = WithSlash(facts.programFolder);
  }
  return folders;
}
