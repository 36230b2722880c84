// The xb_ calls: thin wrappers that turn C values into engine calls and record each outcome.

#include "xbengine.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "CdxBufferPool.h"
#include "Engine.h"
#include "FieldCodec.h"

using xb::Engine;
using xb::FieldDef;
using xb::Status;
using xb::WorkArea;

namespace {

constexpr const char* kVersionText = "XBENG 2.40.00";

Engine& E() { return Engine::Instance(); }

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

int Fail(Status s) {
  E().Fail(s);
  return 0;
}

// The current area standing on a real record, ready to be changed.
WorkArea* WritableRecord() {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return nullptr;
  if (!wa->AtRecord()) {
    E().Fail(Status::InvalidArgument(wa->table().path() + ": no current record (end of table)"));
    return nullptr;
  }
  return wa;
}

int FieldIndexOrFail(WorkArea* wa, const char* field) {
  int i = wa->table().FieldIndex(field ? std::string_view(field) : std::string_view());
  if (i < 0) E().Fail(Status::InvalidArgument(wa->table().path() + ": no field named '" +
                                               Str(field) + "'"));
  return i;
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// Reads a number written as text. When it has no more decimals than the field, `*text` gets its
// stored form built digit by digit; otherwise `*text` stays empty and `*number` holds its value,
// which the caller rounds to the field.
bool NumericText(const std::string& raw, int decimals, std::string* text, double* number) {
  size_t b = raw.find_first_not_of(' ');
  size_t e = raw.find_last_not_of(' ');
  std::string s = raw.substr(b, e - b + 1);
  xb::FieldCodec::Decimal parsed;
  if (!xb::FieldCodec::ParseDecimal(s, &parsed)) return false;
  *number = std::strtod(s.c_str(), nullptr);
  text->clear();
  if (parsed.fraction.size() > static_cast<size_t>(decimals)) return true;
  *text = xb::FieldCodec::DecimalText(parsed, decimals);
  return true;
}

// Builds the stored bytes of a non-memo field from a value. False with a message when the value
// cannot be stored in the field without changing it.
bool EncodeValue(const FieldDef& f, int kind, const void* value, std::string* out,
                 std::string* error) {
  const size_t width = static_cast<size_t>(f.width);
  switch (f.type) {
    case 'C': {
      if (kind != XB_VAL_STRING) break;
      std::string s = static_cast<const char*>(value);
      s.resize(width, ' ');
      *out = s;
      return true;
    }
    case 'N':
    case 'F': {
      double d = 0;
      if (kind == XB_VAL_DOUBLE) {
        d = *static_cast<const double*>(value);
      } else if (kind == XB_VAL_STRING) {
        std::string s = static_cast<const char*>(value);
        if (IsBlank(s)) {
          *out = std::string(width, ' ');
          return true;
        }
        std::string text;
        if (!NumericText(s, f.decimals, &text, &d)) {
          *error = "'" + s + "' is not a number";
          return false;
        }
        if (!text.empty()) {
          // Digits taken as they are: a double would change numbers with more than 15 digits.
          if (text.size() > width) {
            *error = "the number does not fit the field's width of " + std::to_string(f.width);
            return false;
          }
          *out = std::string(width - text.size(), ' ') + text;
          return true;
        }
      } else {
        break;
      }
      if (!std::isfinite(d)) {
        *error = "the number is not finite";
        return false;
      }
      char buf[400];
      std::snprintf(buf, sizeof buf, "%*.*f", f.width, f.decimals, d);
      if (std::strlen(buf) > width) {
        *error = "the number does not fit the field's width of " + std::to_string(f.width);
        return false;
      }
      *out = buf;
      return true;
    }
    case 'L': {
      bool v;
      if (kind == XB_VAL_LOGICAL) {
        v = *static_cast<const int*>(value) != 0;
      } else if (kind == XB_VAL_STRING) {
        std::string s = static_cast<const char*>(value);
        if (IsBlank(s)) {
          out->assign(1, ' ');
          return true;
        }
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[s[0] == '.' ? 1 : 0])));
        v = c == 'T' || c == 'Y';
        if (!v && c != 'F' && c != 'N') {
          *error = "'" + s + "' is not a logical value";
          return false;
        }
      } else {
        break;
      }
      out->assign(1, v ? 'T' : 'F');
      return true;
    }
    case 'D': {
      if (kind != XB_VAL_STRING) break;
      std::string s = static_cast<const char*>(value);
      if (IsBlank(s)) {
        *out = std::string(8, ' ');
        return true;
      }
      if (!xb::FieldCodec::IsDateText(s)) {
        *error = "'" + s + "' is not a date in the form yyyymmdd";
        return false;
      }
      *out = s;
      return true;
    }
    default:
      *error = std::string("fields of type ") + f.type + " cannot be replaced";
      return false;
  }
  *error = "the value's kind does not suit a field of type " + std::string(1, f.type);
  return false;
}

