#pragma once

// Helpers shared by the compound-index tests: fixture files, a minimal table reader to compute
// expected keys, and an index held in memory.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CdxFile.h"
#include "CdxMemoryFile.h"

namespace cdxtest {

using Bytes = std::vector<uint8_t>;
using Entry = std::pair<std::string, uint32_t>;

inline std::string DataPath(const std::string& name) {
  return std::string(LISTWISE_TEST_DATA) + "/" + name;
}

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Opens `bytes` (shared, so the test sees what the index writes) as an index file.
inline xb::Status OpenShared(std::shared_ptr<Bytes> bytes, bool read_only,
                             std::unique_ptr<xb::CdxFile>* out) {
  return xb::CdxFile::OpenDevice(std::make_unique<xb::CdxMemoryFile>(std::move(bytes), "mem.cdx"),
                                 read_only, out);
}

inline xb::Status OpenCopy(const Bytes& bytes, bool read_only, std::unique_ptr<xb::CdxFile>* out) {
  return OpenShared(std::make_shared<Bytes>(bytes), read_only, out);
}

inline std::vector<Entry> AllEntries(xb::CdxTag* tag, xb::Status* status = nullptr) {
  std::vector<Entry> entries;
  xb::Status s = tag->ForEach([&](std::string_view key, uint32_t recno) {
    entries.emplace_back(std::string(key), recno);
    return true;
  });
  if (status != nullptr) *status = s;
  return entries;
}

// Just enough of a table file to compute index keys: record images and field positions.
class MiniTable {
 public:
  explicit MiniTable(const std::string& path) : data_(ReadAll(path)) {
    if (data_.size() < 32) return;
    count_ = Le32(4);
    header_length_ = Le16(8);
    record_length_ = Le16(10);
    size_t offset = 1;
    for (size_t at = 32; at + 32 <= data_.size() && data_[at] != 0x0D; at += 32) {
      Field f;
      f.name = std::string(reinterpret_cast<const char*>(&data_[at]),
                           strnlen(reinterpret_cast<const char*>(&data_[at]), 11));
      f.type = static_cast<char>(data_[at + 11]);
      f.width = data_[at + 16];
      f.offset = offset;
      offset += f.width;
      fields_.push_back(f);
    }
  }

  size_t count() const { return count_; }
  bool deleted(size_t recno) const { return Record(recno)[0] == '*'; }
  std::string Get(size_t recno, const std::string& field) const {
    for (const Field& f : fields_) {
      if (f.name == field) return std::string(Record(recno) + f.offset, f.width);
    }
    return std::string();
  }

 private:
  struct Field {
    std::string name;
    char type;
    size_t width, offset;
  };
  uint32_t Le32(size_t at) const {
    return data_[at] | (data_[at + 1] << 8) | (data_[at + 2] << 16) | (uint32_t{data_[at + 3]} << 24);
  }
  uint16_t Le16(size_t at) const { return static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8)); }
  const char* Record(size_t recno) const {
    return reinterpret_cast<const char*>(&data_[header_length_ + (recno - 1) * record_length_]);
  }

  Bytes data_;
  size_t count_ = 0, header_length_ = 0, record_length_ = 0;
  std::vector<Field> fields_;
};

// ASCII-only upper case, as the index keys are built.
inline std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// A number as an 8-byte key that sorts in numeric order as unsigned bytes.
inline std::string NumericKey(double value) {
  if (value == 0) value = 0;  // -0 is stored as +0
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  bits = (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = static_cast<char>(bits >> (56 - 8 * i));
  return key;
}

// Julian day number of a yyyymmdd text (0 for a blank date).
inline double JulianDay(const std::string& yyyymmdd) {
  if (yyyymmdd.find_first_not_of(' ') == std::string::npos) return 0;
  int y = std::stoi(yyyymmdd.substr(0, 4)), m = std::stoi(yyyymmdd.substr(4, 2)),
      d = std::stoi(yyyymmdd.substr(6, 2));
  int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

}  // namespace cdxtest
