#include "platform/BlankText.h"

QString BlankText::TrimLeading(const QString& text) {
  qsizetype first = 0;
  while (first < text.size() && text[first] == u' ') ++first;
  return text.mid(first);
}

QString BlankText::TrimTrailing(const QString& text) {
  qsizetype last = text.size();
  while (last > 0 && text[last - 1] == u' ') --last;
  return text.left(last);
}

QString BlankText::TrimBoth(const QString& text) { return TrimLeading(TrimTrailing(text)); }

void BlankText::Split(const QString& text, QChar separator, QStringList* pieces) {
  pieces->append(text.split(separator, Qt::KeepEmptyParts));
}