bool IsMemo(char t) { return t == 'M' || t == 'G' || t == 'P'; }

// Empty memos are the common case; they all share one text that xb_MemDealloc knows not to free.
char g_empty_memo[1] = {0};

// Callers free each memo text at once, so the last freed block is kept and reused by the next
// xb_GetMemo that fits in it. Each block carries its capacity just before the text.
struct MemoBlock {
  size_t capacity;
};
constexpr size_t kMemoHeader = alignof(std::max_align_t) > sizeof(MemoBlock)
                                   ? alignof(std::max_align_t)
                                   : sizeof(MemoBlock);
char* g_spare_memo = nullptr;

size_t MemoCapacity(char* text) {
  return reinterpret_cast<MemoBlock*>(text - kMemoHeader)->capacity;
}

void FreeMemo(char* text) { std::free(text - kMemoHeader); }

char* AllocText(const uint8_t* data, uint64_t length) {
  if (length == 0) return g_empty_memo;
  char* p = nullptr;
  if (g_spare_memo != nullptr && MemoCapacity(g_spare_memo) >= length + 1) {
    p = g_spare_memo;
    g_spare_memo = nullptr;
  } else {
    size_t capacity = std::max<size_t>(length + 1, 1024);
    void* raw = std::malloc(kMemoHeader + capacity);
    if (raw == nullptr) return nullptr;
    static_cast<MemoBlock*>(raw)->capacity = capacity;
    p = static_cast<char*>(raw) + kMemoHeader;
  }
  std::memcpy(p, data, length);
  p[length] = 0;
  return p;
}

}  // namespace

