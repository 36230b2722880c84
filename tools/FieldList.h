#pragma once

#include <string>
#include <string_view>
#include <vector>

// One field of a table to be created, as the user wrote it.
struct FieldSpec {
  std::string name;  // upper case
  char type = 'C';   // upper case
  int width = 0;
  int decimals = 0;
};

// The field list of `xbtool create`: entries separated by commas, each "NAME TYPE WIDTH [DEC]",
// for example "DATE C 8 0, NOTE M 10, DONE L 1, PRICE N 8 2". L, D and M fields have a fixed
// width, so theirs may be left out; when given it must be that width.
class FieldList {
 public:
  // False with a message naming the entry when the list is not one a table can have.
  static bool Parse(std::string_view text, std::vector<FieldSpec>* out, std::string* error);
};
