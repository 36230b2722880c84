#pragma once

#include <cctype>
#include <string>

namespace xb {

// Upper case of names (fields, aliases, tags), which are plain ASCII.
inline std::string UpperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace xb
