#pragma once

#include <QString>

// Text as the HTML and RTF exports write it: the format's special characters escaped, and a
// character the Windows-1252 pages cannot hold kept as a reference instead of lost.
class ExportEscapes {
 public:
  static QString Html(const QString& text);
  static QString Rtf(const QString& text);
};
