#pragma once

#include <cstdint>
#include <string>

namespace xb {

// One field of a table as the engine sees it. `offset` counts from the start of the record
// image, where byte 0 is the deletion mark, so the first field has offset 1.
struct FieldDef {
  std::string name;  // upper case, at most 10 characters
  char type = 'C';   // C, N, F, L, D, M (G and P are read as memo-like blobs)
  int width = 0;
  int decimals = 0;
  int offset = 0;
};

}  // namespace xb
