#pragma once

#include <string>
#include <string_view>

namespace xb {

// The tables' single-byte text (Windows-1252) and its Unicode characters; the one table of the
// code page for the engine, the tools and the program (which wraps it for QString).
//
// Every byte has a Unicode character, so reading never fails: the five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same number, which lets
// such bytes survive a round trip. Writing refuses text that is not valid UTF-8 or that holds a
// character without a Windows-1252 byte, so nothing is stored as a silent substitute.
class Windows1252 {
 public:
  // 0x80-0x9F are the only bytes whose character differs from the byte's own value.
  static constexpr char32_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
  };

  // The Unicode character of one Windows-1252 byte. Inline: the program decodes every field
  // it shows through it.
  static constexpr char32_t ToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
  }
  // The Windows-1252 byte of `c`; false when there is none.
  static bool FromUnicode(char32_t c, unsigned char* byte);

  static std::string ToUtf8(std::string_view bytes);
  // Converts UTF-8 text. On failure returns false, leaves `out` unspecified and sets `problem` to
  // a sentence naming the first offending character (or byte, for malformed UTF-8).
  static bool FromUtf8(std::string_view utf8, std::string* out, std::string* problem);
};

}  // namespace xb
