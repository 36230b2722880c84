#include "widgets/TPopupHelpData.h"

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

TPopupHelpData::TPopupHelpData(const QString& text, quint32 help_context)
    : help_context_(help_context) {
  SetText(text);
}

QString TPopupHelpData::Text() const {
  return raw_text_ ? Decode(*raw_text_) : QString();
}

bool TPopupHelpData::SetText(const QString& text) {
  const std::optional<QByteArray> bytes = Encode(text);
  if (!bytes) return false;
  return SetRawText(*bytes);
}

bool TPopupHelpData::SetRawText(const QByteArray& bytes) {
  if (bytes.size() > kMaxTextBytes) return false;
  raw_text_ = bytes;
  return true;
}

QString TPopupHelpData::Decode(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) {
      out += QChar(kHigh[b - 0x80]);
    } else {
      out += QChar(b);  // the undefined bytes pass through as the C1 controls, as Windows does
    }
  }
  return out;
}

std::optional<QByteArray> TPopupHelpData::Encode(const QString& text) {
  QByteArray out;
  out.reserve(text.size());
  for (const QChar ch : text) {
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out += static_cast<char>(u);
      continue;
    }
    int found = -1;
    for (int i = 0; i < 32; ++i) {
      if (kHigh[i] == u || (kHigh[i] == 0 && u == 0x80 + i)) {
        found = i;
        break;
      }
    }
    if (found < 0) return std::nullopt;
    out += static_cast<char>(0x80 + found);
  }
  return out;
}
