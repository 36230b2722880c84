// xbtool: inspects and edits task tables (DBF with FPT memos) from the command line.
//
// Every command works through the engine's xb_ API; only the header bytes the API does not
// expose (version byte, code page mark, memo block size) are read from the files directly, while
// the engine holds the table open so they match what it decoded. What the API has no call for
// (why an index cannot be used, checking and rebuilding indexes, a tag's key length) comes from
// the engine's classes behind the table the API opened.
//
// Failures print "xbtool: <message>" and exit 1; a malformed command line exits 2.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CsvWriter.h"
#include "Engine.h"
#include "FaultInjection.h"
#include "FieldCodec.h"
#include "FieldList.h"
#include "IndexMaintenance.h"
#include "Table.h"
#include "Windows1252.h"
#include "xbengine.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Thrown by a command to end the program with a message; main() prints it.
struct ToolError {
  int exit_code;
  std::string message;
};

[[noreturn]] void Fail(std::string message) {
  throw ToolError{kExitFailure, std::move(message)};
}
[[noreturn]] void UsageFail(std::string message) {
  throw ToolError{kExitUsage, std::move(message) + "\nTry 'xbtool --help'."};
}

// "what: engine message" for the engine call that just failed.
[[noreturn]] void EngineFail(const std::string& what) {
  std::string text = xb_ErrorText();
  if (text.empty()) text = "the engine reported error " + std::to_string(xb_Error());
  Fail(what + ": " + text);
}

// Messages can quote bytes read from a damaged file (a tag name, a key): anything that is not
// printable UTF-8 is shown as \xNN, so a message never garbles the terminal or its reader.
std::string Printable(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 0;  // of the UTF-8 sequence starting here; 0 = not a valid start
    if (c < 0x80)
      length = (c >= 0x20 && c != 0x7F) || c == '\n' || c == '\t' ? 1 : 0;
    else if (c >= 0xC2 && c <= 0xDF)
      length = 2;
    else if ((c & 0xF0) == 0xE0)
      length = 3;
    else if (c >= 0xF0 && c <= 0xF4)
      length = 4;
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

void Warn(const std::string& message) {
  std::fprintf(stderr, "xbtool: %s\n", Printable(message).c_str());
}

// ---- Files -------------------------------------------------------------------------------

// The engine's own rules for naming a table's files, so the header bytes read here come from the
// files the engine opened: backslashes separate folders, a name without extension gets ".DBF",
// and the memo file has the lower-case extension (or the upper-case one when only that exists).
std::string TablePath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  if (!std::filesystem::path(path).has_extension()) path += ".DBF";
  return path;
}

std::string MemoPath(const std::string& dbf_path) {
  namespace fs = std::filesystem;
  fs::path lower = dbf_path, upper = dbf_path;
  lower.replace_extension(".fpt");
  upper.replace_extension(".FPT");
  std::error_code ec;
  if (!fs::exists(lower, ec) && fs::exists(upper, ec)) return upper.string();
  return lower.string();
}

bool ReadPrefix(const std::string& path, unsigned char* out, size_t n) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
  return in.gcount() == static_cast<std::streamsize>(n);
}

struct HeaderBytes {
  unsigned version = 0;
  unsigned code_page = 0;
};

HeaderBytes ReadHeaderBytes(const std::string& dbf_path) {
  unsigned char h[32];
  if (!ReadPrefix(dbf_path, h, sizeof h))
    Fail(dbf_path + ": cannot read the table header: " + std::strerror(errno));
  return HeaderBytes{h[0], h[29]};
}

unsigned ReadMemoBlockSize(const std::string& fpt_path) {
  unsigned char h[8];
  if (!ReadPrefix(fpt_path, h, sizeof h)) Fail(fpt_path + ": cannot read the memo file header");
  return (static_cast<unsigned>(h[6]) << 8) | h[7];
}

std::string Hex(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

const char* CodePageName(unsigned mark) {
  switch (mark) {
    case 0x00:
      return "none recorded, read as Windows-1252";
    case 0x01:
      return "DOS 437";
    case 0x02:
      return "DOS 850";
    case 0x03:
      return "Windows-1252";
    case 0x64:
      return "DOS 852";
    case 0x65:
      return "DOS 866";
    case 0xC8:
      return "Windows-1250";
    case 0xC9:
      return "Windows-1251";
    default:
      return "unknown";
  }
}

bool IsMemoType(char t) {
  return t == 'M' || t == 'G' || t == 'P';
}

// ---- The open table ----------------------------------------------------------------------

// A table open in one work area for the life of a command. Commands work on one table at a
// time, so its area stays the engine's current one and the xb_ calls act on it. Close() reports
// a failed close; the destructor closes quietly when a command ends early with an error.
class OpenTable {
 public:
  OpenTable(const std::string& path, int mode) : path_(path) {
    area_ = xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX);
    if (area_ == 0) EngineFail("cannot open the table");
    const int n = xb_FieldCount();
    for (int i = 1; i <= n; ++i) {
      xb::FieldCodec::Field f;
      f.name = xb_FieldName(i);
      f.type = xb_FieldType(i);
      f.width = xb_FieldWidth(i);
      f.decimals = xb_FieldDecimals(i);
      fields_.push_back(std::move(f));
      offsets_.push_back(xb_FieldOffset(i) - 1);
    }
  }
  ~OpenTable() {
    if (area_ != 0) xb_Close(area_);
  }
  OpenTable(const OpenTable&) = delete;
  OpenTable& operator=(const OpenTable&) = delete;

  void Close() {
    const int area = area_;
    area_ = 0;
    if (!xb_Close(area)) EngineFail("cannot close the table");
  }

  const std::string& path() const { return path_; }
  const std::vector<xb::FieldCodec::Field>& fields() const { return fields_; }
  int offset(size_t field) const { return offsets_[field]; }
  bool has_memo() const {
    for (const auto& f : fields_)
      if (IsMemoType(f.type)) return true;
    return false;
  }
  int FieldIndex(const std::string& name) const { return xb_FieldNum(name.c_str()) - 1; }
  // The engine's table behind the work area.
  xb::Table& engine_table() const { return xb::Engine::Instance().Area(area_)->table(); }

 private:
  std::string path_;
  int area_ = 0;
  std::vector<xb::FieldCodec::Field> fields_;
  std::vector<int> offsets_;
};