extern "C" {

// ---- Engine-wide -------------------------------------------------------------------------

int xb_Version(char* buffer) {
  if (buffer == nullptr) return 0;
  std::strncpy(buffer, kVersionText, 255);
  buffer[255] = 0;
  return static_cast<int>(std::strlen(buffer));
}

int xb_SetStringType(int type) { return std::exchange(E().settings().string_type, type); }

int xb_ErrorLevel(int level) { return std::exchange(E().settings().error_level, level); }

long xb_SysProp(int property, long value) {
  auto& s = E().settings();
  auto set_flag = [&](bool& flag) {
    long prev = flag ? 1 : 0;
    if (value >= 0) flag = value != 0;
    return prev;
  };
  WorkArea* wa = E().Current();
  switch (property) {
    case 1000: return s.soft_seek ? 1 : 0;
    case 1001: return set_flag(s.soft_seek);
    case 1002: return s.exact ? 1 : 0;
    case 1003: return set_flag(s.exact);
    case 1004: return s.deleted ? 1 : 0;
    case 1005: return set_flag(s.deleted);
    case 1006: return 0;  // queries are always judged on the record as it is now
    case 3000: return wa ? wa->table().indexes().OrderCount() : 0;
    case 65000: {
      long n = 0;
      for (int i = 1; i <= Engine::kMaxAreas; ++i) n += E().Area(i) ? 1 : 0;
      return n;
    }
    case 65002: return Engine::kMaxAreas;
    case 65006: return wa && wa->driver() == XB_DRIVER_NTX ? 1 : 0;
    case 65008: return wa ? wa->table().record_length() : 0;
    case 65012: return 0;  // no variable-length character fields
    default: {
      // Stored properties: a value of -1 reads, any other value sets and returns the old one.
      long dflt = property == 65010 ? 1024 : 0;
      auto it = s.properties.find(property);
      long prev = it == s.properties.end() ? dflt : it->second;
      if (value != -1) s.properties[property] = value;
      return prev;
    }
  }
}

int xb_Error(void) { return static_cast<int>(E().last().code()); }

const char* xb_ErrorText(void) { return E().last().message().c_str(); }

#define XB_SETTER(fn, member, type)          \
  int fn(int value) {                        \
    int prev = static_cast<int>(E().settings().member); \
    E().settings().member = static_cast<type>(value);   \
    return prev;                             \
  }
XB_SETTER(xb_SetCentury, century, bool)
XB_SETTER(xb_SetDateFormat, date_format, int)
XB_SETTER(xb_SetDeleted, deleted, bool)
XB_SETTER(xb_SetExact, exact, bool)
XB_SETTER(xb_SetSoftSeek, soft_seek, bool)
XB_SETTER(xb_SetLockTimeout, lock_timeout, int)
XB_SETTER(xb_SetTurboRead, turbo_read, bool)
#undef XB_SETTER

int xb_SetMemoBlockSize(int size) {
  int prev = E().settings().memo_block_size;
  // 1 to 32 count in units of 512 bytes, larger values are bytes.
  if (size >= 1 && size <= 32)
    E().settings().memo_block_size = size * 512;
  else if (size > 32 && size <= 65535)
    E().settings().memo_block_size = size;
  return prev;
}

// ---- Work areas --------------------------------------------------------------------------

int xb_CreateNew(const char* path, const char* alias, int driver, int field_count) {
  return E().BeginCreate(Str(path), Str(alias), driver, field_count);
}

int xb_CreateField(const char* name, const char* type, int width, int decimals) {
  FieldDef f;
  f.name = Str(name);
  f.type = type && *type ? *type : '?';
  f.width = width;
  f.decimals = decimals;
  return E().AddField(std::move(f)) ? 1 : 0;
}

int xb_CreateExec(void) { return E().ExecCreate() ? 1 : 0; }

int xb_Use(const char* path, const char* alias, int mode, int driver) {
  return E().Open(Str(path), Str(alias), mode, driver);
}

int xb_Select(int area) { return E().Select(area); }

int xb_WorkArea(const char* alias) {
  if (alias == nullptr) return E().current();
  return E().FindAlias(alias);
}

const char* xb_Alias(void) {
  WorkArea* wa = E().Current();
  return wa ? wa->alias().c_str() : "";
}

int xb_Close(int area) { return E().Close(area) ? 1 : 0; }

int xb_CloseAll(void) {
  E().CloseAll();
  // With no table open no tag will be built soon: the kept key buffers go back to the system.
  xb::CdxBufferPool::Release();
  return E().last().ok() ? 1 : 0;
}

// ---- Structure ---------------------------------------------------------------------------

namespace {
const FieldDef* FieldAt(int position) {
  WorkArea* wa = E().Current();
  if (wa == nullptr) return nullptr;
  const auto& f = wa->table().fields();
  if (position < 1 || position > static_cast<int>(f.size())) return nullptr;
  return &f[static_cast<size_t>(position - 1)];
}
}  // namespace

int xb_FieldCount(void) {
  WorkArea* wa = E().Current();
  return wa ? static_cast<int>(wa->table().fields().size()) : 0;
}
const char* xb_FieldName(int position) {
  const FieldDef* f = FieldAt(position);
  return f ? f->name.c_str() : "";
}
char xb_FieldType(int position) {
  const FieldDef* f = FieldAt(position);
  return f ? f->type : 0;
}
int xb_FieldWidth(int position) {
  const FieldDef* f = FieldAt(position);
  return f ? f->width : 0;
}
int xb_FieldDecimals(int position) {
  const FieldDef* f = FieldAt(position);
  return f ? f->decimals : 0;
}
int xb_FieldOffset(int position) {
  const FieldDef* f = FieldAt(position);
  // Counted from 1 at the image's first byte (the deletion mark), so the first field is at 2.
  return f ? f->offset + 1 : 0;
}
int xb_FieldNum(const char* name) {
  WorkArea* wa = E().Current();
  if (wa == nullptr) return 0;
  return wa->table().FieldIndex(Str(name)) + 1;
}
int xb_RecSize(void) {
  WorkArea* wa = E().Current();
  return wa ? wa->table().record_length() : 0;
}

// ---- Records -----------------------------------------------------------------------------

int xb_GetRecord(char* buffer) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr || buffer == nullptr) return 0;
  std::memcpy(buffer, wa->CurrentRecord(), static_cast<size_t>(wa->table().record_length()));
  E().Succeed();
  return 1;
}

