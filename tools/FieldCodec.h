#pragma once

#include <string>
#include <string_view>

// How the tool turns command-line values into the stored bytes of a field, and stored bytes into
// the text a dump shows. Text on both sides is in the table's code page (Windows-1252); memo
// fields are not handled here, their text is stored as it is.
class FieldCodec {
 public:
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
