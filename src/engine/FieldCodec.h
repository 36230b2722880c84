#pragma once

#include <string>
#include <string_view>

namespace xb {

// The stored forms of field values: how text becomes the bytes of a field and bytes become text.
// The rules every writer shares (the number, date and logical grammars and their canonical
// bytes) are the small static functions; Encode and Decode are the strict whole-field forms the
// tools use (nothing cut, rounded or reinterpreted). Text on both sides is in the table's code
// page (Windows-1252); memo fields are not handled here, their text is stored as it is.
class FieldCodec {
 public:
  // A decimal number as written: an optional sign, digits, an optional point and digits, with at
  // least one digit. The views point into the parsed text.
  struct Decimal {
    bool negative = false;
    std::string_view whole;
    std::string_view fraction;
  };
  // False when `text` (without surrounding blanks) is not such a number.
  static bool ParseDecimal(std::string_view text, Decimal* out);
  // The field text of `number` with exactly `decimals` places, built digit by digit so that a
  // 20-digit value keeps every digit: no leading zeros, no sign on zero. Requires
  // number.fraction.size() <= decimals.
  static std::string DecimalText(const Decimal& number, int decimals);
  // Eight digits that name a real day of the years 1 to 9999.
  static bool IsDateText(std::string_view yyyymmdd);

  struct Field {
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
  };

  // Whether append can write fields of this type.
  static bool CanEncode(char type);
  // The stored bytes (exactly `f.width` of them) for `value`. An empty value stores a blank
  // field. Values that would be cut, rounded or reinterpreted are refused with a message.
  static bool Encode(const Field& f, std::string_view value, std::string* stored,
                     std::string* error);

  // The dump text of the stored bytes of a non-memo field. False with a message when the bytes
  // are not a value of the field's type; `text` is then empty.
  static bool Decode(const Field& f, std::string_view stored, std::string* text,
                     std::string* error);
};

}  // namespace xb