int xb_PutRecord(const char* buffer) {
  WorkArea* wa = WritableRecord();
  if (wa == nullptr || buffer == nullptr) return 0;
  xb::Table& t = wa->table();
  // Memo pointers belong to the engine: an image read before a memo changed must not point the
  // record back at the old text, so they are kept as they are now.
  std::string image(buffer, static_cast<size_t>(t.record_length()));
  const uint8_t* now = t.Record(wa->recno());
  for (const auto& f : t.fields())
    if (IsMemo(f.type)) std::memcpy(&image[static_cast<size_t>(f.offset)], now + f.offset,
                                    static_cast<size_t>(f.width));
  Status s = t.WriteRecord(wa->recno(), reinterpret_cast<const uint8_t*>(image.data()));
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_AppendBlank(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  uint32_t recno;
  Status s = wa->table().AppendBlank(&recno);
  if (!s.ok()) return Fail(s);
  wa->GoAppended(recno);
  E().Succeed();
  return 1;
}

int xb_Delete(void) {
  WorkArea* wa = WritableRecord();
  if (wa == nullptr) return 0;
  Status s = wa->table().SetDeletedMark(wa->recno(), true);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Recall(void) {
  WorkArea* wa = WritableRecord();
  if (wa == nullptr) return 0;
  Status s = wa->table().SetDeletedMark(wa->recno(), false);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Deleted(void) {
  WorkArea* wa = E().Current();
  if (wa == nullptr || !wa->AtRecord()) return 0;
  return wa->table().IsDeleted(wa->recno()) ? 1 : 0;
}

int xb_ReplaceMemo(const char* field, const char* data, long length) {
  WorkArea* wa = WritableRecord();
  if (wa == nullptr) return 0;
  int i = FieldIndexOrFail(wa, field);
  if (i < 0) return 0;
  if (length < 0 || (length > 0 && data == nullptr))
    return Fail(Status::InvalidArgument("invalid memo length"));
  Status s = wa->table().WriteMemo(wa->recno(), i, reinterpret_cast<const uint8_t*>(data),
                                   static_cast<uint64_t>(length));
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Replace(const char* field, int kind, const void* value) {
  WorkArea* wa = WritableRecord();
  if (wa == nullptr) return 0;
  int i = FieldIndexOrFail(wa, field);
  if (i < 0) return 0;
  if (value == nullptr) return Fail(Status::InvalidArgument("no value given"));
  const FieldDef& f = wa->table().fields()[static_cast<size_t>(i)];
  if (IsMemo(f.type)) {
    if (kind != XB_VAL_STRING)
      return Fail(Status::InvalidArgument("a memo field takes a text value"));
    const char* text = static_cast<const char*>(value);
    return xb_ReplaceMemo(field, text, static_cast<long>(std::strlen(text)));
  }
  std::string bytes, error;
  if (!EncodeValue(f, kind, value, &bytes, &error))
    return Fail(Status::InvalidArgument(wa->table().path() + ": field " + f.name + ": " + error));
  Status s = wa->table().WriteField(wa->recno(), i, reinterpret_cast<const uint8_t*>(bytes.data()));
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

char* xb_GetMemo(const char* field, long* length) {
  if (length) *length = 0;
  WorkArea* wa = E().RequireCurrent();
  const uint8_t* data = nullptr;
  uint32_t len = 0;
  if (wa != nullptr) {
    int i = FieldIndexOrFail(wa, field);
    if (i >= 0) {
      Status s = wa->table().ReadMemo(wa->recno(), i, &data, &len);
      if (!s.ok()) {
        E().Fail(s);
        data = nullptr;
        len = 0;
      } else {
        E().Succeed();
      }
    }
  }
  char* text = AllocText(data, len);
  if (text == nullptr) {
    E().Fail(Status::IoError("out of memory for a memo of " + std::to_string(len) + " bytes"));
    return AllocText(nullptr, 0);
  }
  if (length) *length = static_cast<long>(len);
  return text;
}

int xb_MemDealloc(char* memo) {
  if (memo == nullptr || memo == g_empty_memo) return 1;
  if (g_spare_memo == nullptr) {
    g_spare_memo = memo;
  } else if (MemoCapacity(memo) > MemoCapacity(g_spare_memo)) {
    FreeMemo(g_spare_memo);
    g_spare_memo = memo;
  } else {
    FreeMemo(memo);
  }
  return 1;
}

long xb_MemoLen(const char* field) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  int i = FieldIndexOrFail(wa, field);
  if (i < 0) return 0;
  const uint8_t* data;
  uint32_t len;
  Status s = wa->table().ReadMemo(wa->recno(), i, &data, &len);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return static_cast<long>(len);
}

int xb_GetField(const char* field, char* buffer, int size) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr || buffer == nullptr || size <= 0) return 0;
  int i = FieldIndexOrFail(wa, field);
  if (i < 0) return 0;
  const FieldDef& f = wa->table().fields()[static_cast<size_t>(i)];
  int n = f.width < size - 1 ? f.width : size - 1;
  std::memcpy(buffer, wa->CurrentRecord() + f.offset, static_cast<size_t>(n));
  buffer[n] = 0;
  E().Succeed();
  return n;
}

// ---- Navigation --------------------------------------------------------------------------

#define XB_NAV(fn, call)                     \
  int fn {                                   \
    WorkArea* wa = E().RequireCurrent();     \
    if (wa == nullptr) return 0;             \
    Status s = wa->call;                     \
    if (!s.ok()) return Fail(s);             \
    E().Succeed();                           \
    return 1;                                \
  }
XB_NAV(xb_GoTop(void), GoTop())
XB_NAV(xb_GoBottom(void), GoBottom())
XB_NAV(xb_Skip(long count), Skip(count))
#undef XB_NAV

int xb_Go(long recno) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  wa->Go(recno);
  E().Succeed();
  return 1;
}

long xb_RecNo(void) {
  WorkArea* wa = E().Current();
  return wa ? static_cast<long>(wa->recno()) : 0;
}

long xb_RecCount(void) {
  WorkArea* wa = E().Current();
  if (wa == nullptr) return 0;
  wa->table().Refresh();
  return static_cast<long>(wa->table().record_count());
}

int xb_BeginRead(void) {
  WorkArea* wa = E().Current();
  if (wa == nullptr) return Fail(Status::NotOpen("no table is open in the current area"));
  Status s = wa->table().BeginRead();
  if (!s.ok()) return Fail(s);
  return 1;
}

void xb_EndRead(void) {
  WorkArea* wa = E().Current();
  if (wa != nullptr) wa->table().End();
}

void xb_SetReadLease(int on) {
  WorkArea* wa = E().Current();
  if (wa != nullptr) wa->table().SetReadLease(on != 0);
}

void xb_ReleaseLeases(void) { xb::Table::ReleaseLeases(); }

void xb_SetLeaseNotice(void (*notice)(void)) { xb::Table::SetLeaseNotice(notice); }

int xb_Bof(void) {
  WorkArea* wa = E().Current();
  return wa ? (wa->bof() ? 1 : 0) : 1;
}

int xb_Eof(void) {
  WorkArea* wa = E().Current();
  return wa ? (wa->eof() ? 1 : 0) : 1;
}

// ---- Locking and durability --------------------------------------------------------------

int xb_Rlock(long recno) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  if (recno <= 0) recno = static_cast<long>(wa->recno());
  if (recno < 1 || static_cast<unsigned long>(recno) > wa->table().record_count())
    return Fail(Status::InvalidArgument("record " + std::to_string(recno) + " does not exist"));
  Status s = wa->table().LockRecord(static_cast<uint32_t>(recno), E().settings().lock_timeout);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Unlock(long recno) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  if (recno <= 0)
    wa->table().UnlockAll();
  else
    wa->table().UnlockRecord(static_cast<uint32_t>(recno));
  E().Succeed();
  return 1;
}