// The raw image of the current record, deletion mark first.
void ReadCurrentImage(std::vector<char>* image) {
  image->resize(static_cast<size_t>(xb_RecSize()));
  if (!xb_GetRecord(image->data())) EngineFail("cannot read record " + std::to_string(xb_RecNo()));
}

std::string FieldNames(const OpenTable& table) {
  std::string names;
  for (const auto& f : table.fields()) names += (names.empty() ? "" : ", ") + f.name;
  return names;
}

// ---- Command line ------------------------------------------------------------------------

struct OptionSpec {
  const char* name;  // "--deleted"
  bool takes_value;
};

struct Invocation {
  std::vector<std::string> args;
  std::map<std::string, std::string> options;
  bool Has(const char* option) const { return options.count(option) != 0; }
};

struct Command {
  const char* name;
  const char* synopsis;
  const char* help;
  size_t min_args;
  size_t max_args;  // SIZE_MAX: any number
  std::vector<OptionSpec> options;
  int (*run)(const Invocation&);
};

// Record numbers are whole numbers from 1; anything else is a typo.
long ParseRecno(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    UsageFail("record number '" + text + "' is not a whole number");
  const long recno = std::stol(text);
  if (recno < 1) UsageFail("record numbers start at 1");
  return recno;
}

// Text from the command line that goes into the table (values, keys, expressions) is UTF-8 and
// is stored in Windows-1252.
std::string ToTableText(const std::string& utf8, const std::string& what) {
  std::string text, problem;
  if (!xb::Windows1252::FromUtf8(utf8, &text, &problem)) Fail(what + " " + problem);
  return text;
}

// An expression or name shown between quotes, with quotes inside doubled as in the CSV dumps.
std::string Quoted(const std::string& stored) {
  std::string out = "\"";
  for (char c : stored) {
    out += c;
    if (c == '"') out += '"';
  }
  return xb::Windows1252::ToUtf8(out + "\"");
}

// ---- Index orders ------------------------------------------------------------------------

// Opens the index file named with --file besides the structural index; its tags get the order
// numbers after the structural index's.
void OpenIndexOption(const Invocation& inv) {
  const auto it = inv.options.find("--file");
  if (it == inv.options.end()) return;
  if (xb_IndexOpen(it->second.c_str()) == 0 && xb_Error() != 0)
    EngineFail("cannot open the index " + it->second);
}

std::string TagNames() {
  std::string names;
  for (int order = 1; *xb_TagName(order) != 0; ++order)
    names += (names.empty() ? "" : ", ") + std::string(xb_TagName(order));
  return names;
}

// The order number of a tag; an unknown tag fails with the reason.
int OrderOfTag(const OpenTable& table, const std::string& table_arg, const std::string& tag) {
  const int order = xb_TagArea(tag.c_str());
  if (order > 0) return order;
  const std::string& problem = table.engine_table().index_problem();
  if (!problem.empty())
    Fail("no tag '" + tag + "' can be used: " + problem + " (xbtool reindex " + table_arg + ")");
  const std::string names = TagNames();
  if (names.empty()) Fail(table.path() + ": no tag named '" + tag + "': the table has no index");
  Fail(table.path() + ": no tag named '" + tag + "' (the tags are " + names + ")");
}

// Puts the area in the order of a tag. The tag is verified first: a damaged one is reported
// instead of being followed to records that do not exist.
void SelectOrder(const OpenTable& table, const std::string& table_arg, const std::string& tag) {
  const int order = OrderOfTag(table, table_arg, tag);
  const xb::Status s = IndexMaintenance::VerifyOrder(table.engine_table(), order);
  if (!s.ok())
    Fail(s.message() + " (xbtool reindex " + table_arg + ")");
  if (xb_SetOrder(order) < 0) EngineFail("cannot use the order of tag " + tag);
}

// ---- info --------------------------------------------------------------------------------

int RunInfo(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  OpenTable table(path, XB_READONLY);
  OpenIndexOption(inv);
  const HeaderBytes header = ReadHeaderBytes(path);
  std::string block_size = "none";
  if (table.has_memo()) block_size = std::to_string(ReadMemoBlockSize(MemoPath(path)));

  const long count = xb_RecCount();
  long deleted = 0;
  for (long r = 1; r <= count; ++r) {
    if (!xb_Go(r)) EngineFail("cannot read record " + std::to_string(r));
    deleted += xb_Deleted() ? 1 : 0;
  }
  std::string out;
  out += "file: " + path + "\n";
  out += "version: " + Hex(header.version) + "\n";
  out += "code page: " + Hex(header.code_page) + " (" + CodePageName(header.code_page) + ")\n";
  out += "records: " + std::to_string(count) + "\n";
  out += "deleted: " + std::to_string(deleted) + "\n";
  out += "record length: " + std::to_string(xb_RecSize()) + "\n";
  out += "memo block size: " + block_size + "\n";
  out += "fields: " + std::to_string(table.fields().size()) + "\n";
  for (const auto& f : table.fields())
    out += f.name + " " + f.type + " " + std::to_string(f.width) + " " +
           std::to_string(f.decimals) + "\n";

  xb::Table& engine = table.engine_table();
  if (!engine.index_problem().empty())
    out += "index: unusable: " + engine.index_problem() + "\n";
  else if (engine.indexes().HasStructural())
    out += "index: " + engine.StructuralIndexPath() + "\n";
  else
    out += "index: none\n";
  xb::IndexSet& indexes = engine.indexes();
  out += "tags: " + std::to_string(indexes.OrderCount()) + "\n";
  for (int n = 1; n <= indexes.OrderCount(); ++n) {
    const xb::IndexSet::Order& o = *indexes.GetOrder(n);
    out += "tag " + std::to_string(n) + " " + o.name + " key " + Quoted(o.key->text()) + " for " +
           Quoted(o.condition ? o.condition->text() : std::string()) +
           (o.descending ? " descending" : " ascending") + (o.unique ? " unique" : "") +
           " length " + std::to_string(o.key->KeyLength()) + " file " + o.file_path + "\n";
  }
  table.Close();
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0)
    Fail(std::string("cannot write the output: ") + std::strerror(errno));
  return 0;
}

