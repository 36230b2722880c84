// Values of expressions on hand-built records: every operator and function, the comparison
// rules with SET EXACT off and on, precedence, index keys and the stored expression text.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ExprTestRecords.h"
#include "Expression.h"

namespace xb::exprtest {
namespace {

std::string Pad(const std::string& s, size_t width) {
  return s + std::string(width - s.size(), ' ');
}

struct TextCase {
  std::string text;
  std::string expected;  // EvalString
  int width;             // width() of a character result; -1 for other types
};

void ExpectTexts(const std::vector<FieldDef>& fields, const std::string& record,
                 const std::vector<TextCase>& cases, uint32_t recno = 1) {
  for (const TextCase& c : cases) {
    auto e = MustCompile(c.text, fields);
    if (!e) continue;
    EXPECT_EQ(e->EvalString(Context(record, recno)), c.expected) << c.text;
    if (c.width >= 0) {
      EXPECT_EQ(e->type(), Expression::kCharacter) << c.text;
      EXPECT_EQ(e->width(), c.width) << c.text;
      EXPECT_EQ(e->EvalCharacter(Context(record, recno)), c.expected) << c.text;
    }
  }
}

struct LogicalCase {
  std::string text;
  bool expected;
};

void ExpectLogical(const std::vector<FieldDef>& fields, const std::string& record,
                   const std::vector<LogicalCase>& cases) {
  for (const LogicalCase& c : cases) {
    auto e = MustCompile(c.text, fields);
    if (!e) continue;
    EXPECT_EQ(e->type(), Expression::kLogical) << c.text;
    EXPECT_EQ(e->EvalLogical(Context(record)), c.expected) << c.text;
    EXPECT_EQ(e->EvalString(Context(record)), c.expected ? ".T." : ".F.") << c.text;
  }
}

TEST(ExpressionTest, CharacterValues) {
  ExpectTexts(TaskFields(), TaskRecord(),
              {
                  {"DATE+TIME", "2024010509:30", 13},
                  {"upper(DESCRIPT)", Pad("CALL DENTIST", 50), 50},
                  {"Lower(descript)", Pad("call dentist", 50), 50},
                  {"upper(PRIORITY)+DATE+TIME", "A2024010509:30", 14},
                  {"UPPER(KEYS)", Pad("HOME CALL", 60), 60},
                  {"trim(DESCRIPT)", "Call dentist", 50},
                  {"rtrim(DESCRIPT)+'|'", "Call dentist|", 51},
                  {"ltrim('  ab ')", "ab ", 5},
                  {"alltrim('  ab ')", "ab", 5},
                  {"substr(DESCRIPT, 6, 7)", "dentist", 7},
                  {"substr(TIME, 4)", "30", 2},
                  {"substr('abc', 0, 2)", "ab", 2},
                  {"substr('abc', 4)", "", 0},
                  {"substr('abc', 2, -1)", "", 0},
                  {"substr('abc', 2, 100)", "bc", 2},
                  {"substr(DATE, len(TIME) - 2, 2)", "24", 2},
                  {"left(DATE, 4)", "2024", 4},
                  {"left('abc', 0)", "", 0},
                  {"left('abc', 9)", "abc", 3},
                  {"right(DATE, 2)", "05", 2},
                  {"right('abc', -1)", "", 0},
                  {"'AB  ' - 'CD'", "ABCD  ", 6},
                  {"'AB  ' - 'CD ' + 'E'", "ABCD   E", 8},
                  {"'A' + 'B' - 'C'", "ABC", 3},
                  {"iif(DONE, 'yes', 'no')", "no ", 3},
                  {"iif(!DONE, 'yes', 'no')", "yes", 3},
                  {"iif(DONE, TIME, trim(DESCRIPT))", Pad("Call dentist", 50), 50},
                  {"[It's] + ' \"q\"'", "It's \"q\"", 8},
                  {"\"\"", "", 0},
                  // Machine collation: Windows-1252 letters keep their case.
                  {"upper('\xE9z')", "\xE9Z", 2},
                  {"lower('\xC9Z')", "\xC9z", 2},
              });
}

// UPPER and LOWER change a-z and A-Z only, whatever the byte's place in the value.
TEST(ExpressionTest, CaseMappingTouchesOnlyAsciiLetters) {
  std::vector<FieldDef> fields = {{"TEXT", 'C', 259, 0, 1}};
  auto upper = MustCompile("upper(TEXT)", fields);
  auto lower = MustCompile("lower(TEXT)", fields);
  ASSERT_TRUE(upper && lower);
  for (int shift = 0; shift < 4; ++shift) {  // every byte at each offset within an 8-byte word
    std::string record(260, ' ');
    for (int b = 0; b < 256; ++b) record[1 + shift + b] = static_cast<char>(b);
    std::string text = record.substr(1);
    std::string up = text, down = text;
    for (char& ch : up) ch = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch;
    for (char& ch : down) ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
    EXPECT_EQ(upper->EvalCharacter(Context(record)), up) << shift;
    EXPECT_EQ(lower->EvalCharacter(Context(record)), down) << shift;
  }
}

TEST(ExpressionTest, StrFormatsLikeXbase) {
  ExpectTexts(TaskFields(), TaskRecord(),
              {
                  {"str(12.5)", "        13", 10},  // 10 wide, no decimals, half away from 0
                  {"str(12.5, 5, 1)", " 12.5", 5},
                  {"str(-3.25, 6, 1)", "  -3.3", 6},
                  {"str(2.675, 4, 2)", "2.68", 4},  // rounds the written digits, not the binary
                  {"str(1234.567, 6, 2)", "1234.6", 6},  // decimals give way first
                  {"str(99.95, 4, 1)", " 100", 4},
                  {"str(123456, 5)", "*****", 5},
                  {"str(-0.001, 5, 2)", " 0.00", 5},  // no "-0.00"
                  {"str(-5, 1)", "*", 1},
                  {"str(len(KEYS), 3)", " 60", 3},
              });
}

TEST(ExpressionTest, NumericValues) {
  ExpectTexts(TaskFields(), TaskRecord(),
              {
                  {"recno()", "         7", -1},
                  {"len(KEYS)", "        60", -1},
                  {"len(trim(KEYS))", "         9", -1},
                  {"val(TIME)", "      9.00", -1},
                  {"val('  -3.5xyz')", "     -3.50", -1},
                  {"val('abc')", "      0.00", -1},
                  {"1+2*3", "         7", -1},
                  {"(1+2)*3", "         9", -1},
                  {"-2*3", "        -6", -1},
                  {"2*-3", "        -6", -1},
                  {"10-2-3", "         5", -1},
                  {"6/2*3", "      9.00", -1},
                  {"12/4/3", "      1.00", -1},
                  {"5/0", "      0.00", -1},
                  {"1.5+2.25", "      3.75", -1},
                  {"1.5*1.5", "      2.25", -1},
                  {"-(1+2)", "        -3", -1},
                  {"+5", "         5", -1},
                  {"123456789012", "123456789012", -1},  // wider than 10 rather than '*'
              },
              7);
  ExpectTexts(TypeFields(), TypeRecord(),
              {
                  {"AMOUNT", "    -12.50", -1},  // a field keeps its own width and decimals
                  {"COUNT", "   42", -1},
                  {"RATE", "   1.125", -1},
                  {"AMOUNT*2", "    -25.00", -1},
                  {"COUNT/4", "     10.50", -1},
                  {"COUNT+RATE", "    43.125", -1},
              });
  Typed blank;
  blank.amount = "";
  blank.count = "";
  ExpectTexts(TypeFields(), TypeRecord(blank),
              {{"AMOUNT", "      0.00", -1}, {"COUNT", "    0", -1}});
}

TEST(ExpressionTest, DateValues) {
  ExpectTexts(TypeFields(), TypeRecord(),
              {
                  {"DUE", "20240229", -1},
                  {"DUE+1", "20240301", -1},
                  {"1+DUE", "20240301", -1},
                  {"DUE+1.9", "20240301", -1},  // whole days only
                  {"DUE-60", "20231231", -1},
                  {"DUE+366", "20250301", -1},
                  {"DUE-DUE", "         0", -1},
                  {"DUE-(DUE-10)", "        10", -1},
                  {"dtos(DUE)", "20240229", 8},
                  {"dtos(START)", "        ", 8},
                  {"START", "        ", -1},
                  {"START+5", "        ", -1},  // an empty date stays empty
                  {"DUE-START", "         0", -1},
              });
  auto due = MustCompile("DUE", TypeFields());
  ASSERT_TRUE(due);
  EXPECT_EQ(due->type(), Expression::kDate);
  EXPECT_EQ(due->EvalNumeric(Context(TypeRecord())), 2460370);  // 2024-02-29
  for (const char* bad : {"20230229", "20241301", "20240100", "2024 1 5", "00000101"}) {
    Typed t;
    t.due = bad;
    EXPECT_EQ(due->EvalString(Context(TypeRecord(t))), "        ") << bad;
    EXPECT_EQ(due->EvalNumeric(Context(TypeRecord(t))), 0) << bad;
  }
}

TEST(ExpressionTest, LogicalValuesAndPrecedence) {
  ExpectLogical(
      TaskFields(), TaskRecord(),
      {
          {".T. .and. .F.", false},
          {".T. .or. .F.", true},
          {".not. .T.", false},
          {"!.F.", true},
          {"not .F.", true},
          {".T. and .F.", false},
          {".F. OR .T.", true},
          {".y.", true},
          {".n.", false},
          {"DONE", false},
          {"!DONE", true},
          {"deleted()", false},
          {"not Deleted()", true},
          {".NOT.DELETED()", true},
          {"PRIORITY = \"A\"", true},
          {"DATE >= \"20240101\" .and. DATE <= \"20241231\"", true},
          {"DATE >= \"20240106\"", false},
          {"(.not.DONE).and.(\"HOME\"$UPPER(KEYS).or.\"WORK\"$UPPER(KEYS))", true},
          {"(DATE >=\"20240105\" and DATE <=\"20240105\").and.(PRIORITY=\"A\").and.(.not.DONE)"
           ".and.(\"HOME\"$UPPER(KEYS).or.\"WORK\"$UPPER(KEYS))",
           true},
          {"\"WORK\"$UPPER(KEYS)", false},
          {"'home' $ KEYS", false},
          {"'' $ KEYS", true},
          // .and. binds tighter than .or.; .not. tighter than both, looser than comparisons.
          {".T. .or. .T. .and. .F.", true},
          {".not. .T. .or. .T.", true},
          {".not. 1 = 2", true},
          {"!.T. = .T.", false},
          {"1+2*3 = 7", true},
          {"-2*3 = -6", true},
          {"'A'+'B' = 'AB'", true},
          {"'B' $ 'A'+'BC'", true},
          {"!DONE .and. PRIORITY = 'A'", true},
          {"2 < 3 = .T.", true},
      });

  Task deleted;
  deleted.deleted = true;
  ExpectLogical(TaskFields(), TaskRecord(deleted),
                {{"deleted()", true}, {"not Deleted()", false}, {"!deleted()", false}});

  // A logical field is true for T, t, Y, y and false for anything else.
  auto done = MustCompile("DONE", TaskFields());
  ASSERT_TRUE(done);
  for (char c : std::string("TtYyFfNn ?")) {
    Task t;
    t.done = c;
    bool expected = c == 'T' || c == 't' || c == 'Y' || c == 'y';
    EXPECT_EQ(done->EvalLogical(Context(TaskRecord(t))), expected) << c;
  }
}

TEST(ExpressionTest, NumericDateAndLogicalComparisons) {
  ExpectLogical(TypeFields(), TypeRecord(),
                {
                    {"1 < 2", true},
                    {"2.5 = 2.50", true},
                    {"AMOUNT < 0", true},
                    {"COUNT == 42", true},
                    {"-1 > -2", true},
                    {"COUNT # 42", false},
                    {"COUNT != 41", true},
                    {"COUNT <> 42", false},
                    {"COUNT >= 42 .and. COUNT <= 42", true},
                    {"DUE > DUE-1", true},
                    {"START < DUE", true},  // the empty date is the smallest
                    {"START = START", true},
                    {"DUE >= START+3", true},
                    {"START+5 = START", true},  // an empty date stays empty, not day 5
                    {"START-5 = START", true},
                    {"FLAG = .T.", true},
                    {"FLAG <> .F.", true},
                    {".F. < .T.", true},
                    {".T. <= .F.", false},
                    {"FLAG == .T.", true},
                });
}

// Character comparison rules, as a table of {expression, result with exact off, with exact on}.
//   exact off: "a = b" compares a over the length of b; an empty b equals anything; a shorter
//     than b is unequal (and smaller when it matches b's start). Trailing blanks count.
//   exact on: trailing blanks are ignored on both sides, then the whole texts compare.
//   "==" compares the full texts, length included, whatever the setting.
//   Ordering is byte-wise unsigned over the shorter length, then by length, with the same
//   prefix rule as "=" when exact is off.
TEST(ExpressionTest, CharacterComparisonRules) {
  struct Case {
    std::string text;
    bool exact_off;
    bool exact_on;
  };
  const std::vector<Case> cases = {
      {"'ABC' = 'AB'", true, false},
      {"'AB' = 'ABC'", false, false},
      {"'AB' = 'AB '", false, true},
      {"'AB ' = 'AB'", true, true},
      {"'AB' = ''", true, false},
      {"'' = ''", true, true},
      {"'' = 'A'", false, false},
      {"'ABC' == 'AB'", false, false},
      {"'AB' == 'AB '", false, false},
      {"'AB' == 'AB'", true, true},
      {"'ABC' <> 'AB'", false, true},
      {"'ABC' # 'ABD'", true, true},
      {"'ABC' != 'AB'", false, true},
      {"'AB' < 'ABC'", true, true},
      {"'ABC' < 'AB'", false, false},
      {"'ABC' > 'AB'", false, true},
      {"'ABC' >= 'AB'", true, true},
      {"'AB' <= 'AB '", true, true},
      {"'AB' >= 'AB '", false, true},
      {"'a' > 'B'", true, true},
      {"'\xE9' > 'z'", true, true},  // unsigned bytes
      {"'ABD' > 'ABC '", true, true},
      {"DATE = '2024'", true, false},
      {"DATE = '20240105'", true, true},
      {"PRIORITY = 'AB'", false, false},
      {"DESCRIPT = 'Call dentist'", true, true},
      {"DESCRIPT == 'Call dentist'", false, false},
  };
  std::string record = TaskRecord();
  for (const Case& c : cases) {
    auto e = MustCompile(c.text, TaskFields());
    if (!e) continue;
    EXPECT_EQ(e->EvalLogical(Context(record, 1, false)), c.exact_off) << c.text << " exact off";
    EXPECT_EQ(e->EvalLogical(Context(record, 1, true)), c.exact_on) << c.text << " exact on";
  }

  // A task without a date never passes a date range: blanks sort below digits.
  Task undated;
  undated.date = "";
  auto range = MustCompile("DATE >= \"19000101\" .and. DATE <= \"20991231\"", TaskFields());
  ASSERT_TRUE(range);
  EXPECT_FALSE(range->EvalLogical(Context(TaskRecord(undated))));
}

std::vector<uint8_t> Key(const Expression& e, const std::string& record) {
  std::vector<uint8_t> key(static_cast<size_t>(e.KeyLength()));
  e.EvalKey(Context(record), key.data());
  return key;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> bytes) {
  std::vector<uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(ExpressionTest, CharacterAndLogicalKeys) {
  auto datetime = MustCompile("DATE+TIME", TaskFields());
  auto descript = MustCompile("upper(DESCRIPT)", TaskFields());
  auto trimmed = MustCompile("trim(DESCRIPT)", TaskFields());
  auto done = MustCompile("DONE", TaskFields());
  ASSERT_TRUE(datetime && descript && trimmed && done);

  std::vector<uint8_t> expected(13);
  std::memcpy(expected.data(), "2024010509:30", 13);
  EXPECT_EQ(Key(*datetime, TaskRecord()), expected);
  EXPECT_EQ(datetime->KeyFill(), 0x20);

  std::string upper = Pad("CALL DENTIST", 50);
  EXPECT_EQ(Key(*descript, TaskRecord()), std::vector<uint8_t>(upper.begin(), upper.end()));
  // A shorter value is padded with blanks to the full key length.
  std::string padded = Pad("Call dentist", 50);
  EXPECT_EQ(trimmed->KeyLength(), 50);
  EXPECT_EQ(Key(*trimmed, TaskRecord()), std::vector<uint8_t>(padded.begin(), padded.end()));

  EXPECT_EQ(done->KeyLength(), 1);
  EXPECT_EQ(done->KeyFill(), 0x20);
  EXPECT_EQ(Key(*done, TaskRecord()), Bytes({'F'}));
  Task finished;
  finished.done = 'T';
  EXPECT_EQ(Key(*done, TaskRecord(finished)), Bytes({'T'}));
  finished.done = '?';
  EXPECT_EQ(Key(*done, TaskRecord(finished)), Bytes({'F'}));
}

TEST(ExpressionTest, NumericAndDateKeys) {
  auto amount = MustCompile("AMOUNT", TypeFields());
  auto negated = MustCompile("-COUNT", TypeFields());
  auto due = MustCompile("DUE", TypeFields());
  ASSERT_TRUE(amount && negated && due);
  EXPECT_EQ(amount->KeyLength(), 8);
  EXPECT_EQ(amount->width(), 8);
  EXPECT_EQ(amount->KeyFill(), 0x00);
  EXPECT_EQ(due->KeyFill(), 0x00);

  struct Case {
    std::string amount;
    std::vector<uint8_t> key;
  };
  const std::vector<Case> cases = {
      {"     12.50", Bytes({0xC0, 0x29, 0, 0, 0, 0, 0, 0})},
      {"     -3.25", Bytes({0x3F, 0xF5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"      0.00", Bytes({0x80, 0, 0, 0, 0, 0, 0, 0})},
      {"          ", Bytes({0x80, 0, 0, 0, 0, 0, 0, 0})},
      {"1000000.00", Bytes({0xC1, 0x2E, 0x84, 0x80, 0, 0, 0, 0})},
      {"     -0.01", Bytes({0x40, 0x7B, 0x85, 0x1E, 0xB8, 0x51, 0xEB, 0x84})},
  };
  for (const Case& c : cases) {
    Typed t;
    t.amount = c.amount;
    EXPECT_EQ(Key(*amount, TypeRecord(t)), c.key) << c.amount;
  }
  Typed zero;
  zero.count = "    0";
  EXPECT_EQ(Key(*negated, TypeRecord(zero)), Bytes({0x80, 0, 0, 0, 0, 0, 0, 0}));  // -0 as +0

  Typed dated;
  dated.due = "20240105";
  EXPECT_EQ(Key(*due, TypeRecord(dated)), Bytes({0xC1, 0x42, 0xC5, 0x4D, 0x80, 0, 0, 0}));
  dated.due = "20000101";
  EXPECT_EQ(due->EvalNumeric(Context(TypeRecord(dated))), 2451545);
  dated.due = "";
  EXPECT_EQ(Key(*due, TypeRecord(dated)), Bytes({0x80, 0, 0, 0, 0, 0, 0, 0}));
}

// Unsigned byte order of numeric keys must be numeric order, for any pair of values.
TEST(ExpressionTest, NumericKeysSortLikeTheirValues) {
  auto amount = MustCompile("VAL(NAME)", TypeFields());
  ASSERT_TRUE(amount);
  std::vector<double> values = {-1e9, -12345.5, -1, -0.5, -0.01, 0, 0.01, 0.5, 1, 2, 1e6, 9e9};
  uint32_t seed = 12345;
  for (int i = 0; i < 200; ++i) {
    seed = seed * 1103515245 + 12345;
    values.push_back((static_cast<int>(seed >> 8) % 2000001 - 1000000) / 100.0);
  }
  std::vector<std::pair<double, std::vector<uint8_t>>> keyed;
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    Typed t;
    t.name = text;
    keyed.emplace_back(v, Key(*amount, TypeRecord(t)));
  }
  for (const auto& [a, ka] : keyed) {
    for (const auto& [b, kb] : keyed) {
      int bytes = std::memcmp(ka.data(), kb.data(), 8);
      EXPECT_EQ(bytes < 0, a < b) << a << " vs " << b;
      EXPECT_EQ(bytes == 0, a == b) << a << " vs " << b;
    }
  }
}

TEST(ExpressionTest, StorageTextDotsTheBareWords) {
  struct Case {
    std::string text;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {"not Deleted()", ".NOT.Deleted()"},
      {".NOT.DELETED()", ".NOT.DELETED()"},
      {"!DELETED()", "!DELETED()"},
      {"NOT   DONE", ".NOT.DONE"},
      {"(DATE >=\"20240305\" and DATE <=\"20240305\")",
       "(DATE >=\"20240305\" .AND.DATE <=\"20240305\")"},
      {"DONE Or !DONE", "DONE .OR.!DONE"},
      {"'not and or' $ KEYS", "'not and or' $ KEYS"},
      {"upper(KEYS)", "upper(KEYS)"},
      {"not(DONE)and(DONE)", ".NOT.(DONE).AND.(DONE)"},
      {"DONE or.T.", "DONE .OR..T."},
  };
  std::string record = TaskRecord();
  for (const Case& c : cases) {
    auto e = MustCompile(c.text, TaskFields());
    if (!e) continue;
    EXPECT_EQ(e->text(), c.text);
    EXPECT_EQ(e->StorageText(), c.stored) << c.text;
    // The stored text must mean the same thing.
    auto stored = MustCompile(e->StorageText(), TaskFields());
    if (!stored) continue;
    EXPECT_EQ(stored->EvalString(Context(record)), e->EvalString(Context(record))) << c.text;
  }
}

TEST(ExpressionTest, FieldNamesAndFunctionsIgnoreCase) {
  ExpectTexts(TaskFields(), TaskRecord(),
              {
                  {"Upper(Descript)", Pad("CALL DENTIST", 50), 50},
                  {"date+time", "2024010509:30", 13},
                  {"SUBSTR(date,1,4)+AllTrim(' x ')", "2024x", 7},
              });
}

TEST(ExpressionTest, MinRecordSizeCoversTheFieldsRead) {
  EXPECT_EQ(MustCompile("DATE+TIME", TaskFields())->MinRecordSize(), 14);
  EXPECT_EQ(MustCompile("PRIORITY", TaskFields())->MinRecordSize(), 136);
  EXPECT_EQ(MustCompile("deleted()", TaskFields())->MinRecordSize(), 1);
}

}  // namespace
}  // namespace xb::exprtest
