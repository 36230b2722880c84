#include "db/Cp1252.h"

#include "Windows1252.h"

namespace {

// The code page's byte for a UTF-16 unit, or -1. The five bytes the code page leaves unused
// decode to the C1 control of the same number, so that no byte is lost on a round trip.
int ByteFor(char16_t c) {
  unsigned char b = 0;
  return xb::Windows1252::FromUnicode(c, &b) ? b : -1;
}

}  // namespace

QString Cp1252::Decode(const char* bytes, int length) {
  QString out(length, Qt::Uninitialized);
  QChar* d = out.data();
  for (int i = 0; i < length; ++i) {
    d[i] = QChar(static_cast<char16_t>(
        xb::Windows1252::ToUnicode(static_cast<unsigned char>(bytes[i]))));
  }
  return out;
}

bool Cp1252::Encode(const QString& text, QByteArray* out) {
  out->resize(text.size());
  bool all = true;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const int b = ByteFor(text[i].unicode());
    if (b < 0) all = false;
    (*out)[i] = static_cast<char>(b < 0 ? '?' : b);
  }
  return all;
}

QChar Cp1252::FirstUnencodable(const QString& text) {
  for (QChar c : text)
    if (ByteFor(c.unicode()) < 0) return c;
  return QChar();
}
