#include "CdxHeader.h"

#include <cstring>

#include "CdxTypes.h"

namespace xb {

namespace {

constexpr size_t kOrderAt = 502;
constexpr size_t kForStartAt = 504;
constexpr size_t kForLengthAt = 506;
constexpr size_t kKeyStartAt = 508;
constexpr size_t kKeyLengthAt = 510;
constexpr size_t kPoolAt = 512;
// Bytes 16-23 carry writer-specific values in some files and mean nothing; bytes from 24 up
// to the order word are where other tools keep collation data.
constexpr size_t kCollationFrom = 24;

// Reads one zero-terminated expression out of the pool.
Status ReadExpression(const uint8_t* pool, uint16_t start, uint16_t length, const char* which,
                      const CdxWhere& where, std::string* out) {
  if (length == 0 || size_t{start} + length > CdxHeader::kPoolSize) {
    return where.Corrupt(std::string("the ") + which + " expression lies outside the header");
  }
  if (pool[start + length - 1] != 0) {
    return where.Corrupt(std::string("the ") + which + " expression is not terminated");
  }
  const char* text = reinterpret_cast<const char*>(pool + start);
  out->assign(text, strnlen(text, length));
  return Status::Ok();
}

}  // namespace

CdxHeader CdxHeader::ForTagList(uint32_t root) {
  CdxHeader h;
  h.root = root;
  h.key_length = kCdxTagNameLength;
  h.options = kCdxOptTagList | kCdxOptCompound | kCdxOptCompact;
  return h;
}

void CdxHeader::EncodeTo(uint8_t* out) const {
  std::memset(out, 0, kCdxHeaderSize);
  CdxPutLE32(out + 0, root);
  CdxPutLE32(out + 4, free_list);
  CdxPutLE32(out + 8, version);
  CdxPutLE16(out + 12, key_length);
  out[14] = options;
  out[15] = signature;
  CdxPutLE16(out + kOrderAt, descending ? 1 : 0);
  const uint16_t key_size = static_cast<uint16_t>(key_expression.size() + 1);
  const uint16_t for_size = static_cast<uint16_t>(for_expression.size() + 1);
  CdxPutLE16(out + kForStartAt, key_size);
  CdxPutLE16(out + kForLengthAt, for_size);
  CdxPutLE16(out + kKeyStartAt, 0);
  CdxPutLE16(out + kKeyLengthAt, key_size);
  std::memcpy(out + kPoolAt, key_expression.data(), key_expression.size());
  std::memcpy(out + kPoolAt + key_size, for_expression.data(), for_expression.size());
}

Status CdxHeader::DecodeFrom(const uint8_t* in, const CdxWhere& where, bool tag_list) {
  root = CdxGetLE32(in + 0);
  free_list = CdxGetLE32(in + 4);
  version = CdxGetLE32(in + 8);
  key_length = CdxGetLE16(in + 12);
  options = in[14];
  signature = in[15];
  if ((options & (kCdxOptCompact | kCdxOptCompound)) != (kCdxOptCompact | kCdxOptCompound)) {
    return where.Corrupt("the header does not describe a compact compound index");
  }
  if (tag_list) {
    if ((options & kCdxOptTagList) == 0) {
      return where.Corrupt("the first header is not a tag list");
    }
    if (key_length != kCdxTagNameLength) {
      return where.Corrupt("the tag list has key length " + std::to_string(key_length) +
                           " instead of 10");
    }
  } else {
    if ((options & kCdxOptTagList) != 0) {
      return where.Corrupt("a tag header is marked as a tag list");
    }
    if (key_length == 0 || key_length > kCdxMaxKeyLength) {
      return where.Corrupt("the key length " + std::to_string(key_length) +
                           " is outside 1-240");
    }
  }
  uint16_t order = CdxGetLE16(in + kOrderAt);
  if (order > 1) return where.Corrupt("the order word is " + std::to_string(order));
  descending = order == 1;
  Status s = ReadExpression(in + kPoolAt, CdxGetLE16(in + kKeyStartAt),
                            CdxGetLE16(in + kKeyLengthAt), "key", where, &key_expression);
  if (!s.ok()) return s;
  s = ReadExpression(in + kPoolAt, CdxGetLE16(in + kForStartAt), CdxGetLE16(in + kForLengthAt),
                     "FOR", where, &for_expression);
  if (!s.ok()) return s;
  if (!tag_list && key_expression.empty()) return where.Corrupt("the key expression is empty");
  unknown_collation = false;
  for (size_t i = kCollationFrom; i < kOrderAt; ++i) {
    if (in[i] != 0) unknown_collation = true;
  }
  return Status::Ok();
}

}  // namespace xb