// ---- dump --------------------------------------------------------------------------------

int RunDump(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const bool with_deleted = inv.Has("--deleted");
  const bool with_recno = inv.Has("--recno");
  // Read-only: dumping must never change the files, not even the date in the header.
  OpenTable table(path, XB_READONLY);
  const HeaderBytes header = ReadHeaderBytes(path);
  if (header.code_page != 0x00 && header.code_page != 0x03)
    Warn(path + ": the table is marked for code page " + Hex(header.code_page) + " (" +
         CodePageName(header.code_page) + "); its text is read as Windows-1252");
  OpenIndexOption(inv);
  xb_SetDeleted(with_deleted ? 0 : 1);
  std::string order_tag;
  if (inv.Has("--order")) {
    order_tag = inv.options.at("--order");
    SelectOrder(table, inv.args[0], order_tag);
  }
  if (inv.Has("--filter")) {
    const std::string filter = ToTableText(inv.options.at("--filter"), "the filter");
    if (!xb_Query(filter.c_str())) EngineFail("bad filter " + Quoted(filter));
  }

  const auto& fields = table.fields();
  CsvWriter csv(stdout);
  if (with_recno) csv.Field("RECNO");
  if (with_deleted) csv.Field("DELETED");
  for (const auto& f : fields) csv.Field(f.name);
  csv.EndRow();

  // A damaged value does not stop the dump: the rest of the table is still worth having. The cell
  // stays empty, each damage is reported, and the command fails at the end.
  long damaged = 0;
  auto report = [&](long recno, const std::string& field, const std::string& problem) {
    ++damaged;
    Warn(path + ": record " + std::to_string(recno) + ", field " + field + ": " + problem);
  };

  if (!xb_GoTop()) EngineFail("cannot read the table");
  std::string text, problem;
  std::vector<char> image;
  // Every record comes at most once, in any order; a damaged index could otherwise lead round
  // the same records forever.
  std::vector<bool> seen(static_cast<size_t>(xb_RecCount()) + 1, false);
  while (!xb_Eof()) {
    const long recno = xb_RecNo();
    if (recno < 1) Fail(path + ": the table cannot be read");
    if (static_cast<size_t>(recno) >= seen.size()) seen.resize(static_cast<size_t>(recno) + 1);
    if (seen[static_cast<size_t>(recno)])
      Fail(path + ": " + (order_tag.empty() ? "the table" : "the order of tag " + order_tag) +
           " leads to record " + std::to_string(recno) + " twice; the index needs a rebuild");
    seen[static_cast<size_t>(recno)] = true;
    ReadCurrentImage(&image);
    const bool deleted = image[0] == '*';
    if (with_recno) csv.Field(std::to_string(recno));
    if (with_deleted) csv.Field(deleted ? "*" : "");
    for (size_t i = 0; i < fields.size(); ++i) {
      const auto& f = fields[i];
      text.clear();
      if (IsMemoType(f.type)) {
        long length = 0;
        std::unique_ptr<char, int (*)(char*)> memo(xb_GetMemo(f.name.c_str(), &length),
                                                   xb_MemDealloc);
        if (xb_Error() != 0)
          report(recno, f.name, xb_ErrorText());
        else if (memo)
          text.assign(memo.get(), static_cast<size_t>(length));
      } else {
        const std::string_view stored(image.data() + table.offset(i), static_cast<size_t>(f.width));
        if (!xb::FieldCodec::Decode(f, stored, &text, &problem)) report(recno, f.name, problem);
      }
      csv.Field(xb::Windows1252::ToUtf8(text));
    }
    csv.EndRow();
    if (!xb_Skip(1)) EngineFail("cannot read the table past record " + std::to_string(recno));
  }
  std::string error;
  const bool written = csv.Finish(&error);
  table.Close();
  if (!written) Fail(error);
  if (damaged > 0)
    Fail(path + ": " + std::to_string(damaged) + " damaged value" + (damaged == 1 ? "" : "s") +
         " left empty in the dump (see above)");
  return 0;
}

// ---- create ------------------------------------------------------------------------------

int RunCreate(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  std::vector<FieldSpec> specs;
  std::string error;
  if (!FieldList::Parse(inv.args[1], &specs, &error)) Fail("bad field list: " + error);
  std::error_code ec;
  // The engine would replace an existing table; from the command line that is more likely a typo
  // than a wish to lose its records.
  if (std::filesystem::exists(path, ec))
    Fail(path + ": the file already exists; delete it first to replace it");
  if (!xb_CreateNew(path.c_str(), "", XB_DRIVER_FOX, static_cast<int>(specs.size())))
    EngineFail("cannot create the table");
  for (const FieldSpec& f : specs) {
    const char type[2] = {f.type, 0};
    if (!xb_CreateField(f.name.c_str(), type, f.width, f.decimals))
      EngineFail("cannot create the table");
  }
  if (!xb_CreateExec()) EngineFail("cannot create the table");
  if (!xb_Close(0)) EngineFail("cannot close the table");
  return 0;
}

