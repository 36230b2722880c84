#include "FieldCodec.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Calendar.h"

namespace xb {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

bool AllDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Decimal numbers are rewritten digit by digit rather than through a double, so a 20-digit
// value keeps every digit. Decimals past the field's are refused unless they are zeros.
bool EncodeNumber(const FieldCodec::Field& f, std::string_view value, std::string* stored,
                  std::string* error) {
  FieldCodec::Decimal number;
  if (!FieldCodec::ParseDecimal(value, &number)) {
    *error = "'" + std::string(value) +
             "' is not a number (write digits, optionally with a sign "
             "and a decimal point)";
    return false;
  }
  const size_t decimals = static_cast<size_t>(f.decimals);
  if (number.fraction.size() > decimals) {
    if (number.fraction.substr(decimals).find_first_not_of('0') != std::string_view::npos) {
      *error = "'" + std::string(value) + "' has more than " + std::to_string(f.decimals) +
               " decimal" + (f.decimals == 1 ? "" : "s");
      return false;
    }
    number.fraction = number.fraction.substr(0, decimals);
  }
  const std::string text = FieldCodec::DecimalText(number, f.decimals);
  if (text.size() > static_cast<size_t>(f.width)) {
    *error = "'" + std::string(value) + "' needs " + std::to_string(text.size()) +
             " characters; the field holds " + std::to_string(f.width);
    return false;
  }
  *stored = std::string(static_cast<size_t>(f.width) - text.size(), ' ') + text;
  return true;
}

bool EncodeLogical(std::string_view value, std::string* stored, std::string* error) {
  const std::string v = Lower(value);
  if (v == "t" || v == "y" || v == "true" || v == "yes") {
    *stored = "T";
  } else if (v == "f" || v == "n" || v == "false" || v == "no") {
    *stored = "F";
  } else {
    *error = "'" + std::string(value) + "' is not a logical value (T, F, Y, N, true, false)";
    return false;
  }
  return true;
}

bool EncodeDate(std::string_view value, std::string* stored, std::string* error) {
  if (!FieldCodec::IsDateText(value)) {
    *error = "'" + std::string(value) + "' is not a date in the form yyyymmdd";
    return false;
  }
  *stored = std::string(value);
  return true;
}

template <typename T>
T LittleEndian(std::string_view b) {
  uint64_t v = 0;
  for (size_t i = sizeof(T); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[i]);
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &v, sizeof out);
  } else {
    uint32_t v32 = static_cast<uint32_t>(v);
    std::memcpy(&out, &v32, sizeof out);
  }
  return out;
}

// Date-times are a Julian day number and the milliseconds since midnight. False when the numbers
// are not a time of day on a day from 4713 BC to 9999 AD.
bool DateTimeText(int32_t julian, int32_t ms, std::string* text) {
  text->clear();
  if (julian == 0 && ms == 0) return true;
  if (julian < 1 || julian > 5373484 || ms < 0 || ms >= 86400000) return false;
  const calendar::Date date = calendar::FromJulianDay(julian);
  const int64_t year = date.year;
  const int64_t month = date.month;
  const int64_t day = date.day;
  const int64_t secs = ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(secs / 3600),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  *text = buf;
  if (ms % 1000 != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(ms % 1000));
    *text += buf;
  }
  return true;
}

}  // namespace

bool FieldCodec::ParseDecimal(std::string_view text, Decimal* out) {
  std::string_view v = text;
  out->negative = false;
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
    out->negative = v[0] == '-';
    v.remove_prefix(1);
  }
  const size_t point = v.find('.');
  out->whole = v.substr(0, point);
  out->fraction = point == std::string_view::npos ? std::string_view() : v.substr(point + 1);
  return !(out->whole.empty() && out->fraction.empty()) && AllDigits(out->whole) &&
         AllDigits(out->fraction);
}

