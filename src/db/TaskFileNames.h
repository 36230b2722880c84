#pragma once

#include <QString>
#include <QStringList>

// The names of the task files in a data folder, the one rule every part of the program and its
// tools go through.
//
// On a case-sensitive file system other xBase tools find a table's memo and index under the
// table's name with a lower-case extension, or with an extension of the same case as the table's
// own. Only a set named all in lower case (LWISE.dbf, LWISE.fpt, LWISE.cdx) is found by every one
// of them, so new files get that spelling. A file stored under the upper-case spelling, as earlier
// versions named them, is used where it is and never renamed. When a file is there under both
// spellings, the lower-case one is used: with the table and its memo following the same rule, a
// table is never paired with the memo of another.
class TaskFileNames {
 public:
  // The path of the file `name` in `folder`, `name` spelled as the messages show it ("LWISE.DBF",
  // "LWBAK.FPT"): the file with the lower-case extension when it exists or when neither does,
  // otherwise the one with the upper-case extension.
  static QString Stored(const QString& folder, const QString& name);

  // The task table in `folder` (LWISE.dbf, or an earlier LWISE.DBF).
  static QString TaskTable(const QString& folder);

  // The companion of the table `dbfPath` with extension `ext` ("FPT", "CDX"), by the same rule.
  static QString Companion(const QString& dbfPath, const QString& ext);

  // The task files that are in `folder` under both spellings, as "LWISE.fpt and LWISE.FPT" (the
  // first is the one used).
  static QStringList DoubleSpelled(const QString& folder);
};
