#pragma once

#include <QByteArray>
#include <QString>

// The task files hold single-byte Windows-1252 text. Conversion to and from Qt strings happens
// here, at the edge of the data layer; the code page's table itself is the engine's
// (xb::Windows1252), shared with the tools.
class Cp1252 {
 public:
  static QString Decode(const char* bytes, int length);
  static QString Decode(const QByteArray& bytes) { return Decode(bytes.constData(), int(bytes.size())); }
  // False when `text` holds a character the code page has no byte for; `out` then holds the
  // text with "?" in those places, which callers must not store silently.
  static bool Encode(const QString& text, QByteArray* out);
  // The first character of `text` the code page cannot hold, or a null QChar.
  static QChar FirstUnencodable(const QString& text);
};
