#include "store/IniDocument.h"

#include <QStringDecoder>

namespace {

// Blanks and tabs around names and values do not count, as in every private-profile reader.
QString TrimBlanks(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.mid(first, last - first);
}

QString DecodeLine(const QByteArray& raw) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(raw);
  if (!utf8.hasError()) return text;
  // Settings written on the program's original platform are in the Windows code page.
  QStringDecoder ansi("windows-1252");
  if (ansi.isValid()) return ansi.decode(raw);
  return QString::fromLatin1(raw);
}

QByteArray EncodeLine(const QString& text) {
  return text.toUtf8();
}

bool HasLineBreak(const QString& text) {
  return text.contains(u'\n') || text.contains(u'\r');
}

}  // namespace

IniDocument IniDocument::Parse(const QByteArray& bytes) {
  IniDocument doc;
  if (bytes.isEmpty()) return doc;
  if (bytes.contains("\r\n")) doc.lineEnd_ = "\r\n";
  QList<QByteArray> raws = bytes.split('\n');
  doc.finalLineEnd_ = raws.last().isEmpty();
  if (doc.finalLineEnd_) raws.removeLast();
  doc.lines_.reserve(raws.size());
  for (QByteArray& raw : raws) {
    if (raw.endsWith('\r')) raw.chop(1);
    doc.lines_.append(Classify(raw));
  }
  return doc;
}

QByteArray IniDocument::ToBytes() const {
  QByteArray out;
  for (qsizetype i = 0; i < lines_.size(); ++i) {
    if (i > 0) out += lineEnd_;
    out += lines_[i].raw;
  }
  if (!lines_.isEmpty() && finalLineEnd_) out += lineEnd_;
  return out;
}

IniDocument::Line IniDocument::Classify(const QByteArray& raw) {
  Line line;
  line.raw = raw;
  const QString text = TrimBlanks(DecodeLine(raw));
  if (text.startsWith(u'[')) {
    qsizetype close = text.indexOf(u']');
    line.section = TrimBlanks(close < 0 ? text.mid(1) : text.mid(1, close - 1));
    line.isSection = true;
    return line;
  }
  if (text.startsWith(u';')) return line;
  qsizetype eq = text.indexOf(u'=');
  if (eq <= 0) return line;
  line.key = TrimBlanks(text.left(eq));
  line.isSetting = !line.key.isEmpty();
  return line;
}

int IniDocument::FindSection(const QString& section) const {
  const QString wanted = TrimBlanks(section);
  for (qsizetype i = 0; i < lines_.size(); ++i) {
    if (lines_[i].isSection && lines_[i].section.compare(wanted, Qt::CaseInsensitive) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int IniDocument::SectionEnd(int header) const {
  qsizetype i = header + 1;
  while (i < lines_.size() && !lines_[i].isSection) ++i;
  return static_cast<int>(i);
}

int IniDocument::FindKey(int header, const QString& key) const {
  const QString wanted = TrimBlanks(key);
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    if (lines_[i].isSetting && lines_[i].key.compare(wanted, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

std::optional<QString> IniDocument::Value(const QString& section, const QString& key) const {
  const int header = FindSection(section);
  if (header < 0) return std::nullopt;
  const int at = FindKey(header, key);
  if (at < 0) return std::nullopt;
  const QString text = DecodeLine(lines_[at].raw);
  QString value = TrimBlanks(text.mid(text.indexOf(u'=') + 1));
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.mid(1, value.size() - 2);
  }
  return value;
}

bool IniDocument::HasSection(const QString& section) const {
  return FindSection(section) >= 0;
}

QList<QString> IniDocument::SectionNames() const {
  QList<QString> names;
  for (const Line& line : lines_) {
    if (!line.isSection) continue;
    bool seen = false;
    for (const QString& name : names)
      seen = seen || name.compare(line.section, Qt::CaseInsensitive) == 0;
    if (!seen) names.append(line.section);
  }
  return names;
}

QList<QString> IniDocument::KeyNames(const QString& section) const {
  QList<QString> names;
  const int header = FindSection(section);
  if (header < 0) return names;
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    if (lines_[i].isSetting) names.append(lines_[i].key);
  }
  return names;
}

bool IniDocument::IsValidSectionName(const QString& section) {
  return !TrimBlanks(section).isEmpty() && !section.contains(u']') && !HasLineBreak(section);
}

bool IniDocument::IsValidKeyName(const QString& key) {
  const QString trimmed = TrimBlanks(key);
  return !trimmed.isEmpty() && !key.contains(u'=') && !HasLineBreak(key) &&
         !trimmed.startsWith(u'[') && !trimmed.startsWith(u';');
}

bool IniDocument::IsValidValue(const QString& value) {
  return !HasLineBreak(value);
}

bool IniDocument::SetValue(const QString& section, const QString& key, const QString& value) {
  if (!IsValidSectionName(section) || !IsValidKeyName(key) || !IsValidValue(value)) return false;
  const QString keyName = TrimBlanks(key);
  int header = FindSection(section);
  if (header < 0) {
    if (!lines_.isEmpty() && !TrimBlanks(DecodeLine(lines_.last().raw)).isEmpty()) {
      lines_.append(Classify(QByteArray()));
    }
    lines_.append(Classify(EncodeLine(u'[' + TrimBlanks(section) + u']')));
    lines_.append(Classify(EncodeLine(keyName + u'=' + value)));
    finalLineEnd_ = true;
    return true;
  }
  const int at = FindKey(header, keyName);
  if (at >= 0) {
    // The file's own spelling of the key stays, so that a user's capitals are not undone.
    lines_[at] = Classify(EncodeLine(lines_[at].key + u'=' + value));
    return true;
  }
  int insertAt = header + 1;
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    if (lines_[i].isSetting) insertAt = i + 1;
  }
  if (insertAt == lines_.size()) finalLineEnd_ = true;
  lines_.insert(insertAt, Classify(EncodeLine(keyName + u'=' + value)));
  return true;
}

bool IniDocument::RemoveKey(const QString& section, const QString& key) {
  const int header = FindSection(section);
  if (header < 0) return false;
  const int at = FindKey(header, key);
  if (at < 0) return false;
  lines_.removeAt(at);
  return true;
}