int xb_Commit(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->table().Commit();
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

// ---- Indexes and orders ------------------------------------------------------------------

}  // extern "C"

// Helpers of the calls below return C++ types: they live outside the C linkage block.
namespace {

// Reports progress to the registered window, once per change of the percentage.
xb::IndexSet::Progress ProgressReporter() {
  auto& s = E().settings();
  if (s.gauge_window == 0 || s.progress_sink == nullptr) return nullptr;
  long window = s.gauge_window;
  auto sink = s.progress_sink;
  auto last = std::make_shared<int>(-1);
  return [window, sink, last](int percent) {
    if (percent == *last) return;
    *last = percent;
    sink(window, static_cast<int>(static_cast<uint16_t>(-percent)));
  };
}

xb::IndexSet::Order* OrderAt(int order) {
  WorkArea* wa = E().Current();
  return wa ? wa->table().indexes().GetOrder(order) : nullptr;
}

thread_local std::string g_text;  // texts handed out by the calls below

}  // namespace

extern "C" {

int xb_IndexTag(const char* file, const char* tag, const char* key, int option, int descending,
                const char* condition) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  (void)option;  // only the default index option exists
  if (tag == nullptr || key == nullptr) return Fail(Status::InvalidArgument("no tag name or key"));
  std::string path = Str(file);
  if (!path.empty()) {
    for (char& c : path)
      if (c == '\\') c = '/';
    if (std::filesystem::path(path).extension().empty()) path += ".CDX";
  }
  int order = 0;
  Status s = wa->table().AddTag(path, tag, key, Str(condition), descending != 0,
                                ProgressReporter(), &order);
  wa->OrdersChanged();
  if (!s.ok()) return Fail(s);
  wa->SetOrder(order);
  wa->GoTop();
  E().Succeed();
  return order;
}

