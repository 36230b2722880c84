#include "sync/TaskRecord.h"

#include <QByteArray>

namespace {

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && text[n - 1] == QLatin1Char(' ')) --n;
  return text.left(n);
}

}  // namespace

QString TaskRecord::Fingerprint() const {
  // Line ends do not count: other tools write a note's lines with LF alone, and a task whose
  // note only changed its line ends has not changed for anyone who reads it.
  QString note = this->note;
  note.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  const QString fields[] = {TrimRight(date), TrimRight(time), TrimRight(descript), TrimRight(note),
                            done ? QStringLiteral("T") : QStringLiteral("F"), TrimRight(keys),
                            TrimRight(priority)};
  // FNV-1a, 64 bits: stable across runs and machines, unlike qHash.
  uint64_t h = 14695981039346656037ull;
  for (const QString& field : fields) {
    const QByteArray bytes = field.toUtf8();
    for (char c : bytes) {
      h ^= static_cast<unsigned char>(c);
      h *= 1099511628211ull;
    }
    h ^= 0x1f;  // a separator no field holds, so "ab"+"c" differs from "a"+"bc"
    h *= 1099511628211ull;
  }
  return QStringLiteral("%1").arg(h, 16, 16, QLatin1Char('0'));
}