// ---- append ------------------------------------------------------------------------------

struct Assignment {
  int field;           // index into the table's fields
  std::string stored;  // memo text, or the field's stored bytes
};

// Checks and converts every FIELD=VALUE before the record exists, so a bad value appends nothing.
std::vector<Assignment> PrepareValues(const OpenTable& table,
                                      const std::vector<std::string>& assignments,
                                      const char* nothing_done) {
  const auto& fields = table.fields();
  std::vector<Assignment> values;
  for (const std::string& arg : assignments) {
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const int index = table.FieldIndex(name);
    if (index < 0)
      Fail(table.path() + ": no field named '" + name + "' (the fields are " + FieldNames(table) +
           ")");
    const auto& f = fields[static_cast<size_t>(index)];
    for (const Assignment& earlier : values)
      if (earlier.field == index) Fail("field " + f.name + " is given twice");
    if (f.type == 'G' || f.type == 'P')
      Fail("field " + f.name + " of type " + f.type + " cannot be set from the command line");
    std::string text, problem;
    if (!xb::Windows1252::FromUtf8(std::string_view(arg).substr(eq + 1), &text, &problem))
      Fail("the value of " + f.name + " " + problem + "; " + nothing_done);
    Assignment value{index, {}};
    if (f.type == 'M') {
      value.stored = std::move(text);
    } else if (!xb::FieldCodec::Encode(f, text, &value.stored, &problem)) {
      Fail("field " + f.name + ": " + problem + "; " + nothing_done);
    }
    values.push_back(std::move(value));
  }
  return values;
}

// Changes open the table exclusively, or with --shared beside other programs that have it
// open (the program itself, a script).
int ChangeMode(const Invocation& inv) { return inv.Has("--shared") ? XB_SHARED : XB_EXCLUSIVE; }

// Checks every FIELD=VALUE argument's shape.
void CheckAssignments(const std::vector<std::string>& assignments) {
  for (const std::string& arg : assignments) {
    if (arg.empty() || arg[0] == '=' || arg.find('=') == std::string::npos)
      UsageFail("'" + arg + "' is not FIELD=VALUE");
  }
}

// The engine appends blank records and stores images as they are: both hold values only in
// text-coded fields, so other tables are refused before anything changes.
void RequireTextCodedTable(const OpenTable& table, const std::string& path, const char* what) {
  const HeaderBytes header = ReadHeaderBytes(path);
  if (header.version != 0x03 && header.version != 0xF5)
    Fail(path + ": " + what + " writes only tables with version byte 0x03 or 0xF5, not " +
         Hex(header.version));
  for (const auto& f : table.fields())
    if (!xb::FieldCodec::CanEncode(f.type) && !IsMemoType(f.type))
      Fail(path + ": " + what + " cannot write field " + f.name + " of type " + f.type);
}

// Sets the values in the current record: the plain fields in one image, then each memo.
// Returns false (with the engine's message waiting) at the first that fails.
bool StoreValues(const OpenTable& table, const std::vector<Assignment>& values, bool skip_empty_memos) {
  const auto& fields = table.fields();
  std::vector<char> image;
  ReadCurrentImage(&image);
  bool plain = false;
  for (const Assignment& v : values) {
    if (fields[static_cast<size_t>(v.field)].type == 'M') continue;
    std::memcpy(image.data() + table.offset(static_cast<size_t>(v.field)), v.stored.data(),
                v.stored.size());
    plain = true;
  }
  if (plain && !xb_PutRecord(image.data())) return false;
  for (const Assignment& v : values) {
    const auto& f = fields[static_cast<size_t>(v.field)];
    if (f.type != 'M' || (skip_empty_memos && v.stored.empty())) continue;
    if (!xb_ReplaceMemo(f.name.c_str(), v.stored.data(), static_cast<long>(v.stored.size())))
      return false;
  }
  return true;
}

// A change that is on the disk is done: what follows can no longer undo it. Indexes that could
// not take it were set aside (the engine rebuilds them at the next open that has the table to
// itself), and a failure to close is only reported.
void FinishChange(OpenTable& table, const std::string& index_problem_before) {
  const std::string& problem = table.engine_table().index_problem();
  if (!problem.empty() && problem != index_problem_before)
    Warn("the change is stored, but the index could not take it (" + problem +
         "); it is rebuilt when the table is next opened by a program that has it to itself, "
         "or by xbtool reindex");
  try {
    table.Close();
  } catch (const ToolError& e) {
    Warn(e.message + " (the change itself is stored)");
  }
}

int RunAppend(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const std::vector<std::string> assignments(inv.args.begin() + 1, inv.args.end());
  CheckAssignments(assignments);
  OpenTable table(path, ChangeMode(inv));
  RequireTextCodedTable(table, path, "append");
  const std::vector<Assignment> values =
      PrepareValues(table, assignments, "nothing was appended");
  const std::string index_before = table.engine_table().index_problem();
  if (!xb_AppendBlank()) EngineFail("cannot append a record; nothing was appended");
  const long recno = xb_RecNo();
  // From here on the record exists. If it cannot be completed and written to the disk it is
  // taken back, so a failure reported leaves nothing that a second try would double.
  auto abandon = [&](const std::string& what) {
    const std::string message = xb_ErrorText();
    const xb::Status undone = table.engine_table().UndoAppend(static_cast<uint32_t>(recno));
    if (undone.ok() && xb_Commit())
      Fail(path + ": " + what + ": " + message + "; nothing was appended");
    if (undone.ok())
      Fail(path + ": " + what + ": " + message + "; record " + std::to_string(recno) +
           " was taken back, but that could not be written to the disk either: " +
           xb_ErrorText());
    // Another program appended after it: marked deleted, it does not pass for a task.
    const bool marked = xb_Go(recno) && xb_Delete() && xb_Commit();
    Fail(path + ": record " + std::to_string(recno) + " was added but " + what + ": " + message +
         (marked ? "; the record is marked deleted"
                 : "; the record could be neither taken back nor marked deleted"));
  };
  if (!StoreValues(table, values, true)) abandon("its values could not be stored");
  if (!xb_Commit()) abandon("it could not be written to the disk");
  FinishChange(table, index_before);
  std::printf("%ld\n", recno);
  return 0;
}

