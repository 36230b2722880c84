#include "db/TaskFileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// Whether both names lead to one file: on a file system that ignores case (a memory stick, some
// network shares) both spellings always exist, and are the same file.
bool SameFile(const QString& a, const QString& b) {
  struct stat sa {}, sb {};
  return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

QString TaskFileNames::Companion(const QString& dbfPath, const QString& ext) {
  const QFileInfo info(dbfPath);
  const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.');
  const QString lower = stem + ext.toLower();
  const QString upper = stem + ext.toUpper();
  if (!QFile::exists(lower) && QFile::exists(upper)) return upper;
  return lower;
}

QString TaskFileNames::Stored(const QString& folder, const QString& name) {
  const QString path = QDir(folder).filePath(name);
  const QString ext = QFileInfo(path).suffix();
  if (ext.isEmpty()) return path;
  return Companion(path, ext);
}

QString TaskFileNames::TaskTable(const QString& folder) {
  return Stored(folder, QStringLiteral("LWISE.DBF"));
}

QStringList TaskFileNames::DoubleSpelled(const QString& folder) {
  QStringList both;
  for (const char* ext : {"dbf", "fpt", "cdx"}) {
    const QString lower = QDir(folder).filePath(QStringLiteral("LWISE.") + QLatin1String(ext));
    const QString upper = QDir(folder).filePath(QStringLiteral("LWISE.") + QString::fromLatin1(ext).toUpper());
    if (QFile::exists(lower) && QFile::exists(upper) && !SameFile(lower, upper))
      both << QFileInfo(lower).fileName() + QStringLiteral(" and ") + QFileInfo(upper).fileName();
  }
  return both;
}
