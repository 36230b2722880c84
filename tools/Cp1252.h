#pragma once

#include <string>
#include <string_view>

// Conversion between the tables' single-byte text (Windows-1252) and UTF-8.
//
// Every byte has a Unicode character, so reading never fails: the five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same number, which lets
// such bytes survive a round trip. Writing refuses text that is not valid UTF-8 or that holds a
// character without a Windows-1252 byte, so nothing is stored as a silent substitute.
class Cp1252 {
 public:
  // The Unicode character of one Windows-1252 byte.
  static char32_t ToUnicode(unsigned char byte);
  // The Windows-1252 byte of `c`; false when there is none.
  static bool FromUnicode(char32_t c, unsigned char* byte);

  static std::string ToUtf8(std::string_view bytes);
  // Converts UTF-8 text. On failure returns false, leaves `out` unspecified and sets `problem` to
  // a sentence naming the first offending character (or byte, for malformed UTF-8).
  static bool FromUtf8(std::string_view utf8, std::string* out, std::string* problem);
};
