#include "ExprConvert.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "Calendar.h"

namespace xb::exprconv {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Writes |value| rounded to `decimals` places, with a '-' only when a non-zero digit remains,
// into `out` (kMaxNumberText bytes). Returns the length, or -1 for a value that is not finite.
//
// The rounding works on the shortest decimal text that reads back as the same double, so a
// value read from "2.675" rounds to "2.68" as a person expects, not to the "2.67" that the
// binary value 2.67499999... would give.
int RoundedText(double value, int decimals, char* out) {
  if (!std::isfinite(value)) return -1;
  char shortest[kMaxNumberText];
  auto res = std::to_chars(shortest, shortest + sizeof shortest, std::fabs(value),
                           std::chars_format::fixed);
  if (res.ec != std::errc()) return -1;  // cannot happen for finite doubles in 400 bytes
  const char* end = res.ptr;
  const char* dot = static_cast<const char*>(std::memchr(shortest, '.', end - shortest));
  const char* int_end = dot ? dot : end;
  const char* frac = dot ? dot + 1 : end;
  size_t int_len = static_cast<size_t>(int_end - shortest);
  size_t frac_len = static_cast<size_t>(end - frac);

  // digits[0] is a spare place for a carry out of the leading digit.
  char digits[kMaxNumberText + 32];
  size_t n = 0;
  digits[n++] = '0';
  std::memcpy(digits + n, shortest, int_len);
  n += int_len;
  for (int i = 0; i < decimals; ++i) {
    digits[n++] = static_cast<size_t>(i) < frac_len ? frac[i] : '0';
  }
  if (static_cast<size_t>(decimals) < frac_len && frac[decimals] >= '5') {
    size_t i = n;
    while (i > 0) {
      --i;
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
  }
  size_t first = 0;
  size_t int_digits = int_len + 1;
  while (int_digits > 1 && digits[first] == '0') {  // keep one integer digit
    ++first;
    --int_digits;
  }
  bool nonzero = false;
  for (size_t i = first; i < n; ++i) nonzero |= digits[i] != '0';

  int len = 0;
  if (value < 0 && nonzero) out[len++] = '-';
  std::memcpy(out + len, digits + first, int_digits);
  len += static_cast<int>(int_digits);
  if (decimals > 0) {
    out[len++] = '.';
    std::memcpy(out + len, digits + first + int_digits, static_cast<size_t>(decimals));
    len += decimals;
  }
  return len;
}

}  // namespace

double ParseNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  // from_chars would also take "nan" and "inf"; a number here starts with a digit or ".digit".
  if (i >= text.size()) return 0;
  if (!IsDigit(text[i]) && !(text[i] == '.' && i + 1 < text.size() && IsDigit(text[i + 1]))) {
    return 0;
  }
  double value = 0;
  auto res =
      std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::fixed);
  if (res.ec != std::errc() || !std::isfinite(value)) return 0;
  return negative ? -value : value;
}

double DateFromText(const char* p) {
  for (int i = 0; i < 8; ++i) {
    if (!IsDigit(p[i])) return 0;
  }
  int year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  int month = (p[4] - '0') * 10 + (p[5] - '0');
  int day = (p[6] - '0') * 10 + (p[7] - '0');
  if (!calendar::IsValidDate(year, month, day)) return 0;
  return static_cast<double>(calendar::JulianDay(year, month, day));
}

void DateToText(double day_number, char* out) {
  if (!(day_number >= static_cast<double>(calendar::kFirstDay) &&
        day_number <= static_cast<double>(calendar::kLastDay))) {
    std::memset(out, ' ', 8);
    return;
  }
  const calendar::Date date = calendar::FromJulianDay(static_cast<int64_t>(day_number));
  const int64_t year = date.year;
  const int month = date.month;
  const int day = date.day;
  out[0] = static_cast<char>('0' + year / 1000);
  out[1] = static_cast<char>('0' + year / 100 % 10);
  out[2] = static_cast<char>('0' + year / 10 % 10);
  out[3] = static_cast<char>('0' + year % 10);
  out[4] = static_cast<char>('0' + month / 10);
  out[5] = static_cast<char>('0' + month % 10);
  out[6] = static_cast<char>('0' + day / 10);
  out[7] = static_cast<char>('0' + day % 10);
}

void FormatStr(double value, int width, int decimals, char* out) {
  char text[kMaxNumberText];
  for (int d = decimals; d >= 0; --d) {
    int len = RoundedText(value, d, text);
    if (len < 0) break;
    if (len <= width) {
      std::memset(out, ' ', static_cast<size_t>(width - len));
      std::memcpy(out + (width - len), text, static_cast<size_t>(len));
      return;
    }
  }
  std::memset(out, '*', static_cast<size_t>(width));
}

int FormatNumberWide(double value, int width, int decimals, char* out) {
  char text[kMaxNumberText];
  int len = RoundedText(value, decimals, text);
  if (len < 0) {
    std::memset(out, '*', static_cast<size_t>(width));
    return width;
  }
  int pad = width > len ? width - len : 0;
  std::memset(out, ' ', static_cast<size_t>(pad));
  std::memcpy(out + pad, text, static_cast<size_t>(len));
  return pad + len;
}

void EncodeNumericKey(double value, uint8_t* out) {
  if (value == 0 || std::isnan(value)) value = 0.0;  // folds -0 into +0
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits >> 63) {
    bits = ~bits;
  } else {
    bits |= uint64_t{1} << 63;
  }
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(bits & 0xFF);
    bits >>= 8;
  }
}

int ClampToInt(double value, int lo, int hi) {
  if (std::isnan(value) || value <= lo) return lo;
  if (value >= hi) return hi;
  return static_cast<int>(value);
}

}  // namespace xb::exprconv
