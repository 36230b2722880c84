#include "report/ExportEscapes.h"

#include "db/Cp1252.h"

namespace {

bool Encodable(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return true;
  return Cp1252::FirstUnencodable(QString(c)).isNull();
}

}  // namespace

QString ExportEscapes::Html(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('&'))
      out += QStringLiteral("&amp;");
    else if (c == QLatin1Char('<'))
      out += QStringLiteral("&lt;");
    else if (c == QLatin1Char('>'))
      out += QStringLiteral("&gt;");
    // A character the page's code page lacks (it can come only from a typed title) is kept
    // as a character reference rather than lost.
    else if (c.unicode() > 127 && !Encodable(c))
      out += QStringLiteral("&#%1;").arg(c.unicode());
    else
      out += c;
  }
  return out;
}

QString ExportEscapes::Rtf(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('\\')) {
      out += QLatin1Char('\\');
      out += c;
    } else if (c.unicode() < 128) {
      out += c;
    } else if (Encodable(c)) {
      QByteArray byte;
      Cp1252::Encode(QString(c), &byte);
      out += QStringLiteral("\\'%1").arg(uchar(byte.at(0)), 2, 16, QLatin1Char('0'));
    } else {
      // Outside the code page: the Unicode escape, with "?" for readers that do not know it.
      out += QStringLiteral("\\u%1?").arg(int(qint16(c.unicode())));
    }
  }
  return out;
}