int xb_IndexOpen(const char* file) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  std::string path = Str(file);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (std::filesystem::path(path).extension().empty()) path += ".CDX";
  int first = 0;
  Status s = wa->table().OpenIndex(path, &first);
  wa->OrdersChanged();
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return first;
}

int xb_CloseIndexes(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->table().CloseIndexes();
  wa->SetOrder(0);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_SetOrder(int order) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return -1;
  int previous = wa->order();
  Status s = wa->SetOrder(order);
  if (!s.ok()) {
    Fail(s);
    return -1;
  }
  E().Succeed();
  return previous;
}

int xb_IndexOrd(void) {
  WorkArea* wa = E().Current();
  return wa ? wa->order() : 0;
}

int xb_TagArea(const char* tag) {
  WorkArea* wa = E().Current();
  if (wa == nullptr || tag == nullptr) return 0;
  return wa->table().indexes().FindOrder(tag);
}

const char* xb_TagName(int order) {
  auto* o = OrderAt(order);
  return o ? o->name.c_str() : "";
}

const char* xb_IndexName(int order) {
  auto* o = OrderAt(order);
  return o ? o->file_path.c_str() : "";
}

const char* xb_IndexKey(int order) {
  auto* o = OrderAt(order);
  return o ? o->key->text().c_str() : "";
}

const char* xb_IndexFor(int order) {
  auto* o = OrderAt(order);
  return o && o->condition ? o->condition->text().c_str() : "";
}

const char* xb_IndexKeyField(int order) {
  auto* o = OrderAt(order);
  if (o == nullptr) return "";
  std::string key = o->key->text();
  size_t b = key.find_first_not_of(' '), e = key.find_last_not_of(' ');
  if (b == std::string::npos) return "";
  key = key.substr(b, e - b + 1);
  WorkArea* wa = E().Current();
  int i = wa->table().FieldIndex(key);
  if (i < 0) return "";
  return wa->table().fields()[static_cast<size_t>(i)].name.c_str();
}

int xb_KeyData(char* buffer, int size) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr || buffer == nullptr || size <= 0) return 0;
  std::string key = wa->CurrentKey();
  int n = std::min<int>(static_cast<int>(key.size()), size - 1);
  std::memcpy(buffer, key.data(), static_cast<size_t>(n));
  buffer[n] = 0;
  E().Succeed();
  return n;
}