// ---- edit --------------------------------------------------------------------------------

// Goes to record RECNO of the open table, which must exist. In a shared open the record is
// locked first: the program takes the same lock while the user edits a task.
long GoToRecord(const OpenTable& table, const std::string& text, const Invocation& inv) {
  const long recno = ParseRecno(text);
  const long count = xb_RecCount();
  if (recno > count)
    Fail(table.path() + ": record " + std::to_string(recno) + " does not exist (the table has " +
         std::to_string(count) + " record" + (count == 1 ? ")" : "s)"));
  if (inv.Has("--shared")) {
    xb_SetLockTimeout(5);
    if (!xb_Rlock(recno))
      EngineFail("cannot lock record " + std::to_string(recno) + "; nothing was changed");
  }
  if (!xb_Go(recno)) EngineFail("cannot go to record " + std::to_string(recno));
  return recno;
}

int RunEdit(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const std::vector<std::string> assignments(inv.args.begin() + 2, inv.args.end());
  CheckAssignments(assignments);
  OpenTable table(path, ChangeMode(inv));
  RequireTextCodedTable(table, path, "edit");
  const long recno = GoToRecord(table, inv.args[1], inv);
  const std::vector<Assignment> values = PrepareValues(table, assignments, "nothing was changed");
  const std::string index_before = table.engine_table().index_problem();
  // What the record holds now, to put back when the change cannot be completed.
  std::vector<char> before;
  ReadCurrentImage(&before);
  std::vector<std::pair<std::string, std::string>> old_memos;
  for (const Assignment& v : values) {
    const auto& f = table.fields()[static_cast<size_t>(v.field)];
    if (f.type != 'M') continue;
    long length = 0;
    char* text = xb_GetMemo(f.name.c_str(), &length);
    const bool read = xb_Error() == 0;
    old_memos.emplace_back(f.name, std::string(text, static_cast<size_t>(length)));
    xb_MemDealloc(text);
    if (!read) EngineFail("cannot read the memo " + f.name + " of record " + std::to_string(recno) +
                          "; nothing was changed");
  }
  auto undo = [&](const std::string& what) {
    const std::string message = xb_ErrorText();
    bool restored = true;
    for (const auto& [name, text] : old_memos)
      restored = restored && xb_ReplaceMemo(name.c_str(), text.data(), static_cast<long>(text.size()));
    restored = restored && xb_PutRecord(before.data()) && xb_Commit();
    Fail(path + ": record " + std::to_string(recno) + ": " + what + ": " + message +
         (restored ? "; the record was left as it was"
                   : "; the record could not be put back as it was: " + std::string(xb_ErrorText())));
  };
  if (!StoreValues(table, values, false)) undo("the values could not be stored");
  if (!xb_Commit()) undo("the change could not be written to the disk");
  FinishChange(table, index_before);
  return 0;
}

// ---- delete / recall ---------------------------------------------------------------------

int SetDeletionMark(const Invocation& inv, bool deleted) {
  const std::string path = TablePath(inv.args[0]);
  OpenTable table(path, ChangeMode(inv));
  const long recno = GoToRecord(table, inv.args[1], inv);
  const std::string index_before = table.engine_table().index_problem();
  const bool was_deleted = xb_Deleted() != 0;
  const std::string action = deleted ? "delete" : "recall";
  if (!(deleted ? xb_Delete() : xb_Recall()))
    EngineFail("cannot " + action + " record " + std::to_string(recno) + "; it was left as it was");
  if (!xb_Commit()) {
    const std::string message = xb_ErrorText();
    const bool restored = (was_deleted ? xb_Delete() : xb_Recall()) && xb_Commit();
    Fail(path + ": cannot " + action + " record " + std::to_string(recno) +
         ": the change could not be written to the disk: " + message +
         (restored ? "; the record was left as it was"
                   : "; the record may be left " + std::string(deleted ? "deleted" : "recalled")));
  }
  FinishChange(table, index_before);
  return 0;
}

int RunDelete(const Invocation& inv) {
  return SetDeletionMark(inv, true);
}
int RunRecall(const Invocation& inv) {
  return SetDeletionMark(inv, false);
}

// ---- hold --------------------------------------------------------------------------------

// Waits until `seconds` have passed or standard input reaches its end, whichever comes first.
void WaitForStdinOrTimeout(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
  bool watch_stdin = true;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    const int timeout = static_cast<int>(std::min<long long>(left.count(), 1000));
    if (!watch_stdin) {
      poll(nullptr, 0, timeout);
      continue;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int n = poll(&p, 1, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      watch_stdin = false;
    } else if (n > 0) {
      if (p.revents & POLLNVAL) {
        watch_stdin = false;  // no standard input at all: only the time counts
        continue;
      }
      char buf[256];
      const ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
      if (got == 0) return;
      if (got < 0 && errno != EINTR && errno != EAGAIN) return;
    }
  }
}