std::string FieldCodec::DecimalText(const Decimal& number, int decimals) {
  std::string_view whole = number.whole;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  if (whole.empty()) whole = "0";
  std::string text(whole);
  if (decimals > 0) {
    text += '.';
    text += number.fraction;
    text.append(static_cast<size_t>(decimals) - number.fraction.size(), '0');
  }
  const bool zero = text.find_first_not_of("0.") == std::string::npos;
  if (number.negative && !zero) text.insert(text.begin(), '-');
  return text;
}

bool FieldCodec::IsDateText(std::string_view v) {
  if (v.size() != 8 || !AllDigits(v)) return false;
  const auto digits = [&](size_t at, size_t n) {
    int value = 0;
    for (size_t i = at; i < at + n; ++i) value = value * 10 + (v[i] - '0');
    return value;
  };
  return calendar::IsValidDate(digits(0, 4), digits(4, 2), digits(6, 2));
}

bool FieldCodec::CanEncode(char type) {
  return std::strchr("CNFLD", type) != nullptr && type;
}

bool FieldCodec::Encode(const Field& f, std::string_view value, std::string* stored,
                        std::string* error) {
  const size_t width = static_cast<size_t>(f.width);
  if (value.empty()) {
    *stored = std::string(width, ' ');
    return true;
  }
  switch (f.type) {
    case 'C':
      if (value.size() > width) {
        *error = "the text has " + std::to_string(value.size()) + " characters; the field holds " +
                 std::to_string(f.width);
        return false;
      }
      *stored = std::string(value) + std::string(width - value.size(), ' ');
      return true;
    case 'N':
    case 'F':
      return EncodeNumber(f, value, stored, error);
    case 'L':
      return EncodeLogical(value, stored, error);
    case 'D':
      return EncodeDate(value, stored, error);
    default:
      *error = std::string("fields of type ") + f.type + " cannot be set here";
      return false;
  }
}

bool FieldCodec::Decode(const Field& f, std::string_view stored, std::string* text,
                        std::string* error) {
  text->clear();
  switch (f.type) {
    case 'C': {
      // Some writers pad with NUL bytes instead of blanks.
      const size_t end = stored.find_last_not_of(std::string_view(" \0", 2));
      *text =
          end == std::string_view::npos ? std::string() : std::string(stored.substr(0, end + 1));
      return true;
    }
    case 'N':
    case 'F':
    case 'D':
      *text = std::string(TrimBlanks(stored));
      return true;
    case 'L': {
      const char c = stored.empty() ? ' ' : stored[0];
      if (std::strchr("TtYy", c) && c) {
        *text = "T";
      } else if (std::strchr("FfNn", c) && c) {
        *text = "F";
      } else if (c != ' ' && c != '?' && c != 0) {
        *error = "invalid logical value '" + std::string(1, c) + "'";
        return false;
      }
      return true;
    }
    case 'I':
      if (stored.size() != 4) break;
      *text = std::to_string(LittleEndian<int32_t>(stored));
      return true;
    case 'Y': {
      if (stored.size() != 8) break;
      // Currency: a 64-bit count of ten-thousandths.
      const int64_t v = LittleEndian<int64_t>(stored);
      const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      char buf[40];
      std::snprintf(buf, sizeof buf, "%s%llu.%04llu", v < 0 ? "-" : "",
                    static_cast<unsigned long long>(mag / 10000),
                    static_cast<unsigned long long>(mag % 10000));
      *text = buf;
      return true;
    }
    case 'B': {
      if (stored.size() != 8) break;
      char buf[40];
      auto r = std::to_chars(buf, buf + sizeof buf, LittleEndian<double>(stored));
      *text = std::string(buf, r.ptr);
      return true;
    }
    case 'T':
      if (stored.size() != 8) break;
      if (DateTimeText(LittleEndian<int32_t>(stored.substr(0, 4)),
                       LittleEndian<int32_t>(stored.substr(4, 4)), text))
        return true;
      *error = "invalid date-time";
      return false;
    default:
      *error = std::string("fields of type ") + f.type + " cannot be shown";
      return false;
  }
  *error = std::string("a field of type ") + f.type + " with width " + std::to_string(f.width) +
           " cannot be read";
  return false;
}

}  // namespace xb
