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
  h.keyLength = kCdxTagNameLength;
  h.options = kCdxOptTagList | kCdxOptCompound | kCdxOptCompact;
  return h;
}

void CdxHeader::EncodeTo(uint8_t* out) const {
  std::memset(out, 0, kCdxHeaderSize);
  CdxPutLE32(out + 0, root);
  CdxPutLE32(out + 4, freeList);
  CdxPutLE32(out + 8, version);
  CdxPutLE16(out + 12, keyLength);
  out[14] = options;
  out[15] = signature;
  CdxPutLE16(out + kOrderAt, descending ? 1 : 0);
  const uint16_t keySize = static_cast<uint16_t>(keyExpression.size() + 1);
  const uint16_t forSize = static_cast<uint16_t>(forExpression.size() + 1);
  CdxPutLE16(out + kForStartAt, keySize);
  CdxPutLE16(out + kForLengthAt, forSize);
  CdxPutLE16(out + kKeyStartAt, 0);
  CdxPutLE16(out + kKeyLengthAt, keySize);
  std::memcpy(out + kPoolAt, keyExpression.data(), keyExpression.size());
  std::memcpy(out + kPoolAt + keySize, forExpression.data(), forExpression.size());
}

Status CdxHeader::DecodeFrom(const uint8_t* in, const CdxWhere& where, bool tagList) {
  root = CdxGetLE32(in + 0);
  freeList = CdxGetLE32(in + 4);
  version = CdxGetLE32(in + 8);
  keyLength = CdxGetLE16(in + 12);
  options = in[14];
  signature = in[15];
  if ((options & (kCdxOptCompact | kCdxOptCompound)) != (kCdxOptCompact | kCdxOptCompound)) {
    return where.Corrupt("the header does not describe a compact compound index");
  }
  if (tagList) {
    if ((options & kCdxOptTagList) == 0) {
      return where.Corrupt("the first header is not a tag list");
    }
    if (keyLength != kCdxTagNameLength) {
      return where.Corrupt("the tag list has key length " + std::to_string(keyLength) +
                           " instead of 10");
    }
  } else {
    if ((options & kCdxOptTagList) != 0) {
      return where.Corrupt("a tag header is marked as a tag list");
    }
    if (keyLength == 0 || keyLength > kCdxMaxKeyLength) {
      return where.Corrupt("the key length " + std::to_string(keyLength) +
                           " is outside 1-240");
    }
  }
  uint16_t order = CdxGetLE16(in + kOrderAt);
  if (order > 1) return where.Corrupt("the order word is " + std::to_string(order));
  descending = order == 1;
  Status s = ReadExpression(in + kPoolAt, CdxGetLE16(in + kKeyStartAt),
                            CdxGetLE16(in + kKeyLengthAt), "key", where, &keyExpression);
  if (!s.ok()) return s;
  s = ReadExpression(in + kPoolAt, CdxGetLE16(in + kForStartAt), CdxGetLE16(in + kForLengthAt),
                     "FOR", where, &forExpression);
  if (!s.ok()) return s;
  if (!tagList && keyExpression.empty()) return where.Corrupt("the key expression is empty");
  unknownCollation = false;
  for (size_t i = kCollationFrom; i < kOrderAt; ++i) {
    if (in[i] != 0) unknownCollation = true;
  }
  return Status::Ok();
}

}  // namespace xb