int RunHold(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const std::string& mode_text = inv.args[1];
  int mode;
  if (mode_text == "0" || mode_text == "shared") {
    mode = XB_SHARED;
  } else if (mode_text == "1" || mode_text == "readonly") {
    mode = XB_READONLY;
  } else if (mode_text == "2" || mode_text == "exclusive") {
    mode = XB_EXCLUSIVE;
  } else {
    UsageFail("mode '" + mode_text + "' is not 0 (shared), 1 (read-only) or 2 (exclusive)");
  }
  char* end = nullptr;
  const double seconds = std::strtod(inv.args[2].c_str(), &end);
  if (inv.args[2].empty() || *end != 0 || !std::isfinite(seconds) || seconds < 0)
    UsageFail("'" + inv.args[2] + "' is not a number of seconds");

  OpenTable table(path, mode);
  std::printf("held\n");
  std::fflush(stdout);
  WaitForStdinOrTimeout(seconds);
  table.Close();
  return 0;
}

// ---- index -------------------------------------------------------------------------------

int RunIndex(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const std::string& tag = inv.args[1];
  const std::string key = ToTableText(inv.args[2], "the key");
  const std::string condition = inv.args.size() > 3 ? ToTableText(inv.args[3], "the condition")
                                                    : std::string();
  const std::string file = inv.Has("--file") ? inv.options.at("--file") : std::string();
  OpenTable table(path, XB_EXCLUSIVE);
  xb::Table& engine = table.engine_table();
  // A new tag in a structural index the engine could not open would go into a new, empty file
  // in its place, and the tags of the old one would be lost for good.
  std::string target = file;
  for (char& c : target)
    if (c == '\\') c = '/';
  if (!target.empty() && !std::filesystem::path(target).has_extension()) target += ".CDX";
  std::error_code ec;
  if ((target.empty() || target == engine.StructuralIndexPath()) &&
      !engine.index_problem().empty() && std::filesystem::exists(engine.StructuralIndexPath(), ec))
    Fail("the structural index cannot be used (" + engine.index_problem() +
         "), and a new tag would take its place: run 'xbtool reindex " + inv.args[0] +
         "' first, or delete " + engine.StructuralIndexPath() + " to give up its tags");
  const int order = xb_IndexTag(file.c_str(), tag.c_str(), key.c_str(), 0,
                                inv.Has("--descending") ? 1 : 0, condition.c_str());
  if (order == 0) EngineFail("cannot build tag " + tag);
  if (!xb_Commit()) EngineFail("cannot write the index to the disk");
  table.Close();
  std::printf("%d\n", order);
  return 0;
}

// ---- pack / zap --------------------------------------------------------------------------

int RunPackOrZap(const Invocation& inv, bool zap) {
  const std::string path = TablePath(inv.args[0]);
  OpenTable table(path, XB_EXCLUSIVE);
  const std::string index_before = table.engine_table().index_problem();
  if (!(zap ? xb_Zap() : xb_Pack()))
    EngineFail(zap ? "cannot empty the table" : "cannot pack the table");
  // The new files were on the disk before they took the old ones' places: what follows cannot
  // take the pack back.
  const long count = xb_RecCount();
  if (!xb_Commit()) Warn(std::string("cannot write the table to the disk: ") + xb_ErrorText() +
                         (zap ? " (the table is emptied all the same)" : " (the pack itself is done)"));
  FinishChange(table, index_before);
  std::printf("records: %ld\n", count);
  return 0;
}

int RunPack(const Invocation& inv) {
  return RunPackOrZap(inv, false);
}

int RunZap(const Invocation& inv) {
  if (!inv.Has("--yes"))
    UsageFail("zap removes every record of " + inv.args[0] + "; add --yes to confirm");
  return RunPackOrZap(inv, true);
}

// ---- reindex / check ---------------------------------------------------------------------

int RunReindex(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  OpenTable table(path, XB_EXCLUSIVE);
  OpenIndexOption(inv);
  std::string summary;
  const xb::Status s = IndexMaintenance::Rebuild(table.engine_table(), &summary);
  if (!s.ok()) Fail(s.message());
  if (!xb_Commit()) EngineFail("cannot write the index to the disk");
  table.Close();
  std::printf("%s\n", summary.c_str());
  return 0;
}

int RunCheck(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  OpenTable table(path, XB_READONLY);
  OpenIndexOption(inv);
  const IndexMaintenance::CheckReport report =
      IndexMaintenance::Check(table.engine_table(), inv.args[0]);
  table.Close();
  std::string out;
  for (const std::string& line : report.problems) out += Printable(line) + "\n";
  out += Printable(report.summary) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0)
    Fail(std::string("cannot write the output: ") + std::strerror(errno));
  return report.ok ? 0 : kExitFailure;
}

// ---- seek --------------------------------------------------------------------------------

int RunSeek(const Invocation& inv) {
  const std::string path = TablePath(inv.args[0]);
  const std::string& tag = inv.args[1];
  const std::string key = ToTableText(inv.args[2], "the key");
  OpenTable table(path, XB_READONLY);
  OpenIndexOption(inv);
  xb_SetDeleted(inv.Has("--deleted") ? 0 : 1);
  SelectOrder(table, inv.args[0], tag);
  xb_SetSoftSeek(inv.Has("--soft") ? 1 : 0);
  const int found = xb_Seek(key.c_str());
  if (!found && xb_Error() != 0) EngineFail("cannot seek in tag " + tag);
  const long recno = found && !xb_Eof() ? xb_RecNo() : 0;
  table.Close();
  if (recno > 0)
    std::printf("%ld\n", recno);
  else
    std::printf("EOF\n");
  return 0;
}

