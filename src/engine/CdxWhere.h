#pragma once

#include <cstdint>
#include <string>

#include "Status.h"

namespace xb {

// Names the place of a problem in an index file: the file, the tag and the page. Decoders get
// one of these and format a message only when something is wrong, so building it is free.
class CdxWhere {
 public:
  CdxWhere(const std::string& file, const std::string& tag, uint32_t offset, const char* what)
      : file_(&file), tag_(&tag), offset_(offset), what_(what) {}

  CdxWhere At(uint32_t offset, const char* what) const {
    return CdxWhere(*file_, *tag_, offset, what);
  }

  // "<file>: tag NAME, leaf page at 0x0A00: <problem>; the index needs rebuilding"
  Status Corrupt(const std::string& problem) const;
  std::string Describe() const;

  static std::string Hex(uint32_t value);

 private:
  const std::string* file_;
  const std::string* tag_;
  uint32_t offset_;
  const char* what_;
};

}  // namespace xb
