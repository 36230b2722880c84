#include "CdxWhere.h"

#include <cstdio>

namespace xb {

std::string CdxWhere::Hex(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(value));
  return buf;
}

std::string CdxWhere::Describe() const {
  std::string text = *file_;
  if (!tag_->empty()) text += ": tag " + *tag_;
  if (what_ != nullptr && *what_ != '\0') {
    text += tag_->empty() ? ": " : ", ";
    text += what_;
    text += " at " + Hex(offset_);
  }
  return text;
}

Status CdxWhere::Corrupt(const std::string& problem) const {
  return Status::Corrupt(Describe() + ": " + problem + "; the index needs rebuilding");
}

}  // namespace xb
