#include "DbfHeader.h"

#include <cctype>
#include <cstring>
#include <ctime>

namespace xb {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// '0' is the hidden null-flags field of some tables; it is carried along as raw bytes.
bool KnownType(char t) { return std::strchr("CNFLDMGPIBYT0", t) != nullptr && t != 0; }

bool IsMemoType(char t) { return t == 'M' || t == 'G' || t == 'P'; }

std::string Hex(uint8_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  s += digits[v >> 4];
  s += digits[v & 15];
  return s;
}

}  // namespace

bool DbfHeader::has_memo() const {
  for (const auto& f : fields)
    if (IsMemoType(f.type)) return true;
  return false;
}

Status DbfHeader::Layout(std::vector<FieldDef> fields, DbfHeader* out) {
  if (fields.empty()) return Status::InvalidArgument("a table needs at least one field");
  if (fields.size() > 254) return Status::InvalidArgument("a table can have at most 254 fields");
  DbfHeader h;
  int offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDef& f = fields[i];
    if (f.name.empty() || f.name.size() > 10)
      return Status::InvalidArgument("field name '" + f.name + "' must have 1 to 10 characters");
    for (char& c : f.name) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
        return Status::InvalidArgument("field name '" + f.name + "' may hold only letters, digits and _");
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!std::isalpha(static_cast<unsigned char>(f.name[0])))
      return Status::InvalidArgument("field name '" + f.name + "' must start with a letter");
    for (size_t j = 0; j < i; ++j)
      if (fields[j].name == f.name)
        return Status::InvalidArgument("field name '" + f.name + "' is used twice");
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    switch (f.type) {
      case 'C':
        if (f.width < 1 || f.width > 254)
          return Status::InvalidArgument("character field " + f.name + " needs a width of 1 to 254");
        f.decimals = 0;
        break;
      case 'N':
      case 'F':
        if (f.width < 1 || f.width > 20)
          return Status::InvalidArgument("numeric field " + f.name + " needs a width of 1 to 20");
        if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2))
          return Status::InvalidArgument("numeric field " + f.name + " has too many decimals");
        break;
      case 'L':
        f.width = 1;
        f.decimals = 0;
        break;
      case 'D':
        f.width = 8;
        f.decimals = 0;
        break;
      case 'M':
        f.width = 10;
        f.decimals = 0;
        break;
      default:
        return Status::InvalidArgument(std::string("field type '") + f.type + "' of " + f.name +
                                       " is not supported (C, N, F, L, D, M)");
    }
    f.offset = offset;
    offset += f.width;
  }
  if (offset > 65535) return Status::InvalidArgument("the record is longer than 65535 bytes");
  h.fields = std::move(fields);
  h.version = h.has_memo() ? kFoxProMemo : kPlain;
  h.record_length = static_cast<uint16_t>(offset);
  // 0x0D and one 0x00 after the descriptors, as other FoxPro-style writers do.
  h.header_length = static_cast<uint16_t>(32 + 32 * h.fields.size() + 2);
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  h.year = tm.tm_year + 1900;
  h.month = tm.tm_mon + 1;
  h.day = tm.tm_mday;
  *out = std::move(h);
  return Status::Ok();
}

uint8_t DbfHeader::EncodeYear(int year) {
  int v = year - 1900;
  if (v < 0) v = 0;
  if (v > 255) v = 255;
  return static_cast<uint8_t>(v);
}

int DbfHeader::DecodeYear(uint8_t byte, int current_year) {
  if (byte >= 100) return 1900 + byte;
  // Below 100 the byte may be "year mod 100" or "year - 1900": take the reading that is not in
  // the future.
  return 2000 + byte <= current_year ? 2000 + byte : 1900 + byte;
}

