#pragma once

#include <cstdint>
#include <string>

#include "CdxWhere.h"
#include "Status.h"

namespace xb {

// The 1024-byte header of a tree: the tag-list header at offset 0 and every tag's header.
class CdxHeader {
 public:
  uint32_t root = 0;
  uint32_t free_list = 0;  // only meaningful in the tag-list header
  uint32_t version = 0;   // change counter
  uint16_t key_length = 0;
  uint8_t options = 0;
  uint8_t signature = 1;
  bool descending = false;
  std::string key_expression;
  std::string for_expression;
  // Non-zero bytes in the reserved area where other tools keep collation data.
  bool unknown_collation = false;

  static constexpr size_t kPoolSize = 512;

  // The header of the tag list itself (key length 10, empty expressions).
  static CdxHeader ForTagList(uint32_t root);

  // True when both expressions, each with its terminating zero, fit in the pool.
  static bool ExpressionsFit(const std::string& key, const std::string& for_text) {
    return key.size() + 1 + for_text.size() + 1 <= kPoolSize;
  }

  // Writes 1024 bytes. The reserved area is written as zeros.
  void EncodeTo(uint8_t* out) const;
  // Checks the key length, option bits, order word and expression pool. `tag_list` selects the
  // rules of the header at offset 0. The root pointer is checked by the caller, which knows
  // the file size.
  Status DecodeFrom(const uint8_t* in, const CdxWhere& where, bool tag_list);
};

}  // namespace xb
