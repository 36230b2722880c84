#include "db/Cp1252.h"

namespace {

// Unicode code points of bytes 0x80..0x9F; 0 marks the five bytes the code page leaves unused,
// which decode to the C1 control of the same number so that no byte is lost on a round trip.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int ByteFor(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == c) return 0x80 + i;
    if (kHigh[i] == 0 && c == 0x80 + i) return c;
  }
  return -1;
}

}  // namespace

QString Cp1252::Decode(const char* bytes, int length) {
  QString out(length, Qt::Uninitialized);
  QChar* d = out.data();
  for (int i = 0; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    char16_t c = b;
    if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) c = kHigh[b - 0x80];
    d[i] = QChar(c);
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
