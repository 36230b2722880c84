// Malformed expressions: each must give a clean Status naming the problem and its position,
// and the limits (nesting depth, value width, working memory) must hold without a crash,
// while long flat expressions of any length still compile.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExprTestRecords.h"
#include "Expression.h"

namespace xb::exprtest {
namespace {

struct ErrorCase {
  std::string text;
  std::string message;  // the whole message, position included
};

void ExpectErrors(const std::vector<FieldDef>& fields, const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    auto kept = MustCompile("DONE", TaskFields());
    Expression* before = kept.get();
    Status s = Expression::Compile(c.text, fields, &kept);
    EXPECT_EQ(s.code(), Status::kSyntax) << c.text;
    EXPECT_EQ(s.message(), c.message) << c.text;
    EXPECT_EQ(kept.get(), before) << "output changed on error: " << c.text;
  }
}

TEST(ExpressionErrorTest, LexicalErrors) {
  ExpectErrors(TaskFields(), {
                                 {"", "Expression is empty at position 1"},
                                 {"  \t ", "Expression is empty at position 1"},
                                 {"'abc", "Unterminated string starting at position 1"},
                                 {"DATE = \"abc", "Unterminated string starting at position 8"},
                                 {"[abc", "Unterminated string starting at position 1"},
                                 {"DONE @ DONE", "Unexpected character '@' at position 6"},
                                 {"DONE \x01", "Unexpected character byte 0x01 at position 6"},
                                 {".", "Unexpected character '.' at position 1"},
                                 {"DONE .and DONE", "Unexpected character '.' at position 6"},
                                 {"DONE .xor. DONE", "Unknown operator '.xor.' at position 6"},
                                 {"1" + std::string(400, '0'), "Number out of range at position 1"},
                             });
}

TEST(ExpressionErrorTest, GrammarErrors) {
  ExpectErrors(
      TaskFields(),
      {
          {"FOO", "Unknown field 'FOO' at position 1"},
          {"DATE + FOO", "Unknown field 'FOO' at position 8"},
          {"NOTE", "Memo field 'NOTE' cannot be used in an expression at position 1"},
          {"upper(note)", "Memo field 'note' cannot be used in an expression at position 7"},
          {"foo(1)", "Unknown function 'foo' at position 1"},
          {"(DONE", "Unclosed '(' at position 1"},
          {"((DONE)", "Unclosed '(' at position 1"},
          {"upper(DATE", "Unclosed '(' at position 6"},
          {"DONE)", "Unmatched ')' at position 5"},
          {"DONE DONE",
           "Expected an operator or the end of the expression but found 'DONE' at position 6"},
          {"DATE =", "Expected a value but the expression ends at position 7"},
          {"1 +* 2", "Expected a value but found '*' at position 4"},
          {"and DONE", "Expected a value but found 'and' at position 1"},
          {"DONE and", "Expected a value but the expression ends at position 9"},
          {"()", "Expected a value but found ')' at position 2"},
          {"upper(DATE DONE)", "Expected ',' or ')' but found 'DONE' at position 12"},
          {"(DONE DONE)", "Expected ')' but found 'DONE' at position 7"},
      });
}

TEST(ExpressionErrorTest, FunctionArguments) {
  ExpectErrors(
      TaskFields(),
      {
          {"upper()", "Function UPPER expects 1 argument, got 0 at position 1"},
          {"substr(DATE)", "Function SUBSTR expects 2 or 3 arguments, got 1 at position 1"},
          {"str(1,2,3,4)", "Function STR expects 1 to 3 arguments, got 4 at position 1"},
          {"deleted(1)", "Function DELETED expects 0 arguments, got 1 at position 1"},
          {"upper(1)", "Argument 1 of UPPER must be character, not numeric at position 7"},
          {"substr(DATE, '1')",
           "Argument 2 of SUBSTR must be numeric, not character at position 14"},
          {"dtos(DATE)", "Argument 1 of DTOS must be date, not character at position 6"},
          {"val(DONE)", "Argument 1 of VAL must be character, not logical at position 5"},
          {"iif(1, 2, 3)", "Argument 1 of IIF must be logical, not numeric at position 5"},
          {"iif(DONE, 1, 'a')",
           "The branches of IIF must have one type, not numeric and character at position 1"},
          {"str(1, DATE)", "Argument 2 of STR must be numeric, not character at position 8"},
          {"str(1, len(KEYS))", "Argument 2 of STR must be a constant number at position 8"},
          {"str(1, 0)", "Argument 2 of STR must be from 1 to 255 at position 8"},
          {"str(1, 256)", "Argument 2 of STR must be from 1 to 255 at position 8"},
          {"str(1, 5, 19)", "Argument 3 of STR must be from 0 to 18 at position 11"},
      });
}

TEST(ExpressionErrorTest, TypeMismatches) {
  ExpectErrors(
      TaskFields(),
      {
          {"DATE + DONE", "Operator '+' cannot combine character and logical at position 6"},
          {"DATE - 1", "Operator '-' cannot combine character and numeric at position 6"},
          {"DONE .and. 1", "Operator '.and.' needs a logical value, not numeric at position 12"},
          {"DATE .or. DONE", "Operator '.or.' needs a logical value, not character at position 1"},
          {"not DATE", "Operator 'not' needs a logical value, not character at position 5"},
          {"!1", "Operator '!' needs a logical value, not numeric at position 2"},
          {"DATE = 1", "Cannot compare character with numeric at position 6"},
          {"DONE < 'T'", "Cannot compare logical with character at position 6"},
          {"1 $ DATE", "Operator '$' needs a character value, not numeric at position 1"},
          {"-DATE", "Unary '-' needs a numeric value, not character at position 2"},
          {"DATE * 2", "Operator '*' needs a numeric value, not character at position 1"},
          {"2 / DONE", "Operator '/' needs a numeric value, not logical at position 5"},
      });
  ExpectErrors(TypeFields(),
               {
                   {"DUE + DUE", "Operator '+' cannot combine date and date at position 5"},
                   {"1 - DUE", "Operator '-' cannot combine numeric and date at position 3"},
                   {"DUE = '20240229'", "Cannot compare date with character at position 5"},
                   {"DUE * 2", "Operator '*' needs a numeric value, not date at position 1"},
               });
}

TEST(ExpressionErrorTest, BadFieldDefinitions) {
  std::vector<FieldDef> fields = {{"SHORTDATE", 'D', 4, 0, 1},
                                  {"NOWIDTH", 'C', 0, 0, 5},
                                  {"FAR", 'C', 10, 0, 65530},
                                  {"COUNTER", 'I', 4, 0, 1}};
  std::unique_ptr<Expression> e;
  for (const char* name : {"SHORTDATE", "NOWIDTH", "FAR"}) {
    Status s = Expression::Compile(name, fields, &e);
    EXPECT_EQ(s.code(), Status::kInvalidArgument) << name;
    EXPECT_NE(s.message().find(name), std::string::npos) << s.message();
  }
  Status s = Expression::Compile("COUNTER", fields, &e);
  EXPECT_EQ(s.message(),
            "Field 'COUNTER' has type 'I', which expressions cannot use at position 1");
  EXPECT_EQ(e, nullptr);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ExpressionErrorTest, NestingIsCappedAtEveryKindOfLevel) {
  const int max = Expression::kMaxDepth;
  const std::string too_deep = "Expression is nested too deeply (more than 200 levels)";
  struct Case {
    std::string ok;       // exactly at the limit
    std::string refused;  // one or many levels beyond it
  };
  const std::vector<Case> cases = {
      {Repeat("(", max) + "DONE" + Repeat(")", max),
       Repeat("(", max + 1) + "DONE" + Repeat(")", max + 1)},
      {Repeat("!", max - 1) + "DONE", Repeat("!", 100000) + "DONE"},
      {Repeat("-", max - 1) + "1", Repeat("-", 100000) + "1"},
      {Repeat("upper(", max - 1) + "DATE" + Repeat(")", max - 1),
       Repeat("upper(", 50000) + "DATE" + Repeat(")", 50000)},
      {".T." + Repeat("=.T.", max - 1), ".T." + Repeat("=.T.", 100000)},
      {"", Repeat("(", 100000)},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Expression> e;
    if (!c.ok.empty()) {
      Status s = Expression::Compile(c.ok, TaskFields(), &e);
      EXPECT_TRUE(s.ok()) << c.ok.substr(0, 40) << ": " << s.ToString();
    }
    Status s = Expression::Compile(c.refused, TaskFields(), &e);
    EXPECT_EQ(s.code(), Status::kSyntax) << c.refused.substr(0, 40);
    EXPECT_NE(s.message().find(too_deep), std::string::npos) << s.message();
  }
}

TEST(ExpressionErrorTest, FlatChainsHaveNoLengthLimit) {
  std::string record = TaskRecord();
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"DONE" + Repeat(".or.DONE", 100000) + ".or.!DONE", ".T."},
      {"!DONE" + Repeat(" and !DONE", 100000), ".T."},
      {"1" + Repeat("+1", 100000), "    100001"},
      {"2" + Repeat("*1", 50000) + Repeat("/1", 50000), "      2.00"},
      // A filter with many key words, as the filter dialog builds it.
      {"(.not.DONE).and.(" + Repeat("\"WORD\"$UPPER(KEYS).or.", 3000) + "\"CALL\"$UPPER(KEYS))",
       ".T."},
  };
  for (const Case& c : cases) {
    auto e = MustCompile(c.text, TaskFields());
    if (!e) continue;
    EXPECT_EQ(e->EvalString(Context(record)), c.expected) << c.text.substr(0, 40);
  }
  auto wide = MustCompile("PRIORITY" + Repeat("+PRIORITY", 9999), TaskFields());
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->width(), 10000);
  EXPECT_EQ(wide->EvalCharacter(Context(record)), std::string(10000, 'A'));
}

