#pragma once

// Conversions between the byte forms xBase keeps in records and index keys and the values the
// expression evaluator computes with. Free functions: they hold no state, none allocates.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace xb::exprconv {

// Reads a number the way numeric fields and VAL() hold it: leading blanks, an optional sign,
// digits with an optional decimal point. Reading stops at the first other byte; text with no
// digits (blank fields, "***" overflow marks) is 0. Never NaN or infinite.
double ParseNumber(std::string_view text);

// The day number of an 8-byte 'YYYYMMDD' date field, or 0 (the empty date) when the bytes are
// blank or do not name a real calendar day from year 1 to 9999.
double DateFromText(const char* yyyymmdd);

// Writes 8 bytes: 'YYYYMMDD' for a day number within years 1 to 9999, else 8 blanks (the empty
// date 0 included).
void DateToText(double day_number, char* out);

// The bytes of STR(value, width, decimals): right-aligned in exactly `width` bytes, rounded half
// away from zero on the decimal digits the value was written with. When the number does not fit,
// decimals are given up first; when even the integer part does not fit, `width` asterisks.
// Requires 1 <= width <= kMaxStrWidth and 0 <= decimals <= kMaxStrDecimals.
constexpr int kMaxStrWidth = 255;
constexpr int kMaxStrDecimals = 18;
void FormatStr(double value, int width, int decimals, char* out);

// Like FormatStr, but grows past `width` instead of writing asterisks; returns the length written.
// `out` must hold kMaxNumberText bytes.
constexpr int kMaxNumberText = 400;
int FormatNumberWide(double value, int width, int decimals, char* out);

// The 8-byte index key of a number: big-endian IEEE double with the sign bit set for positive
// values and all bits inverted for negative ones, so unsigned byte order is numeric order.
// -0 is written as +0 and NaN as 0.
void EncodeNumericKey(double value, uint8_t* out);

// Converts a double to an int within [lo, hi], truncating toward zero; NaN gives lo.
int ClampToInt(double value, int lo, int hi);

}  // namespace xb::exprconv