int xb_SetScope(const char* low, const char* high) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->SetScope(Str(low), Str(high));
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Seek(const char* key) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  bool found = false;
  Status s = wa->Seek(Str(key), &found);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return found ? 1 : 0;
}

// ---- Queries and evaluation -------------------------------------------------------------

int xb_Query(const char* expression) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->SetQuery(Str(expression));
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

const char* xb_DBFilter(void) {
  WorkArea* wa = E().Current();
  return wa ? wa->query_text().c_str() : "";
}

long xb_QueryRecCount(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  long count = 0;
  Status s = wa->QueryCount(&count);
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return count;
}

long xb_QueryPosition(long recno) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return -1;
  long position = -1;
  const bool numbered = recno >= 1 && recno <= long{UINT32_MAX};
  Status s = numbered ? wa->PositionOf(static_cast<uint32_t>(recno), &position) : Status::Ok();
  if (!s.ok()) {
    Fail(s);
    return -1;
  }
  E().Succeed();
  return position;
}

}  // extern "C"

// Helpers of the calls below return C++ types: they live outside the C linkage block.
namespace {

// Compiles an expression against the current table, with a message on failure.
std::unique_ptr<xb::Expression> CompileHere(WorkArea* wa, const char* text) {
  std::unique_ptr<xb::Expression> e;
  Status s = xb::Expression::Compile(Str(text), wa->table().fields(), &e);
  if (!s.ok()) {
    E().Fail(s);
    return nullptr;
  }
  return e;
}

xb::EvalContext HereContext(WorkArea* wa) {
  return xb::EvalContext{wa->CurrentRecord(), wa->recno(), E().settings().exact};
}

}  // namespace

extern "C" {

int xb_QueryTest(const char* expression) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  if (expression == nullptr || Str(expression).find_first_not_of(' ') == std::string::npos) {
    E().Succeed();
    return wa->PassesQuery() ? 1 : 0;
  }
  return xb_EvalLogical(expression);
}

int xb_EvalLogical(const char* expression) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  auto e = CompileHere(wa, expression);
  if (!e) return 0;
  if (e->type() != xb::Expression::kLogical)
    return Fail(Status::Syntax("'" + Str(expression) + "' is not a logical expression"));
  E().Succeed();
  return e->EvalLogical(HereContext(wa)) ? 1 : 0;
}

int xb_EvalString(const char* expression, char* buffer, int size) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr || buffer == nullptr || size <= 0) return 0;
  buffer[0] = 0;
  auto e = CompileHere(wa, expression);
  if (!e) return 0;
  std::string text = e->EvalString(HereContext(wa));
  int n = std::min<int>(static_cast<int>(text.size()), size - 1);
  std::memcpy(buffer, text.data(), static_cast<size_t>(n));
  buffer[n] = 0;
  E().Succeed();
  return n;
}

int xb_EvalTest(const char* expression) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  auto e = CompileHere(wa, expression);
  if (!e) return 0;
  E().Succeed();
  switch (e->type()) {
    case xb::Expression::kCharacter: return 'C';
    case xb::Expression::kNumeric: return 'N';
    case xb::Expression::kDate: return 'D';
    case xb::Expression::kLogical: return 'L';
  }
  return 0;
}

// ---- Pack, zap and progress -------------------------------------------------------------

int xb_Pack(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->table().Pack(ProgressReporter());
  wa->OrdersChanged();
  wa->GoTop();
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

int xb_Zap(void) {
  WorkArea* wa = E().RequireCurrent();
  if (wa == nullptr) return 0;
  Status s = wa->table().Zap();
  wa->OrdersChanged();
  wa->GoTop();
  if (!s.ok()) return Fail(s);
  E().Succeed();
  return 1;
}

xb_ProgressSink xb_SetProgressSink(xb_ProgressSink sink) {
  return std::exchange(E().settings().progress_sink, sink);
}

long xb_SetGaugeHook(long window) { return std::exchange(E().settings().gauge_window, window); }

}  // extern "C"