// ---- Dispatch ----------------------------------------------------------------------------

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"info",
       "FILE.DBF [--file INDEXFILE]",
       "Shows the version byte, code page mark, record count, deleted count, record length, memo\n"
       "block size (\"none\" without memo fields) and the fields, one per line as\n"
       "NAME TYPE WIDTH DECIMALS. Then the structural index as \"index: PATH\",\n"
       "\"index: none\" or \"index: unusable: REASON\", \"tags: N\", and one line per tag in\n"
       "order-number order:\n"
       "  tag N NAME key \"KEY\" for \"FOR\" ascending|descending [unique] length L file PATH\n"
       "where FOR is \"\" for a tag without condition and quotes inside KEY and FOR are doubled.\n"
       "--file also opens the index file INDEXFILE; its tags follow the structural index's.",
       1,
       1,
       {{"--file", true}},
       RunInfo},
      {"dump",
       "FILE.DBF [--order TAG] [--filter EXPR] [--deleted] [--recno] [--file INDEXFILE]",
       "Writes the records as CSV (RFC 4180) in UTF-8 on standard output: a header row of field\n"
       "names, then one row per record. Rows end with LF. Fields holding a comma, a quote, CR or\n"
       "LF are quoted, with quotes doubled. Character fields lose their trailing blanks, numbers\n"
       "and dates their padding; logicals show as T, F or empty; memos are shown in full.\n"
       "Records come in natural order, or with --order in the order of index tag TAG (only the\n"
       "records the tag holds: a tag with a FOR condition leaves out those failing it). --filter\n"
       "keeps the records for which the logical expression EXPR is true. Records marked deleted\n"
       "are left out; --deleted includes them and adds a first column DELETED holding * for\n"
       "those records. --recno adds a first column RECNO with the record number. The table is\n"
       "opened read-only. A damaged value is reported, left empty, and makes the command fail\n"
       "after the dump. The tag is checked before it is followed: a damaged one makes the\n"
       "command fail before anything is written (xbtool reindex repairs it).",
       1,
       1,
       {{"--deleted", false},
        {"--recno", false},
        {"--order", true},
        {"--filter", true},
        {"--file", true}},
       RunDump},
      {"create",
       "FILE.DBF \"NAME TYPE WIDTH [DECIMALS], ...\"",
       "Creates a new table (and its memo file when a field is a memo). Types: C character\n"
       "(width 1-254), N and F numeric (width 1-20), L logical, D date, M memo; L, D and M need\n"
       "no width. Example: \"DATE C 8 0, NOTE M 10 0, DONE L 1 0, PRICE N 8 2\".\n"
       "An existing file is never replaced.",
       2,
       2,
       {},
       RunCreate},
      {"append",
       "FILE.DBF FIELD=VALUE ... [--shared]",
       "Appends one record and prints its number. Values are UTF-8 and stored in Windows-1252;\n"
       "text Windows-1252 cannot hold is refused. Logical values: T, F, Y, N, true, false.\n"
       "Numbers: digits with an optional sign and decimal point. Dates: yyyymmdd. An empty value\n"
       "leaves the field blank. Any bad value or unknown field appends nothing, and so does a\n"
       "failure to store or write the record: a record that cannot be completed is taken back.\n"
       "The table is opened exclusively; with --shared it is opened shared, beside other\n"
       "programs that have it open.",
       1,
       SIZE_MAX,
       {{"--shared", false}},
       RunAppend},
      {"edit",
       "FILE.DBF RECNO FIELD=VALUE ... [--shared]",
       "Sets fields of record RECNO (counted from 1), with values as for append; the other\n"
       "fields keep theirs, and an empty value blanks a field. Any bad value or unknown field\n"
       "changes nothing, and a change that cannot be stored or written is undone. The table is\n"
       "opened exclusively, or shared with --shared.",
       2,
       SIZE_MAX,
       {{"--shared", false}},
       RunEdit},
      {"delete",
       "FILE.DBF RECNO [--shared]",
       "Marks record RECNO (counted from 1) as deleted. A mark that cannot be written to the\n"
       "disk is taken back. The table is opened exclusively, or shared with --shared.",
       2,
       2,
       {{"--shared", false}},
       RunDelete},
      {"recall",
       "FILE.DBF RECNO [--shared]",
       "Clears the deletion mark of record RECNO, undone again when it cannot be written to the\n"
       "disk. The table is opened exclusively, or shared with --shared.",
       2,
       2,
       {{"--shared", false}},
       RunRecall},
      {"hold",
       "FILE.DBF MODE SECONDS",
       "Diagnostic: opens the table in MODE (0 shared, 1 read-only, 2 exclusive), prints \"held\"\n"
       "and keeps it open for SECONDS or until standard input is closed, to see how other\n"
       "programs fare while the table is in use.",
       3,
       3,
       {},
       RunHold},
      {"index",
       "FILE.DBF TAG \"KEY\" [\"FOR\"] [--descending] [--file INDEXFILE]",
       "Builds index tag TAG (1-10 letters, digits or _, starting with a letter) with the key\n"
       "expression KEY and, when given, the logical condition FOR, in the structural index\n"
       "(FILE.cdx, created when missing) or in INDEXFILE. Prints the new tag's order number.\n"
       "Refused while the structural index cannot be used: run reindex first. The table is\n"
       "opened exclusively.",
       3,
       4,
       {{"--descending", false}, {"--file", true}},
       RunIndex},
      {"seek",
       "FILE.DBF TAG KEY [--soft] [--deleted] [--file INDEXFILE]",
       "Looks KEY up in the order of tag TAG and prints the number of the first record whose key\n"
       "starts with KEY, or EOF when there is none. With --soft, a key that is not there finds\n"
       "the first record after it instead (EOF when none follows). Records marked deleted are\n"
       "passed over unless --deleted is given. Exit status 0 whether found or not; 1 for an\n"
       "unknown or damaged tag. The table is opened read-only.",
       3,
       3,
       {{"--soft", false}, {"--deleted", false}, {"--file", true}},
       RunSeek},
      {"pack",
       "FILE.DBF",
       "Removes the records marked deleted (the others are renumbered), rebuilds the indexes and\n"
       "prints \"records: N\", the record count after. The table is opened exclusively.",
       1,
       1,
       {},
       RunPack},
      {"zap",
       "FILE.DBF --yes",
       "Removes every record, empties the indexes and prints \"records: 0\". Nothing is asked;\n"
       "without --yes the command refuses. The table is opened exclusively.",
       1,
       1,
       {{"--yes", false}},
       RunZap},
      {"reindex",
       "FILE.DBF [--file INDEXFILE]",
       "Rebuilds every tag of the structural index (and of INDEXFILE) from the records and prints\n"
       "\"reindex: N tags rebuilt\". A structural index too damaged to be opened is built afresh\n"
       "from the tag definitions that can still be read from it; when they cannot, the command\n"
       "fails and says so. The table is opened exclusively.",
       1,
       1,
       {{"--file", true}},
       RunReindex},
      {"check",
       "FILE.DBF [--file INDEXFILE]",
       "Verifies every tag of the structural index (and of INDEXFILE) against the records: one\n"
       "entry per record whose FOR condition holds and none for the others, each with the key\n"
       "its expression gives, in key order (ties in record-number order), in a sound tree.\n"
       "Then the memo file: every record's memo pointer leads to a memo inside the file, past\n"
       "its header, of a known type and a length that stays in the file; no two memos share a\n"
       "block; the header's next free block lies past every memo.\n"
       "Prints each problem on a line of its own, then one summary line:\n"
       "  check: N tags, M records, ok\n"
       "  check: no index to check                 (the table has no index; exit 0)\n"
       "  check: N problems found; the index needs a rebuild (xbtool reindex FILE)\n"
       "  check: the index cannot be used: REASON (xbtool reindex FILE)\n"
       "A damaged memo file adds \"; K problems found in the memo file PATH\" to the line.\n"
       "Exit status 0 when the index and the memo file hold, 1 otherwise. The table is opened\n"
       "read-only.",
       1,
       1,
       {{"--file", true}},
       RunCheck},
  };
  return kCommands;
}