TEST(ExpressionErrorTest, ValueWidthAndWorkingMemoryAreCapped) {
  std::unique_ptr<Expression> e;
  // 1093 x 60 bytes passes 65535 at the last '+'.
  std::string too_wide = "KEYS" + Repeat("+KEYS", 1092);
  Status s = Expression::Compile(too_wide, TaskFields(), &e);
  EXPECT_EQ(s.message(), "Character value would be longer than 65535 bytes at position " +
                             std::to_string(too_wide.size() - 4));
  s = Expression::Compile("'" + std::string(70000, 'x') + "'", TaskFields(), &e);
  EXPECT_EQ(s.message(), "Character value would be longer than 65535 bytes at position 1");

  // Each term needs 2 x 65520 bytes (the concatenation and its upper case); 130 of them are
  // more than the 16 MiB one expression may own.
  std::string wide = "KEYS" + Repeat("+KEYS", 1091);
  std::string term = "'x'$upper(" + wide + ")";
  std::string big = term + Repeat(".or." + term, 129);
  s = Expression::Compile(big, TaskFields(), &e);
  EXPECT_EQ(s.code(), Status::kSyntax);
  EXPECT_NE(s.message().find("bytes of working memory"), std::string::npos) << s.message();
  EXPECT_EQ(e, nullptr);
}

}  // namespace
}  // namespace xb::exprtest
