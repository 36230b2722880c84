#include "store/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <utility>

#include "platform/UserMessages.h"

namespace {

// Reads the whole file; nothing when it exists but cannot be read (a directory, no permission),
// so that a writer does not mistake it for an empty file and replace what it holds.
std::optional<QByteArray> ReadBytes(const QString& path) {
  QFileInfo info(path);
  if (!info.exists()) return QByteArray();
  QFile file(path);
  if (!info.isFile() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

IniDocument IniFile::Read() const {
  std::optional<QByteArray> bytes = ReadBytes(path_);
  return bytes ? IniDocument::Parse(*bytes) : IniDocument();
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
  return Read().Value(section, key).value_or(defaultValue);
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  std::optional<QString> text = Read().Value(section, key);
  if (!text) return defaultValue;
  return ParseInteger(*text).value_or(defaultValue);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::SectionExists(const QString& section) const {
  return Read().HasSection(section);
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
  return Read().Value(section, key).has_value();
}

std::optional<int> IniFile::ParseInteger(const QString& text) {
  qsizetype pos = 0;
  int base = 10;
  bool negative = false;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    pos = 2;
  } else if (!text.isEmpty() && (text[0] == u'-' || text[0] == u'+')) {
    negative = text[0] == u'-';
    pos = 1;
  }
  if (pos >= text.size()) return std::nullopt;
  // Accumulated as a magnitude so that the lowest int reads too; anything past the range of int
  // is not a number the program could have written.
  const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                   : std::numeric_limits<int>::max();
  long long magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const char16_t c = text[pos].unicode();
    int value = -1;
    if (c >= u'0' && c <= u'9') {
      value = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      value = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      value = c - u'A' + 10;
    }
    if (value < 0) return std::nullopt;
    magnitude = magnitude * base + value;
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

bool IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  return Update([&](IniDocument& doc) { return doc.SetValue(section, key, value); });
}

bool IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool IniFile::WriteBool(const QString& section, const QString& key, bool value) {
  return WriteString(section, key, FormatBool(value));
}

bool IniFile::DeleteKey(const QString& section, const QString& key) {
  return Update([&](IniDocument& doc) {
    doc.RemoveKey(section, key);
    return true;
  });
}

bool IniFile::MayWrite() const {
  QFileInfo info(path_);
  if (!info.exists()) return true;
  if (!info.isFile()) return false;
  // A file without any write permission bit is read-only even for the administrator, as the
  // read-only attribute is elsewhere: replacing it by a rename would otherwise succeed. (The
  // "user" bits tell what this process may do, which for the administrator is everything.)
  const QFile::Permissions writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
  if ((info.permissions() & writeBits) == 0) return false;
  return info.isWritable();
}

bool IniFile::Fail() const {
  UserMessages::ShowInformation(QStringLiteral("Unable to write to %1").arg(path_));
  return false;
}

bool IniFile::Update(const std::function<bool(IniDocument&)>& change) {
  if (!MayWrite()) return Fail();
  std::optional<QByteArray> bytes = ReadBytes(path_);
  if (!bytes) return Fail();
  IniDocument doc = IniDocument::Parse(*bytes);
  if (!change(doc)) return Fail();
  const QByteArray out = doc.ToBytes();
  if (out == *bytes) return true;  // nothing changed: the file stays as it is
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return Fail();
  if (file.write(out) != out.size()) {
    file.cancelWriting();
    file.commit();
    return Fail();
  }
  if (!file.commit()) return Fail();
  return true;
}