std::string Indent(const char* text) {
  std::string out = "      ";
  for (const char* p = text; *p; ++p) {
    out += *p;
    if (*p == '\n') out += "      ";
  }
  return out;
}

void PrintHelp(std::FILE* out) {
  std::string text =
      "Usage: xbtool COMMAND FILE.DBF [ARGUMENTS]\n"
      "\n"
      "Inspects and edits xBase tables (DBF files with FPT memo files, text in Windows-1252).\n"
      "A FILE without extension gets \".DBF\".\n"
      "\n"
      "Commands:\n";
  for (const Command& c : Commands()) {
    text += std::string("  ") + c.name + " " + c.synopsis + "\n" + Indent(c.help) + "\n";
  }
  text +=
      "  --help\n"
      "      Shows this text.\n"
      "\n"
      "Expressions (index keys, FOR conditions, filters) use the engine's expression language:\n"
      "fields, \"strings\", numbers, + - * /, = == <> < <= > >= $, .AND. .OR. .NOT. (or and,\n"
      "or, not), functions such as UPPER(), DTOS(), DELETED(). Text given on the command line\n"
      "(values, keys, expressions) is UTF-8 and is converted to Windows-1252.\n"
      "\n"
      "Exit status: 0 on success, 1 when the command fails, 2 for a malformed command line.\n"
      "Messages go to standard error, starting with \"xbtool: \".\n";
  std::fputs(text.c_str(), out);
}

Invocation ParseArguments(const Command& command, int argc, char** argv) {
  Invocation inv;
  bool options_done = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
      continue;
    }
    if (options_done || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      inv.args.push_back(arg);
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& o : command.options)
      if (name == o.name) spec = &o;
    if (spec == nullptr) UsageFail(std::string("'") + command.name + "' has no option " + name);
    std::string value;
    if (spec->takes_value) {
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        UsageFail("option " + name + " needs a value");
      }
    } else if (eq != std::string::npos) {
      UsageFail("option " + name + " takes no value");
    }
    inv.options[name] = value;
  }
  const size_t n = inv.args.size();
  if (n < command.min_args || n > command.max_args)
    UsageFail(std::string("wrong number of arguments; usage: xbtool ") + command.name + " " +
              command.synopsis);
  return inv;
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("xbtool: no command given\n\n", stderr);
    PrintHelp(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return 0;
  }
  for (const Command& command : Commands()) {
    if (name != command.name) continue;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--") == 0) break;
      if (std::strcmp(argv[i], "--help") == 0) {
        std::printf("Usage: xbtool %s %s\n%s\n", command.name, command.synopsis,
                    Indent(command.help).c_str());
        return 0;
      }
    }
    return command.run(ParseArguments(command, argc, argv));
  }
  UsageFail("unknown command '" + name + "'");
}

}  // namespace

int RunCatching(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const ToolError& e) {
    std::fprintf(stderr, "xbtool: %s\n", Printable(e.message).c_str());
    xb_CloseAll();
    return e.exit_code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xbtool: unexpected error: %s\n", e.what());
    xb_CloseAll();
    return kExitFailure;
  }
}

int main(int argc, char** argv) {
  // For tests: the n-th file write, growth, sync or rename fails (see xb::FaultInjection), and
  // the number of such points the command passed is reported at the end.
  const char* fail_at = std::getenv("XBTOOL_TEST_FAIL_IO_AT");
  if (fail_at != nullptr) xb::FaultInjection::Arm(std::strtoull(fail_at, nullptr, 10));
  const int rc = RunCatching(argc, argv);
  if (fail_at != nullptr)
    std::fprintf(stderr, "xbtool: io points passed: %llu\n",
                 static_cast<unsigned long long>(xb::FaultInjection::Passed()));
  return rc;
}