Status DbfHeader::DecodeFrom(const uint8_t* data, uint64_t file_size, const std::string& name,
                             DbfHeader* out) {
  if (file_size < 32 || data == nullptr)
    return Status::Corrupt(name + ": too short for a table header (" + std::to_string(file_size) +
                           " bytes)");
  DbfHeader h;
  h.version = data[0];
  switch (h.version) {
    case 0x03:
    case 0xF5:
    case 0x30:
    case 0x31:
      break;
    case 0x83:
    case 0x8B:
      return Status::Corrupt(name + ": the table's memo file is not an FPT file (version byte " +
                             Hex(h.version) + ")");
    default:
      return Status::Corrupt(name + ": not a table file (version byte " + Hex(h.version) + ")");
  }
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  h.year = DecodeYear(data[1], tm.tm_year + 1900);
  h.month = data[2];
  h.day = data[3];
  h.record_count = Get32(data + 4);
  h.header_length = Get16(data + 8);
  h.record_length = Get16(data + 10);
  h.flags = data[28];
  h.code_page = data[29];
  if (h.header_length < 33)
    return Status::Corrupt(name + ": header length " + std::to_string(h.header_length) +
                           " is too small");
  if (h.header_length > file_size)
    return Status::Corrupt(name + ": header length " + std::to_string(h.header_length) +
                           " is past the end of the file (" + std::to_string(file_size) +
                           " bytes)");
  if (h.record_length < 2)
    return Status::Corrupt(name + ": record length " + std::to_string(h.record_length) +
                           " is too small");

  uint64_t pos = 32;
  int offset = 1;
  bool terminated = false;
  while (pos < h.header_length) {
    if (data[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > h.header_length)
      return Status::Corrupt(name + ": field descriptor at byte " + std::to_string(pos) +
                             " runs past the header");
    if (h.fields.size() >= static_cast<size_t>(kMaxFields))
      return Status::Corrupt(name + ": more than 255 field descriptors");
    const uint8_t* d = data + pos;
    FieldDef f;
    for (int i = 0; i < 11 && d[i] != 0; ++i) {
      unsigned char c = d[i];
      if (c <= 0x20 || c >= 0x7F)
        return Status::Corrupt(name + ": field " + std::to_string(h.fields.size() + 1) +
                               " has an invalid name");
      f.name += static_cast<char>(std::toupper(c));
    }
    if (f.name.empty())
      return Status::Corrupt(name + ": field " + std::to_string(h.fields.size() + 1) +
                             " has no name");
    f.type = static_cast<char>(std::toupper(d[11]));
    if (!KnownType(f.type))
      return Status::Corrupt(name + ": field " + f.name + " has unknown type '" +
                             std::string(1, static_cast<char>(d[11])) + "'");
    f.width = d[16];
    f.decimals = d[17];
    if (f.width == 0)
      return Status::Corrupt(name + ": field " + f.name + " has width 0");
    if (IsMemoType(f.type)) {
      int want = h.binary_memo_pointers() ? 4 : 10;
      if (f.width != want)
        return Status::Corrupt(name + ": memo field " + f.name + " has width " +
                               std::to_string(f.width) + ", expected " + std::to_string(want));
    }
    // Some writers leave the stored displacement 0, so offsets are always computed.
    f.offset = offset;
    offset += f.width;
    if (offset > h.record_length)
      return Status::Corrupt(name + ": field " + f.name + " overruns the record length " +
                             std::to_string(h.record_length));
    h.fields.push_back(std::move(f));
    pos += 32;
  }
  if (!terminated)
    return Status::Corrupt(name + ": the field list has no terminator");
  if (h.fields.empty()) return Status::Corrupt(name + ": the table has no fields");
  if (h.has_memo() && h.version == kPlain)
    return Status::Corrupt(name + ": memo fields in a table marked as having no memo file");
  uint64_t need = static_cast<uint64_t>(h.header_length) +
                  static_cast<uint64_t>(h.record_count) * h.record_length;
  if (need > file_size)
    return Status::Corrupt(name + ": the header counts " + std::to_string(h.record_count) +
                           " records but the file holds only " +
                           std::to_string((file_size - h.header_length) / h.record_length) +
                           " (truncated?)");
  *out = std::move(h);
  return Status::Ok();
}

void DbfHeader::EncodeCountsTo(uint8_t* out) const {
  out[0] = version;
  out[1] = EncodeYear(year);
  out[2] = static_cast<uint8_t>(month);
  out[3] = static_cast<uint8_t>(day);
  Put32(out + 4, record_count);
  Put16(out + 8, header_length);
  Put16(out + 10, record_length);
}

void DbfHeader::EncodeTo(std::vector<uint8_t>* out) const {
  out->assign(header_length, 0);
  uint8_t* p = out->data();
  EncodeCountsTo(p);
  p[28] = flags;
  p[29] = code_page;
  size_t pos = 32;
  for (const auto& f : fields) {
    uint8_t* d = p + pos;
    std::memcpy(d, f.name.data(), f.name.size() < 11 ? f.name.size() : 10);
    d[11] = static_cast<uint8_t>(f.type);
    Put32(d + 12, static_cast<uint32_t>(f.offset));
    d[16] = static_cast<uint8_t>(f.width);
    d[17] = static_cast<uint8_t>(f.decimals);
    pos += 32;
  }
  p[pos] = 0x0D;
}

}  // namespace xb
