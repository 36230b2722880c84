#include "Windows1252.h"

#include <cstdint>
#include <cstdio>

namespace xb {

namespace {

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one character at `pos`; returns its length in bytes, 0 when the bytes there are not
// well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeUtf8(std::string_view s, size_t pos, char32_t* c) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  size_t len;
  char32_t min;
  if (b0 < 0x80) {
    *c = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    min = 0x80;
    *c = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    min = 0x800;
    *c = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    min = 0x10000;
    *c = b0 & 0x07;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (b & 0x3F);
  }
  if (*c < min || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
  return len;
}

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

bool Windows1252::FromUnicode(char32_t c, unsigned char* byte) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *byte = static_cast<unsigned char>(c);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHigh[i] == c) {
      *byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

std::string Windows1252::ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char b : bytes) AppendUtf8(ToUnicode(static_cast<unsigned char>(b)), &out);
  return out;
}

bool Windows1252::FromUtf8(std::string_view utf8, std::string* out, std::string* problem) {
  out->clear();
  out->reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c;
    const size_t len = DecodeUtf8(utf8, pos, &c);
    if (len == 0) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "is not valid UTF-8 (byte 0x%02X at offset %zu)",
                    static_cast<unsigned char>(utf8[pos]), pos);
      *problem = buf;
      return false;
    }
    unsigned char b;
    if (!FromUnicode(c, &b)) {
      *problem = "holds the character " + CodePoint(c) + " \"" +
                 std::string(utf8.substr(pos, len)) + "\", which Windows-1252 cannot store";
      return false;
    }
    out->push_back(static_cast<char>(b));
    pos += len;
  }
  return true;
}

}  // namespace xb
